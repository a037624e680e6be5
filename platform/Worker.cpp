#include "platform/Worker.h"

#include <QMetaObject>
#include <QPointer>

ThreadWorker::ThreadWorker(std::function<void()> interrupt)
    : interrupt_(std::move(interrupt)), inThread_(new QObject) {
    thread_.setObjectName(QStringLiteral("orvane-worker"));
    inThread_->moveToThread(&thread_);
    thread_.start();
}

ThreadWorker::~ThreadWorker() {
    if (interrupt_)
        interrupt_();
    thread_.quit();
    thread_.wait();
    delete inThread_;
}

void ThreadWorker::post(std::function<void()> job, std::function<void()> then) {
    QPointer<ThreadWorker> self(this);
    QMetaObject::invokeMethod(
        inThread_,
        [self, job = std::move(job), then = std::move(then)]() mutable {
            job();
            // Queued back to the UI thread; dropped if the worker is gone by then.
            if (self)
                QMetaObject::invokeMethod(self.data(), std::move(then), Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}
