// A main window in a temporary program folder, its COM1 on a virtual line
// and its port on a manual clock; message boxes are recorded, not shown.
#pragma once

#include <QApplication>
#include <QTimer>

#include <functional>
#include <memory>

#include "app/main_window.h"
#include "support/folder_and_line.h"

namespace volmar::testing {

class WindowTest : public FolderAndLineTest {
protected:
    void TearDown() override {
        if (window) window->close();
        window.reset();
        FolderAndLineTest::TearDown();
    }

    TfrmVolmar& Start() {
        TWindowOptions options;
        static_cast<TMonitorOptions&>(options) = Options();
        options.Boxes = {
            [this](QWidget*, const QString& Text) { warnings.push_back(Text.toStdString()); },
            [this](QWidget*, const QString& Text) { errors.push_back(Text.toStdString()); },
            [this](QWidget*, const QString& Text) { infos.push_back(Text.toStdString()); },
            [this](QWidget*, const QString& Text) {
                questions.push_back(Text.toStdString());
                return answerYes;
            },
        };
        window = std::make_unique<TfrmVolmar>(std::move(options));
        Settle();
        return *window;
    }

    TfrmVolmar& StartOnCom1(const std::string& More = "") {
        WriteSettings("[Comms]\nPort=1\n" + More);
        TfrmVolmar& w = Start();
        EXPECT_TRUE(w.Monitor().ComPortPlus().Open());
        return w;
    }

    void Close() {
        window->close();
        window.reset();
    }

    // Runs Command and lets Action work on the modal dialog it opens.
    template <class TDialog>
    bool WhileModal(QAction* Command, const std::function<void(TDialog&)>& Action) {
        bool ran = false;
        auto over = std::make_shared<bool>(false);
        std::function<void()> poll;
        poll = [&, over] {
            if (*over) return;
            auto* dialog = qobject_cast<TDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                QTimer::singleShot(5, poll);
                return;
            }
            ran = true;
            Action(*dialog);
        };
        QTimer::singleShot(0, poll);
        Command->trigger();
        *over = true;
        return ran;
    }

    std::vector<std::string> warnings, errors, infos, questions;
    bool answerYes = true;
    std::unique_ptr<TfrmVolmar> window;
};

} // namespace volmar::testing
