// volmarsim [--folder DIR]: one copy per folder of files; a second start
// raises the running window and ends before it touches either file. Exits
// with 1 when a file could not be written at the end, 2 for a mistake in
// the command line.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QStatusBar>

#include <cstdio>

#include "app/data_folder.h"
#include "app/main_window.h"
#include "app/quit_signals.h"
#include "app/single_instance.h"

int main(int argc, char** argv) {
    volmar::ChooseRuntimeFolder();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Volmar Simulator"));
    // Lets the desktop match the window with the installed menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(VOLMAR_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(VOLMAR_APP_ID)));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays the monitoring unit a gaming machine reports to."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption folderOption(
        QStringLiteral("folder"),
        QStringLiteral("Keeps the settings and counters files in <dir> (made when missing)."),
        QStringLiteral("dir"));
    parser.addOption(folderOption);
    if (!parser.parse(QCoreApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
        const QString what = parser.errorText().isEmpty()
                                 ? QStringLiteral("unexpected argument ") +
                                       parser.positionalArguments().constFirst()
                                 : parser.errorText();
        std::fprintf(stderr, "volmarsim: %s\n", qUtf8Printable(what));
        return 2;
    }
    if (parser.isSet(help)) parser.showHelp(0);

    const volmar::TDataFolder folder =
        volmar::ChooseDataFolder(parser.value(folderOption), QCoreApplication::applicationDirPath(),
                                 volmar::PerUserDataFolder());
    // The window reports each file it then cannot write.
    if (!folder.Error.isEmpty())
        std::fprintf(stderr, "volmarsim: %s\n", qUtf8Printable(folder.Error));

    volmar::TSingleInstance instance(volmar::InstanceName(folder.Path));
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
    options.Folder = folder.Path;
    options.QuitRequested = [&quitRequested] { return quitRequested; };
    volmar::TfrmVolmar window(std::move(options));
    instance.OnRaiseRequest = [&window] { volmar::RaiseWindow(&window); };
    QObject::connect(&window, &volmar::TfrmVolmar::Closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (!quitRequested) {
        // Beside the program the files are where they always were; elsewhere
        // the operator would have to guess.
        if (folder.PerUser)
            window.statusBar()->showMessage(QStringLiteral("Settings and counters in %1")
                                                .arg(QDir::toNativeSeparators(folder.Path)));
        running = &window;
        window.show();
        QApplication::exec();
        running = nullptr;
    }
    window.close();
    return window.Monitor().Reports().SaveFailed() ? 1 : 0;
}
