// Repaints of what changes on screen many times a second (the meters' drums,
// the logo, the traffic lamps), made together at most 60 times a second:
// each repaint holds up the thread that answers the machine, and no screen
// shows more.
#pragma once

#include <QRect>

class QWidget;

namespace volmar {

class TPacedRepaints {
public:
    // Rect of Widget is repainted with the next paced repaint.
    static void Add(QWidget* Widget, const QRect& Rect);
};

} // namespace volmar
