// The link between the port, the receive buffer and the receiver: bytes are
// moved and work is deferred to the window's own queue, so the receiver runs
// one command at a time, in order, after the port's handler has returned.
#include <QCoreApplication>

#include "app/main_window.h"
#include "dataport/str_format.h"

namespace volmar {

void TfrmVolmar::PostCommand(TUserCommand Command, std::intptr_t Argument) {
    QCoreApplication::postEvent(this, new TUserEvent(Command, Argument));
}

bool TfrmVolmar::event(QEvent* Event) {
    if (Event->type() == TUserEvent::EventType()) {
        const auto* command = static_cast<TUserEvent*>(Event);
        GuardedLink([&] { WMUser(command->Command(), command->Argument()); });
        return true;
    }
    return QMainWindow::event(Event);
}

void TfrmVolmar::WMUser(int Command, std::intptr_t Argument) {
    switch (Command) {
    case ucResetDataport: FVolmar.ResetReceiver(); break;
    case ucProcessRx:
        if (FRxBuffer) FVolmar.ProcessBuffer(*FRxBuffer);
        break;
    case ucSpeedSignal:
        SetSpeedSignal(SpeedSignalPresent());
        if (FAutoBaudActive) FollowSpeedSignal(FSpeedSignal);
        break;
    case ucArmSpeedSignal: ArmModemTrigger(true); break;
    case ucUpdateMeters: UpdateMeters(static_cast<int>(Argument)); break;
    case ucLineError: {
        const auto code = static_cast<std::uint16_t>(Argument & 0xFFFF);
        FLogs.LogLineError(code);
        FVolmar.SetLineError(code);
        break;
    }
    default: break;
    }
}

void TfrmVolmar::ComPortPlusTriggerAvail(TCustomComPort* CP, std::uint16_t Count) {
    for (std::uint16_t i = 0; i < Count; ++i) {
        const std::uint8_t byte = CP->GetChar();
        if (FRxBuffer) FRxBuffer->Put(byte);
    }
    PostCommand(ucProcessRx);
}

void TfrmVolmar::ComPortPlusTriggerLineError(TCustomComPort*, std::uint16_t Error, bool) {
    PostCommand(ucLineError, Error);
    ArmLineTrigger(true);
}

void TfrmVolmar::VolmarDPReset(TVolmarDataport*) { FLogs.DebugLog("Dataport Reset"); }

void TfrmVolmar::VolmarTimeout(TVolmarDataport* Sender, TTimeoutType Timeout) {
    const std::string_view caption = TimeoutNames[Timeout];
    if (Timeout == toInterChar) {
        const TDPState state = Sender->State();
        FLogs.DebugLog(caption, StrFormat("At stage %d (%s)", static_cast<int>(state),
                                          std::string(DPStateNames[state]).c_str()));
    } else {
        FLogs.DebugLog(caption);
    }
}

void TfrmVolmar::VolmarStateChange(TVolmarDataport* Sender, TDPState State, std::int32_t Count) {
    // Every abandoned frame ends here, its header still in the record.
    if (State == dpsWaitQuiet) FInterpreter.NoteBrokenFrame(Sender->Msg().Header);
    const std::string name(DPStateNames[State]);
    if (State == dpsWaitData)
        FLogs.DebugLog("Dataport State Changed", StrFormat("%s (%d remaining)", name.c_str(), Count));
    else
        FLogs.DebugLog("Dataport State Changed", name);
}

void TfrmVolmar::ToolButton5Click() {
    const std::string text = StrFormat("There are %d char(s) in Rx buffer", FRxBuffer ? FRxBuffer->Count() : 0);
    if (FOptions.Boxes.Information) FOptions.Boxes.Information(this, QString::fromLatin1(text.c_str()));
}

void TfrmVolmar::ToolButton6Click() {
    if (FRxBuffer) FRxBuffer->Reset();
}

void TfrmVolmar::ToolButton7Click() { PostCommand(ucResetDataport); }

} // namespace volmar
