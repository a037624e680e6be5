// The phone's sounds, played by the engine, which owns the audio devices.
#pragma once

#include "platform/SoundPlayer.h"
#include "rtc/ComPtr.h"

#include <QString>

class EngineSoundPlayer : public ISoundPlayer {
public:
    explicit EngineSoundPlayer(QString soundDir) : soundDir_(std::move(soundDir)) {}
    // The main window's engine client slot, read at every play (empty after a failed start:
    // then nothing plays).
    void setClientSlot(const rtc::ComPtr<rtc::IRTCClient>* client) { client_ = client; }
    void play(const QString& fileName) override;

private:
    const rtc::ComPtr<rtc::IRTCClient>* client_ = nullptr;
    QString soundDir_;
};
