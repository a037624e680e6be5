// Local time and blocking pauses, injectable so that tests run on a fake clock.
#pragma once

#include <QDateTime>

class IClock {
public:
    virtual ~IClock() = default;
    virtual QDateTime now() const = 0;
    // Blocks the calling thread.
    virtual void sleepMs(int ms) = 0;
};

class SystemClock : public IClock {
public:
    QDateTime now() const override;
    void sleepMs(int ms) override;
};
