#include "monitor/error_reports.h"

#include "serial/port_errors.h"
#include "serial/standard_error.h"

namespace volmar {

void ToStandardError(const QString& Text, TPriority Priority) {
    WriteStandardError(("volmarsim: " + Text.toLocal8Bit()).toStdString(), Priority);
}

QString ErrorText(const std::exception& Error) {
    QString text = QString::fromLocal8Bit(Error.what());
    // A port's failure to open says, on a line of its own, what to do.
    if (const auto* port = dynamic_cast<const EPortException*>(&Error);
        port && !port->Detail().empty())
        text += QLatin1Char('\n') + QString::fromLocal8Bit(port->Detail().c_str());
    return text;
}

QString PlainErrorText(const std::exception& Error) {
    const auto* port = dynamic_cast<const EPortException*>(&Error);
    if (!port) return QString::fromLocal8Bit(Error.what());
    if (!port->Detail().empty()) return QString::fromLocal8Bit(port->Detail().c_str());
    // These messages carry the component's internal code.
    switch (port->Code()) {
    case EBadId::kCode: return QStringLiteral("The serial port does not exist.");
    case ECommNotOpen::kCode: return QStringLiteral("The serial port is not open.");
    case EAlreadyOpen::kCode: return QStringLiteral("The serial port is in use by another program.");
    default: return QString::fromLocal8Bit(Error.what());
    }
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
        ReportQuietly(PlainErrorText(Error));
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

void TErrorReports::ShowError(const std::exception& Error) {
    Report(ErrorText(Error), PlainErrorText(Error));
}

void TErrorReports::ReportError(const QString& Text) { Report(Text, Text); }

void TErrorReports::Report(const QString& BoxText, const QString& Plain) {
    ToStandardError(Plain);
    ShowBox(bkError, BoxText, Plain);
}

void TErrorReports::ShowBox(TBoxKind Kind, const QString& Text, const QString& Plain) {
    const QString& plain = Plain.isEmpty() ? Text : Plain;
    ++FReportCount;
    FLastReport = plain;
    if (FBoxUp || FQuiet || Quitting()) {
        ShowAlert(plain);
        return;
    }
    FBoxUp = true;
    const bool shown = FView.ShowBox(Kind, Text);
    FBoxUp = false;
    if (shown) return;
    // An error is on standard error already.
    if (Kind != bkError)
        ToStandardError(plain, Kind == bkWarning ? TPriority::Warning : TPriority::Note);
    ShowAlert(plain);
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
