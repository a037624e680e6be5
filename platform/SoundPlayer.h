// Playing the short sounds of the phone (dial-pad tones, ringback) by file name, asynchronously;
// a new sound cuts the one before short.
#pragma once

#include <QString>

class ISoundPlayer {
public:
    virtual ~ISoundPlayer() = default;
    // `fileName` is a bare name such as "Dtmf-1.wav"; the player finds it among the program's
    // sounds. A missing file plays nothing.
    virtual void play(const QString& fileName) = 0;
};
