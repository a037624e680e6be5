// Where the saved password lives: the file keeps it until the keyring holds it (a settings file of
// the version before the keyring is moved after the server has also accepted it), nothing
// is lost when the keyring refuses, clearing "Save" removes the entry, and the log says once why
// the keyring is not used. The real login window over a keyring fake.
#include "fakes/FakeSecretStore.h"
#include "fakes/FakeServices.h"
#include "fakes/Modal.h"
#include "history/Login.h"
#include "history/LoginSettings.h"
#include "history/SavedPassword.h"
#include "phone/ControlIds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace fake;

namespace {

const QString kUser = QStringLiteral("carol");
const QString kPassword = QStringLiteral("p&<>\"'w"); // as saved by the fixture below

QString Stored(const QString& name) {
    return QSettings("Kestu", "SoftPhone").value(name).toString();
}

QByteArray FileText() {
    QFile f(LoginSettings::fileName());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The settings file as the version before the keyring left it after a saved login of carol
// (captured from that version's login window).
void InstallFileOfTheVersionBefore() {
    QSettings("Kestu", "SoftPhone").clear();
    QFile::remove(LoginSettings::fileName());
    QDir().mkpath(QFileInfo(LoginSettings::fileName()).absolutePath());
    ASSERT_TRUE(QFile::copy(QStringLiteral(ORVANE_LAB_DIR "/fixtures/SoftPhone-before-keyring.conf"),
                            LoginSettings::fileName()));
    ASSERT_EQ(QSettings("Kestu", "SoftPhone").value("Password1").toString(), kPassword);
}

// The warnings of one logging category, while it lives.
class CategoryLog {
public:
    explicit CategoryLog(const char* category) {
        category_ = category;
        lines_.clear();
        previous_ = qInstallMessageHandler(&CategoryLog::handle);
    }
    ~CategoryLog() { qInstallMessageHandler(previous_); }
    QStringList lines() const { return lines_; }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (context.category && qstrcmp(context.category, category_) == 0 && type >= QtWarningMsg)
            lines_ << text;
    }
    static inline const char* category_ = nullptr;
    static inline QStringList lines_;
    QtMessageHandler previous_;
};

// One run of the program as far as the saved password goes: its keyring, the login window
// (opened as many times as asked), and the registered event.
struct ProgramRun {
    View main;
    MessageBoxes box;
    SecretStore& keyring;
    SavedPassword saved{keyring};
    explicit ProgramRun(SecretStore& k) : keyring(k) {}

    // Opens the login window; `act` works in it and ends it (left open, it fails and is closed).
    // Returns the run's result.
    int login(const std::function<void(CLogin*)>& act) {
        CLogin w(main, box, saved, "sip.default.net");
        whenModal<CLogin>([act](CLogin* l) {
            act(l);
            if (l->isVisible()) {
                ADD_FAILURE() << "the login window is still open";
                l->reject();
            }
        });
        return w.exec();
    }
    static QLineEdit* edit(CLogin* w, int id) { return qobject_cast<QLineEdit*>(w->control(id)); }
    static void type(CLogin* w, const QString& user, const QString& password, bool save) {
        edit(w, loginctl::UserName)->clear();
        edit(w, loginctl::Password)->clear();
        QTest::keyClicks(edit(w, loginctl::UserName), user);
        QTest::keyClicks(edit(w, loginctl::Password), password);
        w->setSaveChecked(save);
        QTest::keyClick(edit(w, loginctl::Password), Qt::Key_Return);
    }
    void registered() { saved.onRegistered(main.text(ctl::UserNameField), main.text(ctl::PasswordField)); }
};

} // namespace

TEST(SavedPassword, ATypedPasswordLeavesTheFileAsSoonAsTheKeyringHoldsIt) {
    for (const bool registeredFirst : {false, true}) {
        SCOPED_TRACE(registeredFirst ? "registered first" : "keyring first");
        QSettings("Kestu", "SoftPhone").clear();
        SecretStore keyring;
        keyring.hold = true;
        ProgramRun run(keyring);
        ASSERT_EQ(run.login([](CLogin* w) { ProgramRun::type(w, kUser, kPassword, true); }),
                  QDialog::Accepted);
        // Until then the file keeps it: a program ended now loses nothing.
        EXPECT_EQ(keyring.calls, QStringList{"write(carol)"});
        EXPECT_EQ(Stored("Password1"), kPassword);
        if (registeredFirst) {
            run.registered();
            EXPECT_EQ(Stored("Password1"), kPassword);
        }
        ASSERT_TRUE(keyring.answerNext());
        EXPECT_EQ(keyring.entries.value(kUser), kPassword);
        EXPECT_EQ(Stored("Password1"), "");
        EXPECT_FALSE(FileText().contains("w\n")) << FileText().toStdString();
        EXPECT_EQ(Stored("UserName"), kUser);
        EXPECT_EQ(Stored("Save"), "Y");
        EXPECT_EQ(Stored("SIPIP"), "sip.default.net");

        // The next start fills it from the keyring, and its login gives the file no copy.
        keyring.hold = false;
        ProgramRun next(keyring);
        QString shown;
        ASSERT_EQ(next.login([&](CLogin* w) {
            ASSERT_TRUE(waitFor([&] { return !w->waitingForKeyring(); }));
            shown = w->text(loginctl::Password);
            QTest::keyClick(ProgramRun::edit(w, loginctl::Password), Qt::Key_Return);
        }),
                  QDialog::Accepted);
        EXPECT_EQ(shown, kPassword);
        EXPECT_EQ(Stored("Password1"), "");
        EXPECT_EQ(keyring.calls.last(), "read(carol)");
    }
}

TEST(SavedPassword, TheFileOfTheVersionBeforeIsMovedAfterTheNextSuccessfulRegistration) {
    InstallFileOfTheVersionBefore();
    const QByteArray before = FileText();
    SecretStore keyring;
    ProgramRun run(keyring);
    QString shown;
    ASSERT_EQ(run.login([&](CLogin* w) {
        // The file's password is there at once; the keyring is not asked for another.
        shown = w->text(loginctl::Password);
        EXPECT_TRUE(w->isSaveChecked());
        EXPECT_FALSE(w->waitingForKeyring());
        QTest::keyClick(ProgramRun::edit(w, loginctl::Password), Qt::Key_Return);
    }),
              QDialog::Accepted);
    EXPECT_EQ(shown, kPassword);
    ASSERT_TRUE(waitFor([&] { return keyring.entries.contains(kUser); }));
    // Not before the server has accepted it.
    EXPECT_EQ(Stored("Password1"), kPassword);
    run.registered();
    EXPECT_EQ(Stored("Password1"), "");
    EXPECT_EQ(keyring.entries.value(kUser), kPassword);
    // The rest of the file as it was, in its format (the server, as on every login, the default).
    QByteArray expected = before;
    expected.replace("Password1=p&<>\\\"'w", "Password1=");
    expected.replace("SIPIP=127.0.0.1:5060", "SIPIP=sip.default.net");
    EXPECT_EQ(FileText(), expected);
}

TEST(SavedPassword, AKeyringThatRefusesLeavesThePasswordInTheFileAndTheLogSaysWhyOnce) {
    InstallFileOfTheVersionBefore();
    CategoryLog log("orvane.keyring");
    {
        SecretStore keyring;
        keyring.unavailable = QStringLiteral("the keyring is locked");
        ProgramRun run(keyring);
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(run.login([](CLogin* w) {
                QTest::keyClick(ProgramRun::edit(w, loginctl::Password), Qt::Key_Return);
            }),
                      QDialog::Accepted);
            run.registered();
            ASSERT_TRUE(waitFor([&] { return !log.lines().isEmpty(); }));
            EXPECT_EQ(Stored("Password1"), kPassword);
        }
        // Refused once, it is not asked again in this run.
        EXPECT_EQ(keyring.calls, QStringList{"write(carol)"});
        ASSERT_EQ(log.lines().size(), 1) << log.lines().join("\n").toStdString();
        EXPECT_TRUE(log.lines()[0].contains("the keyring is locked"));
        EXPECT_TRUE(log.lines()[0].contains(LoginSettings::fileName()));
        EXPECT_FALSE(log.lines()[0].contains(kPassword));
    }
    // A later start tries again, and this time the keyring takes it.
    SecretStore keyring;
    ProgramRun run(keyring);
    ASSERT_EQ(run.login([](CLogin* w) {
        QTest::keyClick(ProgramRun::edit(w, loginctl::Password), Qt::Key_Return);
    }),
              QDialog::Accepted);
    run.registered();
    ASSERT_TRUE(waitFor([&] { return Stored("Password1").isEmpty(); }));
    EXPECT_EQ(keyring.entries.value(kUser), kPassword);
}

TEST(SavedPassword, ClearingSaveRemovesTheEntryAndANewUserReplacesTheOld) {
    QSettings("Kestu", "SoftPhone").clear();
    SecretStore keyring;
    ProgramRun run(keyring);
    // Never saving never touches the keyring.
    run.login([](CLogin* w) { ProgramRun::type(w, "alice", "a-secret", false); });
    EXPECT_TRUE(keyring.calls.isEmpty());

    run.login([](CLogin* w) { ProgramRun::type(w, "alice", "a-secret", true); });
    run.registered();
    ASSERT_TRUE(waitFor([&] { return keyring.entries.value("alice") == "a-secret"; }));
    // Another user saved in its place: the old entry goes.
    run.login([](CLogin* w) { ProgramRun::type(w, "bob", "b-secret", true); });
    run.registered();
    ASSERT_TRUE(waitFor([&] { return keyring.entries.value("bob") == "b-secret"; }));
    EXPECT_FALSE(keyring.entries.contains("alice"));

    // "Save" cleared, the password filled from the keyring: the entry goes, the file keeps none.
    ProgramRun next(keyring);
    next.login([](CLogin* w) {
        ASSERT_TRUE(waitFor([&] { return !w->waitingForKeyring(); }));
        EXPECT_EQ(w->text(loginctl::Password), "b-secret");
        w->setSaveChecked(false);
        w->OnLogin();
    });
    ASSERT_TRUE(waitFor([&] { return keyring.entries.isEmpty(); }));
    EXPECT_EQ(Stored("Save"), "N");
    EXPECT_EQ(Stored("Password1"), "");
    EXPECT_EQ(next.main.text(ctl::PasswordField), "b-secret");
}

TEST(SavedPassword, TheEndOfTheProgramWaitsBrieflyForAMoveInFlight) {
    QSettings("Kestu", "SoftPhone").clear();
    SecretStore keyring;
    keyring.hold = true;
    ProgramRun run(keyring);
    run.login([](CLogin* w) { ProgramRun::type(w, kUser, kPassword, true); });
    run.registered();
    // The keyring answers while the program ends.
    QTimer::singleShot(100, [&] { keyring.answerNext(); });
    run.saved.finishPending(5000);
    EXPECT_EQ(Stored("Password1"), "");
    EXPECT_EQ(keyring.entries.value(kUser), kPassword);
}
