// Work that must not hold up the window (the balance query's round trip to the billing server):
// done one job after the other away from the UI thread; each job's follow-up runs on the UI
// thread afterwards, in the order the jobs were posted.
#pragma once

#include <QObject>
#include <QThread>

#include <functional>

class IWorker {
public:
    virtual ~IWorker() = default;
    virtual void post(std::function<void()> job, std::function<void()> then) = 0;
};

// Runs the job and its follow-up at once, in the caller's thread (tests of the logic).
class InlineWorker final : public IWorker {
public:
    void post(std::function<void()> job, std::function<void()> then) override {
        job();
        then();
    }
};

// One thread of its own. Ending it cuts the running job short with `interrupt` (when given),
// drops the jobs not yet started and their follow-ups, and waits for the thread.
class ThreadWorker final : public QObject, public IWorker {
    Q_OBJECT
public:
    explicit ThreadWorker(std::function<void()> interrupt = {});
    ~ThreadWorker() override;
    void post(std::function<void()> job, std::function<void()> then) override;

private:
    std::function<void()> interrupt_;
    QThread thread_;
    QObject* inThread_;
};
