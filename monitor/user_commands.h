// The engine's deferred commands: posted to the engine itself and
// handled one at a time, in posting order, after the current handler.
#pragma once

#include <QEvent>

#include <cstdint>

namespace volmar {

enum TUserCommand : std::uint8_t {
    ucResetDataport,
    ucProcessRx,
    ucSpeedSignal,
    ucArmSpeedSignal,
    ucUpdateMeters,
    ucLineError,
};

class TUserEvent : public QEvent {
public:
    static QEvent::Type EventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    TUserEvent(int Command, std::intptr_t Argument)
        : QEvent(EventType()), FCommand(Command), FArgument(Argument) {}
    int Command() const { return FCommand; }
    std::intptr_t Argument() const { return FArgument; }

private:
    int FCommand;
    std::intptr_t FArgument;
};

} // namespace volmar
