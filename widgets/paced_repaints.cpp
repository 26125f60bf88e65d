#include "widgets/paced_repaints.h"

#include <QCoreApplication>
#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <algorithm>
#include <vector>

#include "widgets/paced_call.h"

namespace volmar {

namespace {

class TRepaints : public QObject {
public:
    using QObject::QObject;

    void Queue(QWidget* Widget, const QRect& Rect) {
        const auto same = [Widget](const TPending& P) { return P.Widget == Widget; };
        if (auto it = std::find_if(FPending.begin(), FPending.end(), same); it != FPending.end())
            it->Region += Rect;
        else
            FPending.push_back({Widget, Rect});
        FRepaint.Request();
    }

private:
    void Repaint() {
        std::vector<TPending> pending;
        pending.swap(FPending);
        for (const TPending& p : pending)
            if (p.Widget) p.Widget->update(p.Region);
    }

    struct TPending {
        QPointer<QWidget> Widget;
        QRegion Region;
    };
    std::vector<TPending> FPending;
    TPacedCall FRepaint{16, [this] { Repaint(); }};
};

} // namespace

void TPacedRepaints::Add(QWidget* Widget, const QRect& Rect) {
    static QPointer<TRepaints> shared;
    if (!shared) shared = new TRepaints(QCoreApplication::instance());
    shared->Queue(Widget, Rect);
}

} // namespace volmar
