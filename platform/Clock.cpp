#include "platform/Clock.h"

#include <QThread>

QDateTime SystemClock::now() const {
    return QDateTime::currentDateTime();
}

void SystemClock::sleepMs(int ms) {
    QThread::msleep(static_cast<unsigned long>(ms));
}
