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
#include <cstring>

namespace volmar {

namespace {

QtMessageHandler gPreviousHandler = nullptr;

// The back end's complaints while it looks for a sound server, such as
// "PulseAudioService: pa_context_connect() failed" when none runs: without
// an audio output the clicks are silent, and that is nothing to report.
void QuietBackEnd(QtMsgType Type, const QMessageLogContext& Context, const QString& Message) {
    const bool backEnd =
        (Context.category && std::strncmp(Context.category, "qt.multimedia", 13) == 0) ||
        Message.startsWith(QLatin1String("PulseAudioService:"));
    if (backEnd && Type != QtFatalMsg) return;
    gPreviousHandler(Type, Context, Message);
}

bool AudioOutputPresent() {
    gPreviousHandler = qInstallMessageHandler(QuietBackEnd);
    const bool present = !QMediaDevices::audioOutputs().isEmpty();
    qInstallMessageHandler(gPreviousHandler);
    return present;
}

// Lives as a child of the application object, so its sound effects go
// before the multimedia back end does at shut-down.
class TClickPlayer : public QObject {
public:
    explicit TClickPlayer(QObject* Parent) : QObject(Parent) {
        // No output device (no sound server, a headless session): stay silent
        // rather than let each effect fail and warn on every click.
        FAudible = AudioOutputPresent() && FFolder.isValid();
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
