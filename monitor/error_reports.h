// Where the engine's failures go. An operator's command may show an error
// box, one at a time; a failure on the line, in a port handler or in a
// deferred command never does, since a box's event loop would take the
// port's next notification inside the handler; and after a quit signal
// nothing waits for the operator at all.
#pragma once

#include <QString>

#include <exception>
#include <functional>

#include "monitor/monitor_view.h"
#include "serial/standard_error.h"

namespace volmar {

// An error's text for the error box, with a port's added detail on a line of its own.
QString ErrorText(const std::exception& Error);
// The same error in one plain sentence, for standard error, the alert and
// a control client: a port's detail alone where it has one.
QString PlainErrorText(const std::exception& Error);

// "volmarsim: Text" on standard error.
void ToStandardError(const QString& Text, TPriority Priority = TPriority::Error);

// Shown as the alert once no one reads standard error any more.
inline constexpr char kStandardErrorLost[] =
    "The reader of standard error has gone away: messages are no longer written there";

class TErrorReports {
public:
    // QuitRequested: true once a quit signal has asked for the shut-down.
    TErrorReports(IMonitorView& View, std::function<bool()> QuitRequested);

    // Runs an operator's command; a failure goes to the error box.
    void Guarded(const std::function<void()>& Handler);
    // Runs a port handler or a deferred command; a failure goes to the alert.
    void GuardedLink(const std::function<void()>& Handler);
    // Runs a save at the shut-down; a failure is reported and remembered.
    void GuardedSave(const std::function<void()>& Save);

    // The box shows the error's own text, standard error its plain sentence.
    void ShowError(const std::exception& Error);
    // Standard error, and the error box.
    void ReportError(const QString& Text);
    // While a box is up, or once a quit signal came, the text goes to the
    // alert instead; a view without boxes also puts it on standard error.
    // Plain, when given, is what is said anywhere but in the box.
    void ShowBox(TBoxKind Kind, const QString& Text, const QString& Plain = QString());
    // The alert and standard error: must be seen, must not wait.
    void ReportQuietly(const QString& Text);
    void ShowAlert(const QString& Text);
    // Shows, once, that standard error has lost its reader; called now and then.
    void WatchStandardError();

    // The problem shown as the alert, empty when there is none.
    const QString& Alert() const { return FAlert; }
    // A file could not be written at the shut-down (it was reported).
    bool SaveFailed() const { return FSaveFailed; }

    // While a remote client's command runs: no box, since it would wait for
    // someone at the window, not for the client; the text goes to the alert.
    void SetQuiet(bool Quiet) { FQuiet = Quiet; }
    // Every problem shown or reported counts; the newest one's text.
    int ReportCount() const { return FReportCount; }
    const QString& LastReport() const { return FLastReport; }

private:
    bool Quitting() const;
    void Report(const QString& BoxText, const QString& Plain);

    IMonitorView& FView;
    std::function<bool()> FQuitRequested;
    QString FAlert;
    bool FBoxUp = false;
    bool FSaveFailed = false;
    bool FQuiet = false;
    bool FStandardErrorLostShown = false;
    int FReportCount = 0;
    QString FLastReport;
};

} // namespace volmar
