#include "widgets/click_player.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMediaDevices>
#include <QPointer>
#include <QSoundEffect>
#include <QTemporaryDir>
#include <QUrl>

#include <array>

namespace volmar {

namespace {

// Lives as a child of the application object, so its sound effects go
// before the multimedia back end does at shut-down.
class TClickPlayer : public QObject {
public:
    explicit TClickPlayer(QObject* Parent) : QObject(Parent) {
        // No output device (no sound server, a headless session): stay silent
        // rather than let each effect fail and warn on every click.
        FAudible = !QMediaDevices::audioOutputs().isEmpty() && FFolder.isValid();
    }

    bool Audible() const { return FAudible; }

    void Play(TClickSound Sound) {
        if (!FAudible) return;
        QSoundEffect*& effect = FEffects[Sound];
        if (!effect) {
            // QSoundEffect reads files only; each image is written once.
            const QString path =
                QDir(FFolder.path()).filePath(QString::fromLatin1(ClickSoundName(Sound)) + ".wav");
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(ClickSoundWave(Sound)) < 0) {
                FAudible = false;
                return;
            }
            file.close();
            effect = new QSoundEffect(this);
            effect->setSource(QUrl::fromLocalFile(path));
        }
        effect->play();
    }

private:
    QTemporaryDir FFolder;
    bool FAudible = false;
    std::array<QSoundEffect*, kClickSoundCount> FEffects{};
};

QPointer<TClickPlayer> gPlayer;

TClickPlayer* Player() {
    if (!gPlayer && QCoreApplication::instance())
        gPlayer = new TClickPlayer(QCoreApplication::instance());
    return gPlayer;
}

} // namespace

void PlayClickSound(TClickSound Sound) {
    if (TClickPlayer* p = Player()) p->Play(Sound);
}

bool ClickSoundAudible() {
    const TClickPlayer* p = Player();
    return p && p->Audible();
}

} // namespace volmar
