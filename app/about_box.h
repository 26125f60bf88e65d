// TfrmVolmarSimAbout: the borderless about box over the program's banner,
// with the title, the version, a notice line and a button that closes it.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QToolButton>
#include <memory>

namespace volmar {

class TVersionInfo;

inline constexpr int kAboutBoxWidth = 587;
inline constexpr int kAboutBoxHeight = 127;
// The panel's border around the picture; with the outer and inner bevel,
// one pixel each, the picture sits ten pixels in from the edge.
inline constexpr int kAboutBorderWidth = 8;

class TfrmVolmarSimAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmVolmarSimAbout(QWidget* Owner = nullptr);

    // Raised outer bevel and the border; holds the picture's panel.
    QWidget* Panel1;
    // The lowered inner bevel and the picture, casting the drop shadow onto
    // the border; the labels and the button lie on it.
    QWidget* Image1;
    QLabel* lblTitle;
    QLabel* txtVersion;
    QToolButton* SpeedButton1;
    QLabel* lblNotice;
    // Where the settings and counters files are; the whole path in its tooltip.
    QLabel* lblFolder;

    void SpeedButton1Click();
    // Shortened to fit the line: the home folder as "~", then the middle elided.
    void SetFolder(const QString& Folder);
};

// Builds the box owned by Owner, with "v" and the file version when Info is
// Valid; the version label stays empty otherwise. Folder: where the files are.
std::unique_ptr<TfrmVolmarSimAbout> CreateAboutBox(QWidget* Owner, const TVersionInfo& Info,
                                                   const QString& Folder = QString());

// The Help menu's About: builds the box, shows it modally, frees it.
void ShowAboutBox(QWidget* Owner, const TVersionInfo& Info, const QString& Folder = QString());

} // namespace volmar
