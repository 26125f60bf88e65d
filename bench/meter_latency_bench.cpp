// The reply latency the machine sees while every meter of the window rolls
// at its fastest speed, beside the same run with the rolling switched off.
// The machine sends "100Ft In" over the virtual line at a steady pace; a
// timer on the UI thread keeps all fifteen meters changing meanwhile.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "app/main_window.h"
#include "latency_stats.h"
#include "serial/device_map.h"
#include "serial/virtual_line.h"

using namespace volmar;
using namespace volmar::bench;

namespace {

constexpr int kExchanges = 1500;
constexpr auto kPace = std::chrono::milliseconds(8);

double CpuSeconds() {
    rusage use{};
    ::getrusage(RUSAGE_SELF, &use);
    return use.ru_utime.tv_sec + use.ru_stime.tv_sec + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

std::vector<double> Run(bool Spin) {
    QTemporaryDir dir;
    const auto line = TVirtualLine::Create(Spin ? "bench-meters-spin" : "bench-meters-still");
    {
        std::ofstream ini(QDir(dir.path()).filePath("VolmarSim.Ini").toStdString());
        ini << "[Devices]\nCOM1=" << line->DevicePath() << "\n[Comms]\nPort=1\n"
            << "[Options]\nBig Meter Spin=" << Spin << "\nSmall Meter Spin=" << Spin << "\n";
    }
    TWindowOptions options;
    options.Folder = dir.path();
    auto window = std::make_unique<TfrmVolmar>(options);
    window->show();
    long blurFrames = 0;
    for (TAWPMeter* meter : window->MachinePage->Meters())
        meter->OnFrameShown = [&blurFrames](TAWPMeter*, int, int Frame) { blurFrames += Frame >= 10; };

    // Every total moves on by a number that changes all of its digits.
    QTimer churn;
    QObject::connect(&churn, &QTimer::timeout, window.get(), [&] {
        for (int i = 1; i <= 10; ++i) AddWrapped(*MeterTotal(window->Monitor().Counters(), i), 11111111);
        window->UpdateMeters(0);
    });
    churn.start(40);

    std::vector<double> us;
    us.reserve(kExchanges);
    std::thread machine([&] {
        // The receiver NAKs while it waits for a first message; drain those.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        line->TakeSent();
        for (int i = 0; i < kExchanges; ++i) {
            const auto start = std::chrono::steady_clock::now();
            line->Send({0x26, 0x26});
            if (!line->WaitSent(1, std::chrono::seconds(5))) break;
            const auto end = std::chrono::steady_clock::now();
            line->TakeSent();
            us.push_back(std::chrono::duration<double, std::micro>(end - start).count());
            std::this_thread::sleep_for(kPace);
        }
        QMetaObject::invokeMethod(qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    QApplication::exec();
    machine.join();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    std::printf("%-26s cpu %3.0f%% of one core over %.1f s, %ld blur frames on the big meters\n",
                Spin ? "15 meters rolling:" : "meters still:", 100.0 * (CpuSeconds() - cpuBefore) / wall,
                wall, blurFrames);
    churn.stop();
    window->close();
    window.reset();
    ClearDevicePaths();
    return us;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Alternating runs, so that whatever else the machine does falls on both.
    std::vector<double> still, spinning;
    for (int round = 0; round < 2; ++round) {
        const std::vector<double> a = Run(false);
        still.insert(still.end(), a.begin(), a.end());
        const std::vector<double> b = Run(true);
        spinning.insert(spinning.end(), b.begin(), b.end());
    }
    const LatencyStats off = Summarise(still);
    const LatencyStats on = Summarise(spinning);
    Print("reply, meters still", off, still.size());
    Print("reply, 15 meters rolling", on, spinning.size());
    std::printf("p99 ratio (rolling / still): %.2f\n", off.P99 > 0 ? on.P99 / off.P99 : 0.0);
    return still.size() == 2 * kExchanges && spinning.size() == 2 * kExchanges ? 0 : 1;
}
