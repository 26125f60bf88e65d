// GoogleTest entry with a widget application (the window-raising tests need
// one), and the helper copies that the single-instance tests start.
#include <QApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/single_instance.h"
#include "helper_process.h"

namespace {

using namespace volmar::testing;

int RunHelper(const QString& Mode) {
    volmar::TSingleInstance instance(qEnvironmentVariable(HelperNameVar),
                                     qEnvironmentVariable(HelperFolderVar));
    const bool first = instance.IsFirst();
    if (Mode == QLatin1String(HelperCrash)) {
        // No destructors: the files stay as a crash leaves them.
        ::_exit(first ? HelperFirst : HelperNotFirst);
    }
    if (Mode == QLatin1String(HelperSecond)) return first ? HelperFirst : HelperNotFirst;
    if (Mode == QLatin1String(HelperHold)) {
        if (!first) return HelperNotFirst;
        instance.OnRaiseRequest = [] {
            std::fputs("raised\n", stdout);
            std::fflush(stdout);
            QCoreApplication::exit(HelperFirst);
        };
        std::fputs("ready\n", stdout);
        std::fflush(stdout);
        // Never outlive a test that forgot us.
        QTimer::singleShot(60000, [] { QCoreApplication::exit(2); });
        return QCoreApplication::exec();
    }
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString mode = qEnvironmentVariable(HelperModeVar);
    if (!mode.isEmpty()) return RunHelper(mode);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
