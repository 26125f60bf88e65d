#include "monitor/error_reports.h"

#include "serial/port_errors.h"
#include "serial/standard_error.h"

namespace volmar {

void ToStandardError(const QString& Text) {
    WriteStandardError(("volmarsim: " + Text.toLocal8Bit()).toStdString());
}

QString ErrorText(const std::exception& Error) {
    QString text = QString::fromLocal8Bit(Error.what());
    // A port's failure to open says, on a line of its own, what to do.
    if (const auto* port = dynamic_cast<const EPortException*>(&Error);
        port && !port->Detail().empty())
        text += QLatin1Char('\n') + QString::fromLocal8Bit(port->Detail().c_str());
    return text;
}

TErrorReports::TErrorReports(IMonitorView& View, std::function<bool()> QuitRequested)
    : FView(View), FQuitRequested(std::move(QuitRequested)) {}

bool TErrorReports::Quitting() const { return FQuitRequested && FQuitRequested(); }

void TErrorReports::Guarded(const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (const std::exception& Error) {
        ShowError(Error);
    }
}

void TErrorReports::GuardedLink(const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (const std::exception& Error) {
        ReportQuietly(ErrorText(Error));
    }
}

void TErrorReports::GuardedSave(const std::function<void()>& Save) {
    try {
        Save();
    } catch (const std::exception& Error) {
        FSaveFailed = true;
        ShowError(Error);
    }
}

void TErrorReports::ShowError(const std::exception& Error) { ReportError(ErrorText(Error)); }

void TErrorReports::ReportError(const QString& Text) {
    ToStandardError(Text);
    ShowBox(bkError, Text);
}

void TErrorReports::ShowBox(TBoxKind Kind, const QString& Text) {
    ++FReportCount;
    FLastReport = Text;
    if (FBoxUp || FQuiet || Quitting()) {
        ShowAlert(Text);
        return;
    }
    FBoxUp = true;
    const bool shown = FView.ShowBox(Kind, Text);
    FBoxUp = false;
    if (!shown) ShowAlert(Text);
}

void TErrorReports::ReportQuietly(const QString& Text) {
    // A machine that keeps failing must not flood standard error: the
    // same failure again is only shown.
    if (Text != FAlert) ToStandardError(Text);
    ++FReportCount;
    FLastReport = Text;
    ShowAlert(Text);
}

void TErrorReports::ShowAlert(const QString& Text) {
    FAlert = Text;
    FView.ShowAlert(Text);
}

void TErrorReports::WatchStandardError() {
    if (FStandardErrorLostShown || !StandardErrorLost()) return;
    FStandardErrorLostShown = true;
    ReportQuietly(QString::fromLatin1(kStandardErrorLost));
}

} // namespace volmar
