// The call history window: the page it opens on after real call sequences, removing rows and
// writing them back without losing records appended meanwhile, and the window itself (tabs,
// clear, close, pick, Enter and Escape) over the real files.
#include "calls/Pickup.h"
#include "calls/Session.h"
#include "fakes/FakeServices.h"
#include "fakes/Modal.h"
#include "history/CallLog.h"
#include "phone/ControlIds.h"
#include "test_file_support.h"

#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace rtc;
using namespace fake;

namespace {

struct CallLogPhone {
    TestPhone t;
    CallLogPhone() {
        t.registerAccount("srv");
        t.client->calls.clear();
    }
    // An incoming call from 5551000 that rings, then `handle` runs and the call ends.
    void incoming(const std::function<void()>& handle) {
        ComPtr<FakeSession> s(new FakeSession);
        s->remoteUri = QStringLiteral("sip:5551000@srv");
        t.deliverSession(RTCSS_INCOMING, s.get());
        handle();
        t.deliverSession(RTCSS_DISCONNECTED, s.get());
    }
    CallLogPage open() {
        MainState& st = t.phone.st;
        return OpeningPage(st.receivedCall, st.missedCall, st.rejected);
    }
    void append(CallKind kind, const QString& number) {
        t.phone.history.AppendCallRecord(kind, number, t.clock.now());
    }
};

} // namespace

TEST(CallLogOpening, PageFollowsWhatHappenedToTheLastIncomingCall) {
    CallLogPhone p;
    EXPECT_EQ(p.open(), CallLogPage::Dialled); // nothing happened yet

    // Answered: received once, then back to dialled.
    p.incoming([&] {
        OnPickup(p.t.phone);
        p.t.deliverSession(RTCSS_ANSWERING, p.t.phone.st.session.get());
        p.t.deliverSession(RTCSS_CONNECTED, p.t.phone.st.session.get());
    });
    EXPECT_EQ(p.open(), CallLogPage::Received);
    EXPECT_EQ(p.open(), CallLogPage::Dialled);

    // Rang out unanswered: missed, once.
    p.incoming([] {});
    EXPECT_EQ(p.open(), CallLogPage::Missed);
    EXPECT_EQ(p.open(), CallLogPage::Dialled);

    // Rejected with the hang-up button: it is listed as received, so that page opens.
    p.incoming([&] { OnHangup(p.t.phone); });
    EXPECT_EQ(p.open(), CallLogPage::Received);
    EXPECT_EQ(p.open(), CallLogPage::Dialled);

    EXPECT_EQ(PageWord(CallLogPage::Received), "recevied");
}

TEST(CallLogLists, MissedRowsSortWhileOthersKeepFileOrderAndRemovalsAreWrittenTrimmed) {
    CallLogPhone p;
    for (const char* n : {"300", "100", "200"}) {
        p.append(CallKind::Dialled, QString::fromLatin1(n));
        p.append(CallKind::Missed, QString::fromLatin1(n));
    }
    p.append(CallKind::Missed, "Bob");
    p.append(CallKind::Missed, "alice");
    CallLogLists lists(p.t.phone.history);
    lists.load();
    const QStringList dialled = lists.rows(CallKind::Dialled);
    ASSERT_EQ(dialled.size(), 3);
    EXPECT_EQ(NumberFromCallRecord(dialled[0]), "300");
    QStringList missed;
    for (const QString& row : lists.rows(CallKind::Missed))
        missed << NumberFromCallRecord(row);
    EXPECT_EQ(missed, (QStringList{"100", "200", "300", "alice", "Bob"}));

    // Removing shown rows of the sorted list takes exactly those rows from the file, which keeps
    // its own order.
    lists.removeRows(CallKind::Missed, {0, 4});
    ASSERT_TRUE(lists.save(CallKind::Missed));
    const QStringList file = p.t.history(CallKind::Missed);
    QStringList numbers;
    for (const QString& row : file) {
        EXPECT_EQ(row, TrimBlanks(row));
        numbers << NumberFromCallRecord(row);
    }
    EXPECT_EQ(numbers, (QStringList{"300", "200", "alice"}));
    EXPECT_EQ(lists.number(CallKind::Dialled, 1), "100");
    EXPECT_EQ(lists.number(CallKind::Dialled, 7), "");
}

TEST(CallLogLists, RecordsAppendedWhileTheWindowIsOpenSurviveEverySave) {
    CallLogPhone p;
    p.append(CallKind::Received, "111");
    p.append(CallKind::Received, "222");
    CallLogLists lists(p.t.phone.history);
    lists.load();
    lists.removeRows(CallKind::Received, {0});

    p.append(CallKind::Received, "333"); // a call answered meanwhile
    ASSERT_TRUE(lists.save(CallKind::Received));
    QStringList numbers;
    for (const QString& row : p.t.history(CallKind::Received))
        numbers << NumberFromCallRecord(row);
    EXPECT_EQ(numbers, (QStringList{"222", "333"}));

    // A second save after the file was rewritten and appended to again (a retry after a failed
    // close) neither duplicates nor drops a record.
    p.append(CallKind::Received, "444");
    ASSERT_TRUE(lists.save(CallKind::Received));
    numbers.clear();
    for (const QString& row : p.t.history(CallKind::Received))
        numbers << NumberFromCallRecord(row);
    EXPECT_EQ(numbers, (QStringList{"222", "333", "444"}));
}

namespace {

// The real window over the fake phone, driven by the user's gestures.
struct LogWindow {
    CallLogPhone p;
    std::unique_ptr<CCallLog> w;
    int result = -1;

    void run(const std::function<void()>& body) {
        w = std::make_unique<CCallLog>(p.t.phone);
        whenModal<CCallLog>([&](CCallLog*) {
            body();
            if (w->isVisible())
                w->done(100);
        });
        result = w->exec();
    }
    QListWidget* list(int id) const { return w->controlAs<QListWidget>(id); }
    void doubleClick(int id, int row) {
        QListWidget* l = list(id);
        const QRect r = l->visualItemRect(l->item(row));
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(l->viewport(), Qt::LeftButton, {}, r.center());
    }
    void click(int id) { QTest::mouseClick(w->control(id), Qt::LeftButton); }
};

} // namespace

TEST(CallLogLists, AFileThatCannotBeReadIsNeverReplaced) {
    QTemporaryDir top;
    const QString dir = top.path() + QStringLiteral("/history");
    const CallHistory history(dir);
    const QDateTime t(QDate(2026, 12, 9), QTime(10, 0, 0));
    for (const char* n : {"4021", "4022"}) {
        ASSERT_TRUE(history.AppendCallRecord(CallKind::Dialled, n, t));
        ASSERT_TRUE(history.AppendCallRecord(CallKind::Missed, n, t));
    }
    QFile dialled(history.path(CallKind::Dialled));
    ASSERT_TRUE(dialled.open(QIODevice::ReadOnly));
    const QByteArray before = dialled.readAll();
    dialled.close();

    // The window opens, shows nothing of the file it cannot read, clears a missed row and is
    // closed: both files are written back as far as they can be.
    EXPECT_TRUE(filetest::WithUnreadableFile(top.path(), dir, history.path(CallKind::Dialled), [&] {
        CallLogLists lists(history);
        lists.load();
        if (!lists.rows(CallKind::Dialled).isEmpty() || lists.rows(CallKind::Missed).size() != 2)
            return false;
        lists.removeRows(CallKind::Missed, {0});
        return lists.save(CallKind::Dialled) && lists.save(CallKind::Received) &&
               lists.save(CallKind::Missed);
    }));
    ASSERT_TRUE(dialled.open(QIODevice::ReadOnly));
    EXPECT_EQ(dialled.readAll(), before);
    EXPECT_EQ(history.LoadCallRecords(CallKind::Missed).size(), 1);
}

TEST(CallLogWindow, ClearThenCloseRewritesTheFilesAndStopsTheFlashing) {
    LogWindow l;
    for (const char* n : {"1", "2", "3", "4", "5"})
        l.p.append(CallKind::Dialled, QString::fromLatin1(n));
    l.p.append(CallKind::Missed, "9");
    l.p.t.view.startTimer(timer::Flash, 500);
    l.run([&] {
        EXPECT_EQ(l.w->pageWord(), "dialled");
        EXPECT_TRUE(l.list(logctl::Dialled)->isVisible());
        EXPECT_FALSE(l.list(logctl::Missed)->isVisible());
        EXPECT_EQ(l.w->control(logctl::DialledTab)->palette().color(QPalette::WindowText), QColor(255, 0, 0));

        // Shift-click three rows, clear them.
        QListWidget* d = l.list(logctl::Dialled);
        QTest::mouseClick(d->viewport(), Qt::LeftButton, {}, d->visualItemRect(d->item(1)).center());
        QTest::mouseClick(d->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          d->visualItemRect(d->item(3)).center());
        l.click(logctl::Clear);
        EXPECT_EQ(d->count(), 2);
        // Nothing is written before the close command.
        EXPECT_EQ(l.p.t.history(CallKind::Dialled).size(), 5);

        // The missed tab turns red and shows its list.
        l.click(logctl::MissedTab);
        EXPECT_EQ(l.w->pageWord(), "missed");
        EXPECT_TRUE(l.list(logctl::Missed)->isVisible());
        EXPECT_EQ(l.w->control(logctl::MissedTab)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        EXPECT_EQ(l.w->control(logctl::DialledTab)->palette().color(QPalette::WindowText), QColor(Qt::black));

        l.click(logctl::Close);
    });
    EXPECT_EQ(l.result, QDialog::Accepted);
    EXPECT_TRUE(l.w->chosenNumber().isEmpty());
    EXPECT_FALSE(l.p.t.view.timers.contains(timer::Flash));
    QStringList numbers;
    for (const QString& row : l.p.t.history(CallKind::Dialled))
        numbers << NumberFromCallRecord(row);
    EXPECT_EQ(numbers, (QStringList{"1", "5"}));
}

TEST(CallLogWindow, DoubleClickSavesOnlyItsListAndHandsBackTheNumber) {
    LogWindow l;
    l.p.append(CallKind::Dialled, "4021");
    l.p.append(CallKind::Missed, "7001");
    l.p.append(CallKind::Missed, "7002");
    l.p.t.phone.st.missedCall = 1;
    l.run([&] {
        EXPECT_EQ(l.w->pageWord(), "missed");
        QListWidget* m = l.list(logctl::Missed);
        m->setCurrentRow(0);
        l.click(logctl::Clear);
        ASSERT_EQ(m->count(), 1);
        l.click(logctl::DialledTab);
        l.doubleClick(logctl::Dialled, 0);
    });
    EXPECT_EQ(l.result, QDialog::Accepted);
    EXPECT_EQ(l.w->chosenNumber(), "4021");
    EXPECT_EQ(l.p.t.phone.st.missedCall, 0);
    // The missed list was not saved: its cleared row comes back.
    EXPECT_EQ(l.p.t.history(CallKind::Missed).size(), 2);
}

TEST(CallLogWindow, EnterAndEscapeDropTheRemovals) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        LogWindow l;
        l.p.append(CallKind::Dialled, "4021");
        l.run([&] {
            l.list(logctl::Dialled)->setCurrentRow(0);
            l.click(logctl::Clear);
            QTest::keyClick(l.list(logctl::Dialled), key);
        });
        EXPECT_EQ(l.result, key == Qt::Key_Return ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_TRUE(l.w->chosenNumber().isEmpty());
        EXPECT_EQ(l.p.t.history(CallKind::Dialled).size(), 1);
    }
}
