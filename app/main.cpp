// volmarsim: the window beside its files. Its options (see --help) choose
// another folder of files, another port for one run, a control socket, or
// the headless engine. One copy runs per folder of files; a second start
// raises the running window and ends before it touches either file. Exits
// with 1 when a file could not be written at the end, 2 for a mistake in
// the command line, 3 when the folder of files cannot be made or written
// (before any window shows) or the headless engine cannot run.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QStatusBar>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>

#include "app/command_line.h"
#include "app/data_folder.h"
#include "app/headless.h"
#include "app/main_window.h"
#include "app/quit_signals.h"
#include "app/single_instance.h"
#include "monitor/error_reports.h"
#include "serial/standard_error.h"

namespace {

// Qt's own messages go the way of every other line on standard error.
void ToStandardErrorToo(QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
    const volmar::TPriority priority = Type == QtWarningMsg ? volmar::TPriority::Warning
                                       : Type == QtCriticalMsg || Type == QtFatalMsg
                                           ? volmar::TPriority::Error
                                           : volmar::TPriority::Note;
    volmar::WriteStandardError(qFormatLogMessage(Type, Context, Text).toLocal8Bit().toStdString(),
                               priority);
}

int RunWindow(const volmar::TCommandLine& Line, const volmar::TDataFolder& Folder) {
    volmar::TSingleInstance instance(volmar::InstanceName(Folder.Path));
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
    static_cast<volmar::TMonitorOptions&>(options) = Line.Monitor;
    options.Lab = Line.Lab;
    options.Folder = Folder.Path;
    options.QuitRequested = [&quitRequested] { return quitRequested; };
    volmar::TfrmVolmar window(std::move(options));
    instance.OnRaiseRequest = [&window] { volmar::RaiseWindow(&window); };
    QObject::connect(&window, &volmar::TfrmVolmar::Closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (!quitRequested) {
        // Beside the program the files are where they always were; elsewhere
        // the operator would have to guess.
        if (Folder.PerUser)
            window.statusBar()->showMessage(QStringLiteral("Settings and counters in %1")
                                                .arg(QDir::toNativeSeparators(Folder.Path)));
        if (Line.Duration)
            QTimer::singleShot(static_cast<int>(*Line.Duration * 1000), &window,
                               [&window] { window.close(); });
        running = &window;
        window.show();
        QApplication::exec();
        running = nullptr;
    }
    window.close();
    return window.Monitor().Reports().SaveFailed() ? volmar::kExitSaveFailed : 0;
}

} // namespace

int main(int argc, char** argv) {
    // An output whose reader has gone away fails its writes (EPIPE), and each
    // writer gives up on it; the answers and the files go on.
    std::signal(SIGPIPE, SIG_IGN);
    // Under systemd the journal ranks each line by its prefix.
    volmar::SetJournalPrefixes(volmar::JournalStreamIsStandardError());
    qInstallMessageHandler(ToStandardErrorToo);
    volmar::ChooseRuntimeFolder();
    // Without a window there may be no display, and no GUI application to make.
    const bool noWindow = volmar::NeedsNoWindow(argc, argv);
    // Through shared memory, X11 makes every repaint wait for the X server
    // to finish the one before, and the answers wait with it; the few pixels
    // of a turning drum cost nothing to send over the socket instead.
    if (!noWindow && !qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
    const std::unique_ptr<QCoreApplication> app =
        noWindow ? std::make_unique<QCoreApplication>(argc, argv)
                 : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Volmar Simulator"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VOLMAR_VERSION));
    if (!noWindow) {
        // Lets the desktop match the window with the installed menu entry and icon.
        QGuiApplication::setDesktopFileName(QStringLiteral(VOLMAR_APP_ID));
        QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(VOLMAR_APP_ID)));
    }

    const volmar::TCommandLine line = volmar::ParseCommandLine(QCoreApplication::arguments());
    if (!line.Error.isEmpty()) {
        volmar::ToStandardError(line.Error +
                                QStringLiteral("\nUsage: volmarsim [--help] [options]"));
        return 2;
    }
    if (line.Help || line.Version) {
        std::fputs(qUtf8Printable(line.Help ? line.HelpText
                                            : QStringLiteral("volmarsim " VOLMAR_VERSION "\n")),
                   stdout);
        return 0;
    }

    const volmar::TDataFolder folder =
        volmar::ChooseDataFolder(line.Folder, QCoreApplication::applicationDirPath(),
                                 volmar::PerUserDataFolder());
    // Found out now, not when the files are written at the end.
    if (!folder.Error.isEmpty()) {
        volmar::ToStandardError(folder.Error);
        return volmar::kExitCannotRun;
    }

    return line.Headless ? volmar::RunHeadless(line, folder) : RunWindow(line, folder);
}
