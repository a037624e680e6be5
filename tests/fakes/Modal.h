// Driving code that opens a modal window: arm a handler before the call; when a modal widget of
// type T becomes active the handler runs (and must end it). If none shows up in time, every
// modal widget is closed and the test fails instead of hanging.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

namespace fake {

// Returns the watch, so that a caller can drop it when the window it waits for will not come.
template <class T> QPointer<QTimer> whenModal(std::function<void(T*)> handler, int timeoutMs = 5000) {
    auto* poll = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(poll, &QTimer::timeout, [=] {
        T* w = qobject_cast<T*>(QApplication::activeModalWidget());
        if (w && w->isVisible()) {
            poll->stop();
            poll->deleteLater();
            handler(w);
        } else if (clock->elapsed() > timeoutMs) {
            poll->stop();
            poll->deleteLater();
            while (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                d->done(QDialog::Rejected);
            ADD_FAILURE() << "expected modal window did not appear";
        }
    });
    poll->start(10);
    return poll;
}

// Spins the event loop until `pred` holds or time runs out.
inline bool waitFor(const std::function<bool()>& pred, int timeoutMs = 3000) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace fake
