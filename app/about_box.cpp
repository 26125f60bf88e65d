#include "app/about_box.h"

#include <algorithm>

#include "app/version_info.h"
#include "resources/about_picture.h"

#include <QDir>
#include <QFontMetrics>
#include <QStringList>
#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

namespace volmar {

namespace {

// One-pixel bevel in the classic two colours: light top-left for raised,
// dark top-left for lowered.
void DrawBevel(QPainter& P, const QRect& R, bool Raised) {
    const QColor light(235, 225, 200), dark(40, 30, 30);
    P.setPen(Raised ? light : dark);
    P.drawLine(R.topLeft(), R.topRight());
    P.drawLine(R.topLeft(), R.bottomLeft());
    P.setPen(Raised ? dark : light);
    P.drawLine(R.bottomLeft(), R.bottomRight());
    P.drawLine(R.topRight(), R.bottomRight());
}

class TBorderPanel : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QLinearGradient metal(0, 0, 0, height());
        metal.setColorAt(0.0, QColor(92, 70, 78));
        metal.setColorAt(0.5, QColor(48, 34, 44));
        metal.setColorAt(1.0, QColor(30, 20, 28));
        p.fillRect(rect(), metal);
        DrawBevel(p, rect(), true);
    }
};

class TPicturePanel : public QWidget {
public:
    explicit TPicturePanel(QWidget* Parent)
        : QWidget(Parent), FPicture(QPixmap::fromImage(AboutPicture())) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawPixmap(1, 1, FPicture);
        DrawBevel(p, rect(), false);
    }

private:
    QPixmap FPicture;
};

QLabel* MakeLabel(QWidget* Parent, const char* Name, const QString& Text, int PixelSize, bool Bold,
                  const QColor& Colour, const QRect& Where) {
    auto* label = new QLabel(Text, Parent);
    label->setObjectName(QLatin1String(Name));
    QFont font = label->font();
    font.setPixelSize(PixelSize);
    font.setBold(Bold);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Colour);
    label->setPalette(palette);
    // Drawn straight onto the picture.
    label->setAutoFillBackground(false);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(Where);
    return label;
}

} // namespace

TfrmVolmarSimAbout::TfrmVolmarSimAbout(QWidget* Owner)
    : QDialog(Owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmVolmarSimAbout"));
    setWindowTitle(QStringLiteral("About Volmar Simulator"));
    setFixedSize(kAboutBoxWidth, kAboutBoxHeight);

    Panel1 = new TBorderPanel(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(rect());

    const int inset = 1 + kAboutBorderWidth;
    Image1 = new TPicturePanel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(inset, inset, kAboutPictureWidth + 2, kAboutPictureHeight + 2);
    // A window manager may or may not shadow a borderless window, so the
    // picture casts its own shadow onto the border.
    auto* shadow = new QGraphicsDropShadowEffect(Image1);
    shadow->setBlurRadius(9);
    shadow->setOffset(3, 3);
    shadow->setColor(QColor(0, 0, 0, 190));
    Image1->setGraphicsEffect(shadow);

    // Positions in the picture's own coordinates, which start one pixel in.
    const auto at = [](int X, int Y, int W, int H) { return QRect(X + 1, Y + 1, W, H); };
    const QColor yellow(255, 255, 0), aqua(0, 255, 255);
    lblTitle = MakeLabel(Image1, "lblTitle", QStringLiteral("Volmar Simulator"), 16, true, yellow,
                         at(300, 9, 259, 20));
    txtVersion = MakeLabel(Image1, "txtVersion", QString(), 13, true, yellow, at(300, 30, 259, 17));
    lblNotice =
        MakeLabel(Image1, "lblNotice",
                  QStringLiteral("Monitoring unit simulator for coin-operated gaming machines"), 11,
                  false, aqua, at(180, 87, 379, 14));
    // Right of the coins, between the version and the notice: room for
    // three lines.
    lblFolder = MakeLabel(Image1, "lblFolder", QString(), 11, false, aqua, at(380, 48, 179, 38));

    SpeedButton1 = new QToolButton(Image1);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setIcon(QPixmap::fromImage(AboutCloseGlyph()));
    SpeedButton1->setIconSize(QSize(kAboutGlyphWidth, kAboutGlyphHeight));
    SpeedButton1->setToolTip(QStringLiteral("Close"));
    SpeedButton1->setGeometry(at(8, 77, 51, 22));
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });

    // Centred on the screen, not on the owner.
    if (QScreen* s = screen()) {
        const QRect area = s->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

void TfrmVolmarSimAbout::SpeedButton1Click() {
    accept();
}

void TfrmVolmarSimAbout::SetFolder(const QString& Folder) {
    lblFolder->setToolTip(QDir::toNativeSeparators(Folder));
    if (Folder.isEmpty()) {
        lblFolder->clear();
        return;
    }
    const QString home = QDir::homePath() + QLatin1Char('/');
    QString path = QDir::toNativeSeparators(Folder);
    if (path.startsWith(home)) path = QStringLiteral("~/") + path.mid(home.size());
    // Broken only after a slash, into as few lines as fit; a name too long
    // for a line of its own, or a path deeper than the lines, loses its middle.
    const QFontMetrics metrics(lblFolder->font());
    const int width = lblFolder->width();
    const qsizetype most = std::max(1, lblFolder->height() / metrics.lineSpacing());
    const QString text = QStringLiteral("Files in ") + path;
    QStringList lines{QString()};
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype slash = text.indexOf(QLatin1Char('/'), from);
        const qsizetype end = slash < 0 ? text.size() : slash + 1;
        const QString piece = text.mid(from, end - from);
        if (!lines.back().isEmpty() && metrics.horizontalAdvance(lines.back() + piece) > width)
            lines << QString();
        lines.back() += piece;
        from = end;
    }
    if (lines.size() > most && most == 1) {
        lines = QStringList{text};
    } else if (lines.size() > most) {
        lines = QStringList{lines.front()} + lines.mid(lines.size() - (most - 1));
        lines[1].prepend(QStringLiteral("\u2026/"));
    }
    for (QString& line : lines) line = metrics.elidedText(line, Qt::ElideMiddle, width);
    lblFolder->setText(lines.join(QLatin1Char('\n')));
}

std::unique_ptr<TfrmVolmarSimAbout> CreateAboutBox(QWidget* Owner, const TVersionInfo& Info,
                                                   const QString& Folder) {
    auto box = std::make_unique<TfrmVolmarSimAbout>(Owner);
    if (Info.Valid()) box->txtVersion->setText(QStringLiteral("v") + Info.FileVersion());
    box->SetFolder(Folder);
    return box;
}

void ShowAboutBox(QWidget* Owner, const TVersionInfo& Info, const QString& Folder) {
    // Freed on the way out whatever happens while it is shown.
    const std::unique_ptr<TfrmVolmarSimAbout> box = CreateAboutBox(Owner, Info, Folder);
    box->exec();
}

} // namespace volmar
