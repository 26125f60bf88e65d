// volmarsim: one copy per user; a second start raises the running window
// and ends before it touches either file.
#include <QApplication>
#include <QFileInfo>

#include "app/main_window.h"
#include "app/quit_signals.h"
#include "app/single_instance.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Volmar Simulator"));
    QApplication::setApplicationDisplayName(QStringLiteral("Volmar Simulator"));

    volmar::TSingleInstance instance(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    if (!instance.IsFirst()) return 0;

    volmar::TfrmVolmar window;
    instance.OnRaiseRequest = [&window] { volmar::RaiseWindow(&window); };
    volmar::InstallQuitSignals([&window] {
        // A message box waiting for the operator must not hold the shut-down up.
        for (int i = 0; i < 8 && QApplication::activeModalWidget(); ++i) QApplication::activeModalWidget()->close();
        window.close();
    });
    window.show();
    return QApplication::exec();
}
