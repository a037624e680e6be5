// The engine's log sink under liblinphone's real logging: its media threads log while the UI
// thread does (a sound device failing mid-call, say). A sink that is not safe there uses freed
// memory, which the sanitizer build reports.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <thread>
#include <vector>

#include <bctoolbox/logging.h>

namespace {

std::atomic<int> gBursts{0};

void CountBursts(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (context.category && QByteArray(context.category) == "orvane.engine" && message.contains("burst"))
        ++gBursts;
}

} // namespace

TEST(EngineLog, MessagesFromManyThreadsAtOnceAllArriveIntact) {
    constexpr int kThreads = 4;
    constexpr int kEach = 3000;
    gBursts = 0;
    const QtMessageHandler previous = qInstallMessageHandler(CountBursts);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i)
                bctbx_log("mediastreamer", BCTBX_LOG_ERROR, "burst %d/%d", t, i);
        });
    for (int i = 0; i < kEach; ++i)
        bctbx_log("liblinphone", BCTBX_LOG_ERROR, "burst main/%d", i);
    for (std::thread& t : threads)
        t.join();
    qInstallMessageHandler(previous);
    EXPECT_EQ(gBursts.load(), (kThreads + 1) * kEach);
}
