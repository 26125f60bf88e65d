// volmarsim: one copy per user; a second start raises the running window
// and ends before it touches either file. Exits with 1 when a file could
// not be written at the end.
#include <QApplication>
#include <QFileInfo>

#include "app/main_window.h"
#include "app/quit_signals.h"
#include "app/single_instance.h"

int main(int argc, char** argv) {
    volmar::ChooseRuntimeFolder();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Volmar Simulator"));

    volmar::TSingleInstance instance(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    if (!instance.IsFirst()) return 0;

    // The program ends when its window has closed and written its files; an
    // error box closed before the window is shown must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    // Installed before the window exists, so that a signal that comes while
    // a start-up error box is up shuts down the same orderly way.
    bool quitRequested = false;
    volmar::TfrmVolmar* running = nullptr;
    volmar::InstallQuitSignals([&] {
        quitRequested = true;
        // A box waiting for the operator must not hold the shut-down up.
        for (int i = 0; i < 8 && QApplication::activeModalWidget(); ++i)
            QApplication::activeModalWidget()->close();
        if (running) running->close();
    });

    volmar::TWindowOptions options;
    options.QuitRequested = [&quitRequested] { return quitRequested; };
    volmar::TfrmVolmar window(std::move(options));
    instance.OnRaiseRequest = [&window] { volmar::RaiseWindow(&window); };
    QObject::connect(&window, &volmar::TfrmVolmar::Closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (!quitRequested) {
        running = &window;
        window.show();
        QApplication::exec();
        running = nullptr;
    }
    window.close();
    return window.SaveFailed() ? 1 : 0;
}
