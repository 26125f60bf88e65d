#include "app/message_box.h"

#include <QGuiApplication>
#include <QLabel>
#include <QRegularExpression>
#include <QScreen>
#include <QStringList>

#include <algorithm>

namespace volmar {

namespace {
// As wide as a box's text runs before the box would wrap it itself.
constexpr int kWidestText = 420;
constexpr int kNarrowestText = 200;
} // namespace

QString WrappedBetweenWords(const QString& Text, const QFontMetrics& Metrics, int Width) {
    // A longer word widens every line, so the text stays one block.
    for (const QString& word : Text.split(QRegularExpression(QStringLiteral("\\s+"))))
        Width = std::max(Width, Metrics.horizontalAdvance(word));
    QStringList lines;
    for (const QString& paragraph : Text.split(QLatin1Char('\n'))) {
        QString line;
        for (const QString& word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString longer = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (!line.isEmpty() && Metrics.horizontalAdvance(longer) > Width) {
                lines << line;
                line = word;
            } else {
                line = longer;
            }
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* Parent, QMessageBox::Icon Icon,
                                            const QString& Title, const QString& Text,
                                            QMessageBox::StandardButtons Buttons) {
    auto box = std::make_unique<QMessageBox>(Icon, Title, QString(), Buttons, Parent);
    box->setTextFormat(Qt::PlainText);
    int width = kWidestText;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        width = std::clamp(screen->availableGeometry().width() / 2 - 100, kNarrowestText, width);
    const QFontMetrics metrics = box->fontMetrics();
    const QString text = WrappedBetweenWords(Text, metrics, width);
    box->setText(text);
    // The box wraps a text that is wide for the screen again, and would then
    // break a path after a slash; as wide as the widest line, it has no need.
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        int widest = 0;
        for (const QString& line : text.split(QLatin1Char('\n')))
            widest = std::max(widest, metrics.horizontalAdvance(line) + 1);
        label->setMinimumWidth(widest);
    }
    return box;
}

} // namespace volmar
