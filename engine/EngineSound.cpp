#include "engine/EngineSound.h"

#include <QDir>

using namespace rtc;

void EngineSoundPlayer::play(const QString& fileName) {
    ComPtr<IEngineAudio> audio;
    if (!client_ || client_->as(audio) != S_OK || !audio)
        return;
    audio->PlaySoundFile(QDir(soundDir_).filePath(fileName));
}
