// Mirrors the debug log's lines in the debug panel's memo.
#pragma once

#include <QPlainTextEdit>

#include "interpret/logs.h"

namespace volmar {

class TDebugMemo : public IDebugLogObserver {
public:
    TDebugMemo(TDebugLog& Log, QPlainTextEdit& Memo);
    ~TDebugMemo() override;
    void LineAppended(const std::string& Line) override;
    void FirstLineRemoved() override;
    void Cleared() override;

private:
    TDebugLog& FLog;
    QPlainTextEdit& FMemo;
};

} // namespace volmar
