// The program's message boxes. A box breaks its lines only between words:
// a path in it stays whole ("/dev/" on one line and "ttyS0" on the next
// would be no path at all).
#pragma once

#include <QFontMetrics>
#include <QMessageBox>
#include <QString>

#include <memory>

namespace volmar {

// Text with its paragraphs broken into lines of at most Width pixels, or
// as wide as its widest word, only at blanks.
QString WrappedBetweenWords(const QString& Text, const QFontMetrics& Metrics, int Width);

// A box built but not shown.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* Parent, QMessageBox::Icon Icon,
                                            const QString& Title, const QString& Text,
                                            QMessageBox::StandardButtons Buttons = QMessageBox::Ok);

} // namespace volmar
