// Where the window's failures go. An operator's command may show an error
// box, one at a time; a failure on the line, in a port handler or in a
// deferred command never does, since a box's event loop would take the
// port's next notification inside the handler; and after a quit signal
// nothing waits for the operator at all.
#include <QStatusBar>

#include <cstdio>

#include "app/main_window.h"

namespace volmar {

namespace {
void ToStandardError(const QString& Text) {
    std::fprintf(stderr, "volmarsim: %s\n", Text.toLocal8Bit().constData());
    std::fflush(stderr);
}
} // namespace

bool TfrmVolmar::Quitting() const { return FOptions.QuitRequested && FOptions.QuitRequested(); }

void TfrmVolmar::Guarded(const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (const std::exception& Error) {
        ShowError(Error);
    }
}

QString ErrorText(const std::exception& Error) {
    QString text = QString::fromLocal8Bit(Error.what());
    // A port's failure to open says, on a line of its own, what to do.
    if (const auto* port = dynamic_cast<const EPortException*>(&Error); port && !port->Detail().empty())
        text += QLatin1Char('\n') + QString::fromLocal8Bit(port->Detail().c_str());
    return text;
}

void TfrmVolmar::ShowError(const std::exception& Error) { ReportError(ErrorText(Error)); }

void TfrmVolmar::ReportError(const QString& Text) {
    ToStandardError(Text);
    ShowBox(FOptions.Boxes.Error, Text);
}

void TfrmVolmar::ShowBox(const std::function<void(QWidget*, const QString&)>& Box,
                         const QString& Text) {
    if (FBoxUp || Quitting() || !Box) {
        ShowAlert(Text);
        return;
    }
    FBoxUp = true;
    Box(this, Text);
    FBoxUp = false;
}

void TfrmVolmar::GuardedLink(const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (const std::exception& Error) {
        ReportQuietly(ErrorText(Error));
    }
}

void TfrmVolmar::ReportQuietly(const QString& Text) {
    // A machine that keeps failing must not flood standard error: the
    // same failure again is only shown.
    if (Text != lblAlert->text()) ToStandardError(Text);
    ShowAlert(Text);
}

void TfrmVolmar::ShowAlert(const QString& Text) {
    lblAlert->setText(Text);
    lblAlert->setToolTip(Text);
    lblAlert->setVisible(!Text.isEmpty());
}

void TfrmVolmar::GuardedSave(const std::function<void()>& Save) {
    try {
        Save();
    } catch (const std::exception& Error) {
        FSaveFailed = true;
        ReportError(ErrorText(Error));
    }
}

} // namespace volmar
