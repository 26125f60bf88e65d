#include "app/debug_memo.h"

#include <QTextBlock>
#include <QTextCursor>

namespace volmar {

TDebugMemo::TDebugMemo(TDebugLog& Log, QPlainTextEdit& Memo) : FLog(Log), FMemo(Memo) {
    FLog.SetObserver(this);
}

TDebugMemo::~TDebugMemo() { FLog.SetObserver(nullptr); }

void TDebugMemo::LineAppended(const std::string& Line) {
    FMemo.appendPlainText(QString::fromLatin1(Line.data(), static_cast<qsizetype>(Line.size())));
}

void TDebugMemo::FirstLineRemoved() {
    QTextCursor cursor(FMemo.document()->firstBlock());
    cursor.select(QTextCursor::BlockUnderCursor);
    cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void TDebugMemo::Cleared() { FMemo.clear(); }

} // namespace volmar
