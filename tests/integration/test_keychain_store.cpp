// The keyring store against a real gnome-keyring-daemon in a private D-Bus session
// (tests/lab/keyring.py), against a keyring that refuses, and against no keyring at all. A process
// keeps its first session bus for its life, so each kind of keyring is met by a child process of
// its own, run inside it; the parent checks how the child ended.
#include "integration/test_engine_support.h"
#include "lab/LabProcess.h"
#include "platform/KeychainStore.h"

#include <QElapsedTimer>
#include <QObject>

#include <gtest/gtest.h>

#include <optional>

namespace {

using Status = ISecretStore::Status;

// Runs one store call and waits for its answer (bounded); nothing when none came.
std::optional<ISecretStore::Answer> Await(const std::function<void(QObject*, ISecretStore::Done)>& call,
                                          int timeoutMs = 10000) {
    QObject context;
    std::optional<ISecretStore::Answer> answer;
    call(&context, [&](const ISecretStore::Answer& a) { answer = a; });
    lab::waitUntil([&] { return answer.has_value(); }, timeoutMs);
    return answer;
}

std::optional<ISecretStore::Answer> Read(KeychainStore& store, const QString& user) {
    return Await([&](QObject* c, ISecretStore::Done d) { store.read(user, c, std::move(d)); });
}

std::optional<ISecretStore::Answer> Write(KeychainStore& store, const QString& user, const QString& secret) {
    return Await([&](QObject* c, ISecretStore::Done d) { store.write(user, secret, c, std::move(d)); });
}

std::optional<ISecretStore::Answer> Remove(KeychainStore& store, const QString& user) {
    return Await([&](QObject* c, ISecretStore::Done d) { store.remove(user, c, std::move(d)); });
}

// What secret-tool, the desktop's own tool, finds for `user` under the program's service name.
QString SecretToolLookup(const QString& user, int* exitCode) {
    QString out;
    *exitCode = lab::runToEnd(QStringLiteral("secret-tool"),
                              {QStringLiteral("lookup"), QStringLiteral("user"), user,
                               QStringLiteral("server"), KeychainStore::kService},
                              10000, &out);
    return out;
}

QString SecretToolSearch(const QString& user) {
    QString out;
    lab::runToEnd(QStringLiteral("secret-tool"),
                  {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("user"), user}, 10000,
                  &out);
    return out;
}

void ExpectChildPassed(const enginetest::ChildRun& child) {
    ASSERT_TRUE(child.finished) << child.output.right(3000).toStdString();
    EXPECT_FALSE(child.crashed) << child.output.right(3000).toStdString();
    EXPECT_EQ(child.exitCode, 0) << child.output.right(3000).toStdString();
    EXPECT_TRUE(child.passed) << child.output.right(3000).toStdString();
}

enginetest::ChildRun RunInKeyring(const QString& test, const QString& mode) {
    const QStringList wrapper = {QStringLiteral("/usr/bin/python3"),
                                 QStringLiteral(ORVANE_LAB_DIR "/keyring.py"),
                                 lab::runDir() + QStringLiteral("/keyring-") + mode,
                                 QStringLiteral("--mode"),
                                 mode,
                                 QStringLiteral("--")};
    return enginetest::runDisabledTestInChild(test, QProcessEnvironment::systemEnvironment(), 60000, wrapper);
}

bool InKeyring(const char* mode) {
    return qEnvironmentVariable("ORVANE_KEYRING_MODE") == QLatin1String(mode);
}

} // namespace

TEST(KeychainStoreChild, DISABLED_Unlocked) {
    ASSERT_TRUE(InKeyring("unlocked"));
    KeychainStore store;
    // Every character the password field takes, up to the 126 a saved value can hold.
    const QString password = QStringLiteral("p&<>\"'w#+%= é€ ") + QString(111, u'x');
    ASSERT_EQ(password.size(), 126);

    auto a = Read(store, QStringLiteral("carol"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, Status::NotFound) << a->reason.toStdString();

    a = Write(store, QStringLiteral("carol"), password);
    ASSERT_TRUE(a);
    ASSERT_EQ(a->status, Status::Ok) << a->reason.toStdString();
    a = Read(store, QStringLiteral("carol"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, Status::Ok);
    EXPECT_EQ(a->secret, password);

    // The keyring itself holds it, under the program's name, for that user name.
    int rc = -1;
    EXPECT_EQ(SecretToolLookup(QStringLiteral("carol"), &rc), password);
    EXPECT_EQ(rc, 0);
    const QString described = SecretToolSearch(QStringLiteral("carol"));
    EXPECT_TRUE(described.contains(QStringLiteral("label = Orvane Softphone"))) << described.toStdString();

    // One entry per user name: another user has one of their own; a second write replaces.
    ASSERT_EQ(Write(store, QStringLiteral("dave"), QStringLiteral("dave-secret"))->status, Status::Ok);
    ASSERT_EQ(Write(store, QStringLiteral("carol"), QStringLiteral("changed"))->status, Status::Ok);
    EXPECT_EQ(Read(store, QStringLiteral("carol"))->secret, QStringLiteral("changed"));
    EXPECT_EQ(SecretToolSearch(QStringLiteral("carol")).count(QStringLiteral("label = ")), 1);
    EXPECT_EQ(Read(store, QStringLiteral("dave"))->secret, QStringLiteral("dave-secret"));

    // Removed: gone from the keyring, the other user's entry stays; removing again is no failure.
    a = Remove(store, QStringLiteral("carol"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, Status::Ok) << a->reason.toStdString();
    EXPECT_EQ(Read(store, QStringLiteral("carol"))->status, Status::NotFound);
    SecretToolLookup(QStringLiteral("carol"), &rc);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(Read(store, QStringLiteral("dave"))->secret, QStringLiteral("dave-secret"));
    EXPECT_NE(Remove(store, QStringLiteral("carol"))->status, Status::Unavailable);

    // An answer whose asker is gone reaches nobody (and the job still ends).
    bool answered = false;
    {
        QObject gone;
        store.read(QStringLiteral("dave"), &gone, [&](const ISecretStore::Answer&) { answered = true; });
    }
    EXPECT_EQ(Read(store, QStringLiteral("dave"))->status, Status::Ok); // queued behind the first
    EXPECT_FALSE(answered);
}

TEST(KeychainStoreChild, DISABLED_Locked) {
    ASSERT_TRUE(InKeyring("locked"));
    KeychainStore store;
    auto a = Read(store, QStringLiteral("carol"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, Status::NotFound);
    // Refused: the caller must keep the password elsewhere.
    a = Write(store, QStringLiteral("carol"), QStringLiteral("secret"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, Status::Unavailable);
    EXPECT_FALSE(a->reason.isEmpty());
}

TEST(KeychainStoreChild, DISABLED_NoKeyring) {
    ASSERT_TRUE(InKeyring("no-secret-service") || InKeyring("no-bus"));
    KeychainStore store;
    for (int i = 0; i < 2; ++i) {
        QElapsedTimer clock;
        clock.start();
        const auto a = i == 0 ? Read(store, QStringLiteral("carol"))
                              : Write(store, QStringLiteral("carol"), QStringLiteral("secret"));
        ASSERT_TRUE(a);
        EXPECT_EQ(a->status, Status::Unavailable);
        EXPECT_FALSE(a->reason.isEmpty());
        EXPECT_LT(clock.elapsed(), 5000) << "no keyring is told at once, not after a time-out";
    }
}

TEST(KeychainStore, KeepsEveryCharacterInARealKeyringOneEntryPerUser) {
    ExpectChildPassed(
        RunInKeyring(QStringLiteral("KeychainStoreChild.DISABLED_Unlocked"), QStringLiteral("unlocked")));
}

TEST(KeychainStore, ALockedKeyringFindsNothingAndRefusesToStore) {
    ExpectChildPassed(
        RunInKeyring(QStringLiteral("KeychainStoreChild.DISABLED_Locked"), QStringLiteral("locked")));
}

TEST(KeychainStore, WithoutASecretServiceOrASessionBusItSaysSoAtOnce) {
    ExpectChildPassed(RunInKeyring(QStringLiteral("KeychainStoreChild.DISABLED_NoKeyring"),
                                   QStringLiteral("no-secret-service")));
    // No session bus at all, and no display to start one from.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("ORVANE_KEYRING_MODE"), QStringLiteral("no-bus"));
    ExpectChildPassed(enginetest::runDisabledTestInChild(
        QStringLiteral("KeychainStoreChild.DISABLED_NoKeyring"), env, 60000));
}
