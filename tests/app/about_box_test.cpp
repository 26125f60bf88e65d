// The about box: its layout as designed, the version label, closing it,
// the modal run from the Help menu, and a picture for reviewers.
#include "app/about_box.h"
#include "app/version_info.h"
#include "resources/about_picture.h"
#include "support/artefacts.h"
#include "support/qt_pump.h"

#include <QApplication>
#include <QDir>
#include <QGraphicsDropShadowEffect>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>

namespace volmar::testing {
namespace {

// A reader pointed at a file that does not exist.
TVersionInfo InvalidInfo() {
    return TVersionInfo(QDir::temp().filePath(QStringLiteral("volmar-no-such-program")));
}

TEST(AboutBox, LaidOutAsDesigned) {
    const TVersionInfo info;
    ASSERT_TRUE(info.Valid());
    QWidget owner;
    const auto box = CreateAboutBox(&owner, info);
    EXPECT_EQ(box->parentWidget(), &owner);
    EXPECT_EQ(box->size(), QSize(kAboutBoxWidth, kAboutBoxHeight));
    EXPECT_EQ(box->minimumSize(), box->maximumSize()) << "the box does not resize";
    EXPECT_TRUE(box->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(box->windowType(), Qt::Dialog);

    EXPECT_EQ(box->Panel1->geometry(), box->rect());
    EXPECT_EQ(box->Image1->geometry(),
              QRect(9, 9, kAboutPictureWidth + 2, kAboutPictureHeight + 2));
    EXPECT_EQ(kAboutPictureWidth + 2 * (kAboutBorderWidth + 2), kAboutBoxWidth);
    EXPECT_EQ(kAboutPictureHeight + 2 * (kAboutBorderWidth + 2), kAboutBoxHeight);
    EXPECT_NE(qobject_cast<QGraphicsDropShadowEffect*>(box->Image1->graphicsEffect()), nullptr);

    const QScreen* screen = box->screen();
    ASSERT_NE(screen, nullptr);
    const QPoint off = box->frameGeometry().center() - screen->availableGeometry().center();
    EXPECT_LE(off.manhattanLength(), 2) << "centred on the screen";
}

TEST(AboutBox, LabelsAndButton) {
    const TVersionInfo info;
    const auto box = CreateAboutBox(nullptr, info);
    const QColor yellow(255, 255, 0), aqua(0, 255, 255);

    EXPECT_EQ(box->lblTitle->text(), QStringLiteral("Volmar Simulator"));
    EXPECT_EQ(box->lblTitle->font().pixelSize(), 16);
    EXPECT_TRUE(box->lblTitle->font().bold());
    EXPECT_EQ(box->lblTitle->palette().color(QPalette::WindowText), yellow);

    EXPECT_EQ(box->txtVersion->font().pixelSize(), 13);
    EXPECT_TRUE(box->txtVersion->font().bold());
    EXPECT_EQ(box->txtVersion->palette().color(QPalette::WindowText), yellow);
    EXPECT_TRUE(box->txtVersion->alignment() & Qt::AlignRight);
    EXPECT_GT(box->txtVersion->y(), box->lblTitle->y()) << "below the title";
    EXPECT_EQ(box->txtVersion->geometry().right(), box->lblTitle->geometry().right());

    EXPECT_FALSE(box->lblNotice->text().isEmpty());
    EXPECT_EQ(box->lblNotice->font().pixelSize(), 11);
    EXPECT_EQ(box->lblNotice->palette().color(QPalette::WindowText), aqua);
    for (const QLabel* label : {box->lblTitle, box->txtVersion, box->lblNotice}) {
        EXPECT_FALSE(label->autoFillBackground()) << "drawn over the picture";
        EXPECT_TRUE(box->Image1->rect().contains(label->geometry()));
    }

    EXPECT_EQ(box->SpeedButton1->size(), QSize(51, 22));
    EXPECT_TRUE(box->SpeedButton1->autoRaise()) << "flat";
    EXPECT_FALSE(box->SpeedButton1->icon().isNull());
    EXPECT_LT(box->SpeedButton1->x(), box->lblNotice->x()) << "bottom left";
    EXPECT_GT(box->SpeedButton1->y(), box->txtVersion->geometry().bottom());
    EXPECT_TRUE(box->Image1->rect().contains(box->SpeedButton1->geometry()));
}

TEST(AboutBox, VersionLabelFollowsTheReader) {
    const TVersionInfo valid;
    ASSERT_TRUE(valid.Valid());
    EXPECT_EQ(CreateAboutBox(nullptr, valid)->txtVersion->text(),
              QStringLiteral("v" VOLMAR_EXPECTED_VERSION));

    const TVersionInfo invalid = InvalidInfo();
    ASSERT_FALSE(invalid.Valid());
    EXPECT_TRUE(CreateAboutBox(nullptr, invalid)->txtVersion->text().isEmpty());
    EXPECT_TRUE(TfrmVolmarSimAbout().txtVersion->text().isEmpty()) << "empty at design";
}

TEST(AboutBox, FolderLineFitsAndNamesTheFolder) {
    const QString deep = QStringLiteral("/srv/arcade/floor-2/machines/volmar-12/files");
    const auto box = CreateAboutBox(nullptr, TVersionInfo(), deep);
    const QLabel* line = box->lblFolder;
    const QStringList lines = line->text().split(QLatin1Char('\n'));
    EXPECT_LE(lines.size() * line->fontMetrics().lineSpacing(), line->height()) << "not cut";
    for (const QString& each : lines)
        EXPECT_LE(line->fontMetrics().horizontalAdvance(each), line->width()) << "not cut";
    EXPECT_TRUE(line->text().endsWith(QStringLiteral("files"))) << qPrintable(line->text());
    EXPECT_EQ(line->toolTip(), deep);
    EXPECT_TRUE(box->Image1->rect().contains(line->geometry()));
    for (const QWidget* other : {static_cast<QWidget*>(box->txtVersion),
                                 static_cast<QWidget*>(box->lblNotice),
                                 static_cast<QWidget*>(box->SpeedButton1)})
        EXPECT_FALSE(line->geometry().intersects(other->geometry()))
            << qPrintable(other->objectName());

    box->SetFolder(QDir::homePath() + QStringLiteral("/.local/share/volmarsim"));
    EXPECT_EQ(line->text(), QStringLiteral("Files in ~/.local/share/volmarsim"));

    // Too long for one line, it is broken after a slash, not cut.
    const QString longer = QStringLiteral("/home/operator/volmar-lab-settings-2026");
    box->SetFolder(longer);
    EXPECT_EQ(line->text(), QStringLiteral("Files in /home/operator/\nvolmar-lab-settings-2026"));
}

TEST(AboutBox, SpeedButton1ClosesTheBox) {
    const auto box = CreateAboutBox(nullptr, InvalidInfo());
    box->show();
    ASSERT_TRUE(box->isVisible());
    box->SpeedButton1->click();
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(box->result(), QDialog::Accepted);
}

TEST(AboutBox, ShownModallyAndFreedAfterwards) {
    const TVersionInfo info;
    QWidget owner;
    owner.show();
    QPointer<TfrmVolmarSimAbout> seen;
    bool found = false, modal = false;
    QString version;
    // Looks for the box once exec() has shown it, then presses its button.
    QTimer presser;
    int ticks = 0;
    QObject::connect(&presser, &QTimer::timeout, [&] {
        auto* box = qobject_cast<TfrmVolmarSimAbout*>(QApplication::activeModalWidget());
        if (!box && ++ticks < 1000) return;
        presser.stop();
        if (!box) {
            // Never shown modally: end whatever box there is so the test ends.
            for (auto* b : owner.findChildren<TfrmVolmarSimAbout*>())
                b->reject();
            return;
        }
        found = true;
        seen = box;
        modal = box->isModal();
        version = box->txtVersion->text();
        box->SpeedButton1->click();
    });
    presser.start(5);
    ShowAboutBox(&owner, info);
    ASSERT_TRUE(found) << "the box never came up modally";
    EXPECT_TRUE(modal);
    EXPECT_EQ(version, QStringLiteral("v" VOLMAR_EXPECTED_VERSION));
    EXPECT_TRUE(seen.isNull()) << "freed on return";
    EXPECT_TRUE(owner.findChildren<TfrmVolmarSimAbout*>().isEmpty());
}

TEST(AboutPictures, SizesAndContent) {
    const QImage picture = AboutPicture();
    EXPECT_EQ(picture.size(), QSize(kAboutPictureWidth, kAboutPictureHeight));
    // The title's corner stays dark so the yellow reads; the reels are bright.
    const QColor titleCorner = picture.pixelColor(500, 20);
    EXPECT_LT(titleCorner.lightness(), 80);
    EXPECT_GT(picture.pixelColor(21, 50).lightness(), 150) << "a reel's face";

    const QImage glyph = AboutCloseGlyph();
    EXPECT_EQ(glyph.size(), QSize(kAboutGlyphWidth, kAboutGlyphHeight));
    EXPECT_LE(glyph.width(), 51);
    EXPECT_LE(glyph.height(), 22);
    EXPECT_GT(qAlpha(glyph.pixel(glyph.width() / 2, glyph.height() / 2)), 0);
}

TEST(AboutPictures, PictureOfTheAboutBox) {
    const TVersionInfo info;
    const auto box =
        CreateAboutBox(nullptr, info, QDir::homePath() + QStringLiteral("/.local/share/volmarsim"));
    box->show();
    PumpUntil([&] { return box->isVisible(); });
    const QImage shot = box->grab().toImage();
    ASSERT_EQ(shot.size(), QSize(kAboutBoxWidth, kAboutBoxHeight));

    // The picture shows through where nothing lies on it.
    const QImage picture = AboutPicture();
    for (const QPoint p : {QPoint(37, 30), QPoint(200, 40), QPoint(300, 60)}) {
        const QColor want = picture.pixelColor(p), got = shot.pixelColor(p + QPoint(10, 10));
        EXPECT_LE(std::abs(want.red() - got.red()) + std::abs(want.green() - got.green()) +
                      std::abs(want.blue() - got.blue()),
                  6)
            << p.x() << "," << p.y();
    }
    EXPECT_TRUE(SavePicture(shot, QStringLiteral("about_box")));
}

} // namespace
} // namespace volmar::testing
