// No text runs into another control, or is cut, at the default font; the
// same test run under QT_SCALE_FACTOR=1.5 checks one and a half times the
// size. Pictures of the pages for a reviewer.
#include <QAbstractScrollArea>
#include <QLabel>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>

#include "app/about_box.h"
#include "app/edit_meters_dialog.h"
#include "app/logo_animation.h"
#include "app/message_box.h"
#include "app/window_fixture.h"
#include "support/artefacts.h"

namespace volmar::testing {
namespace {

std::string Describe(const QWidget* W) {
    if (const auto* label = qobject_cast<const QLabel*>(W)) {
        // Appended: GCC 12 at -O3 warns falsely (-Wrestrict) on "\"" + a temporary.
        std::string text = "\"";
        text += label->text().toStdString();
        text += '"';
        return text;
    }
    return W->metaObject()->className() + std::string(" ") + W->objectName().toStdString();
}

// Every shown text among Parent's children, and theirs, keeps a pixel clear
// of its siblings and is as wide as it needs.
void ExpectNothingTouches(const QWidget* Parent) {
    const auto children = Parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (qsizetype i = 0; i < children.size(); ++i) {
        const QWidget* a = children[i];
        if (a->isHidden()) continue;
        const auto* label = qobject_cast<const QLabel*>(a);
        if (label && label->pixmap().isNull()) {
            EXPECT_GE(label->width(), label->sizeHint().width()) << Describe(a) << " is cut";
        }
        for (qsizetype j = 0; j < children.size(); ++j) {
            const QWidget* b = children[j];
            if (j == i || b->isHidden() || !label) continue;
            EXPECT_FALSE(a->geometry().adjusted(-1, -1, 1, 1).intersects(b->geometry()))
                << Describe(a) << " touches " << Describe(b) << " " << a->geometry().x() << ","
                << a->geometry().y() << " " << a->width() << "x" << a->height() << " vs "
                << b->geometry().x() << "," << b->geometry().y() << " " << b->width() << "x"
                << b->height();
        }
        ExpectNothingTouches(a);
    }
}

TEST_F(WindowTest, NoTextTouchesAnotherControl) {
    TfrmVolmar& w = Start();
    w.show();
    ExpectNothingTouches(&w);
    TfrmEditMetersDlg edit(&w);
    ExpectNothingTouches(&edit);
    TfrmVolmarSimAbout about(&w);
    ExpectNothingTouches(&about);
}

// The label's text as it shows it, line by line.
QStringList Lines(const QLabel& Label) {
    if (!Label.wordWrap()) return Label.text().split(QLatin1Char('\n'));
    QTextDocument document;
    document.setDocumentMargin(0);
    document.setDefaultFont(Label.font());
    document.setPlainText(Label.text());
    document.setTextWidth(Label.contentsRect().width());
    document.size();  // lays the text out
    QStringList lines;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (int i = 0; i < block.layout()->lineCount(); ++i) {
            const QTextLine line = block.layout()->lineAt(i);
            lines << block.text().mid(line.textStart(), line.textLength());
        }
    return lines;
}

TEST_F(WindowTest, APathInAMessageBoxStaysWholeOnOneLine) {
    const QString path = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00");
    // Wherever the path falls in the text, it is never broken.
    for (int lead = 0; lead < 48; lead += 3) {
        const QString text = QStringLiteral("COM1 is ") + QString(lead, QLatin1Char('x')) +
                             QStringLiteral(" ") + path +
                             QStringLiteral(", which does not exist. No serial device is "
                                            "plugged in.\nPlug the device in, or assign another.");
        const auto box = MakeMessageBox(nullptr, QMessageBox::Critical, QStringLiteral("t"), text);
        box->show();
        const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(label, nullptr);
        const QStringList lines = Lines(*label);
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const QString& Line) { return Line.contains(path); }))
            << lines.join(QLatin1Char('|')).toStdString();
    }
}

TEST_F(WindowTest, TheSmallMetersStayWholeAtTheNarrowestWindow) {
    TfrmVolmar& w = Start();
    w.show();
    w.resize(100, w.height());
    Settle();
    const QWidget* speed = w.pnlSmallMeters->findChild<QWidget*>(QStringLiteral("pnlSpeedSignal"));
    ASSERT_NE(speed, nullptr);
    const QWidget* last = w.pnlSmallMeters->Meter(5)->parentWidget();
    EXPECT_GT(speed->geometry().left(), last->geometry().right());
    EXPECT_LE(speed->geometry().right(), w.pnlSmallMeters->width());
}

TEST_F(WindowTest, TheLogoBandIsTeal) {
    TfrmVolmar& w = Start();
    w.show();
    Settle();
    auto* band = w.findChild<TLogoBand*>(QStringLiteral("pnlLogo"));
    ASSERT_NE(band, nullptr);
    const QImage picture = band->grab().toImage();
    EXPECT_EQ(picture.pixelColor(1, 1), TLogoBand::Colour());
    EXPECT_EQ(picture.pixelColor(picture.width() - 2, picture.height() - 2), TLogoBand::Colour());
}

TEST_F(WindowTest, PictureOfTheMachinePageScrolledDown) {
    TfrmVolmar& w = Start();
    w.show();
    Settle();
    w.MachinePage->verticalScrollBar()->setValue(w.MachinePage->verticalScrollBar()->maximum());
    Settle();
    EXPECT_TRUE(SavePicture(w.grab().toImage(), QStringLiteral("machine_page_scrolled")));
}

} // namespace
} // namespace volmar::testing
