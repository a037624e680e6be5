// The login window: what it reads when it opens, what its login command saves and copies into
// the main window and in which order, and its keys.
#include "fakes/FakeSecretStore.h"
#include "fakes/FakeServices.h"
#include "fakes/Modal.h"
#include "history/Login.h"
#include "history/LoginSettings.h"
#include "history/SavedPassword.h"
#include "phone/ControlIds.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

using namespace fake;

namespace {

struct LoginWindow {
    View main;
    MessageBoxes box;
    SecretStore keyring;
    SavedPassword saved{keyring};
    std::unique_ptr<CLogin> w;
    explicit LoginWindow(bool clearSettings = true) {
        if (clearSettings)
            QSettings("Kestu", "SoftPhone").clear();
        w = std::make_unique<CLogin>(main, box, saved, "sip.default.net");
    }
    QLineEdit* edit(int id) const { return qobject_cast<QLineEdit*>(w->control(id)); }
    // Opens the window modally, lets `act` work in it, returns the run's result. A window that
    // `act` leaves open is a failure (and closed), not a test that hangs.
    int open(const std::function<void(CLogin*)>& act) {
        whenModal<CLogin>([act](CLogin* l) {
            act(l);
            if (l->isVisible()) {
                ADD_FAILURE() << "the login window is still open";
                l->reject();
            }
        });
        return w->exec();
    }
    static QString stored(const QString& name) {
        return QSettings("Kestu", "SoftPhone").value(name).toString();
    }
};

} // namespace

TEST(LoginWindow, OpensEmptyWithoutSavedValues) {
    LoginWindow l;
    l.open([&](CLogin* w) {
        EXPECT_EQ(l.edit(loginctl::UserName)->text(), "");
        EXPECT_EQ(l.edit(loginctl::Password)->text(), "");
        EXPECT_FALSE(w->isSaveChecked());
        w->reject();
    });
}

TEST(LoginWindow, SavingOnStoresTrimmedEntriesAndCopiesThemWithTheDefaultServer) {
    LoginWindow l;
    const int result = l.open([&](CLogin* w) {
        w->setText(loginctl::Server, "typed.server.example"); // never survives a login
        w->setText(loginctl::AccNumber, " 42 ");
        QTest::keyClicks(l.edit(loginctl::UserName), "  alice\t");
        QTest::keyClicks(l.edit(loginctl::Password), " secret ");
        w->setSaveChecked(true);
        QTest::keyClick(l.edit(loginctl::Password), Qt::Key_Return); // Enter in a field logs in
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(l.main.text(ctl::UserNameField), "alice");
    EXPECT_EQ(l.main.text(ctl::PasswordField), "secret");
    EXPECT_EQ(l.main.text(ctl::ServerField), "sip.default.net");
    EXPECT_EQ(l.main.text(ctl::AccNumberField), " 42 "); // account fields are not trimmed
    EXPECT_EQ(LoginWindow::stored("UserName"), "alice");
    EXPECT_EQ(LoginWindow::stored("Password1"), "secret");
    EXPECT_EQ(LoginWindow::stored("SIPIP"), "sip.default.net");
    EXPECT_EQ(LoginWindow::stored("AccNumber"), " 42 ");
    EXPECT_EQ(LoginWindow::stored("Save"), "Y");
    // The main window's fields are set in the order of the command's steps.
    EXPECT_EQ(l.main.log.filter("setText").mid(0, 3),
              (QStringList{"setText(1004,alice)", "setText(1002,secret)", "setText(1005,sip.default.net)"}));

    // The next opening shows them.
    LoginWindow next(false);
    next.open([&](CLogin* w) {
        EXPECT_EQ(next.edit(loginctl::UserName)->text(), "alice");
        EXPECT_EQ(next.edit(loginctl::Password)->text(), "secret");
        EXPECT_EQ(w->text(loginctl::Server), "sip.default.net");
        EXPECT_EQ(w->text(loginctl::AccNumber), ""); // never read back
        EXPECT_TRUE(w->isSaveChecked());
        w->reject();
    });
}

TEST(LoginWindow, SavingOffErasesWhatWasSaved) {
    {
        LoginWindow l;
        l.open([&](CLogin* w) {
            QTest::keyClicks(l.edit(loginctl::UserName), "alice");
            QTest::keyClicks(l.edit(loginctl::Password), "secret");
            w->setSaveChecked(true);
            w->OnLogin();
        });
    }
    LoginWindow l(false);
    l.open([&](CLogin* w) {
        w->setSaveChecked(false);
        w->OnLogin();
    });
    for (const char* name : {"UserName", "Password1", "SIPIP", "AccNumber", "AccPasword"}) {
        EXPECT_TRUE(QSettings("Kestu", "SoftPhone").contains(name)) << name;
        EXPECT_EQ(LoginWindow::stored(name), "") << name;
    }
    EXPECT_EQ(LoginWindow::stored("Save"), "N");
    EXPECT_EQ(l.main.text(ctl::UserNameField), "alice"); // the login itself went on
}

TEST(LoginWindow, BlankEntriesKeepTheWindowOpenButAUserNameIsAlreadyTaken) {
    LoginWindow l;
    bool stillOpen = false;
    const int result = l.open([&](CLogin* w) {
        QTest::keyClicks(l.edit(loginctl::UserName), "   ");
        w->OnLogin();
        EXPECT_EQ(l.box.texts(), QStringList{"UserName and Password Must Not be Blank"});
        EXPECT_TRUE(l.main.log.isEmpty());

        l.edit(loginctl::UserName)->setText("bob");
        w->setSaveChecked(true);
        w->OnLogin();
        EXPECT_EQ(l.box.texts().size(), 2);
        stillOpen = w->isVisible();
        w->reject();
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(l.main.text(ctl::UserNameField), "bob");
    EXPECT_EQ(LoginWindow::stored("UserName"), "bob");
    EXPECT_FALSE(l.main.texts.contains(ctl::PasswordField));
    EXPECT_FALSE(QSettings("Kestu", "SoftPhone").contains("Password1"));
}

TEST(LoginWindow, SavedValuesAreReadByTheirRules) {
    {
        QSettings s("Kestu", "SoftPhone");
        s.clear();
        s.setValue("UserName", QString(126, 'u'));
        s.setValue("Password1", QString(127, 'p')); // too long: ignored
        s.setValue("Save", "y");                    // only exactly "Y" checks the box
        s.sync();
    }
    LoginWindow l(false);
    l.open([&](CLogin* w) {
        EXPECT_EQ(l.edit(loginctl::UserName)->text(), QString(126, 'u'));
        EXPECT_EQ(l.edit(loginctl::Password)->text(), "");
        EXPECT_FALSE(w->isSaveChecked());
        w->reject();
    });
}

TEST(LoginWindow, ExitAndEscapeCancelWithoutSavingAnything) {
    LoginWindow l;
    EXPECT_EQ(l.open([&](CLogin* w) {
        QTest::keyClicks(l.edit(loginctl::UserName), "alice");
        QTest::keyClick(w, Qt::Key_Escape);
    }),
              QDialog::Rejected);
    LoginWindow m(false);
    EXPECT_EQ(m.open([&](CLogin* w) {
        QTest::keyClicks(m.edit(loginctl::UserName), "alice");
        QTest::keyClicks(m.edit(loginctl::Password), "pw");
        qobject_cast<QAbstractButton*>(w->control(loginctl::Exit))->click();
    }),
              QDialog::Rejected);
    EXPECT_TRUE(m.main.log.isEmpty());
    EXPECT_FALSE(QSettings("Kestu", "SoftPhone").contains("UserName"));
}

namespace {

// A saved login whose password is in the keyring (the file holds none).
void SaveLoginWithoutPassword(const QString& user) {
    QSettings s("Kestu", "SoftPhone");
    s.clear();
    s.setValue("UserName", user);
    s.setValue("Password1", "");
    s.setValue("Save", "Y");
    s.sync();
}

} // namespace

TEST(LoginWindow, TheKeyringsAnswerFillsThePasswordUnlessTheUserHasBegunTyping) {
    for (const bool typedFirst : {false, true}) {
        SCOPED_TRACE(typedFirst ? "typed first" : "untouched");
        SaveLoginWithoutPassword("alice");
        LoginWindow l(false);
        l.keyring.entries["alice"] = "from-keyring";
        l.keyring.hold = true;
        l.open([&](CLogin* w) {
            // The window is open and at work before the keyring has answered.
            EXPECT_EQ(l.keyring.calls, QStringList{"read(alice)"});
            EXPECT_EQ(l.edit(loginctl::UserName)->text(), "alice");
            EXPECT_EQ(l.edit(loginctl::Password)->text(), "");
            if (typedFirst) {
                QTest::keyClicks(l.edit(loginctl::Password), "typed");
                QTest::keyClick(l.edit(loginctl::Password), Qt::Key_Backspace);
            }
            ASSERT_TRUE(l.keyring.answerNext());
            EXPECT_EQ(l.edit(loginctl::Password)->text(), typedFirst ? "type" : "from-keyring");
            w->reject();
        });
    }
    // Another user name typed over the saved one: its answer is not that user's password.
    SaveLoginWithoutPassword("alice");
    LoginWindow l(false);
    l.keyring.entries["alice"] = "from-keyring";
    l.keyring.hold = true;
    l.open([&](CLogin* w) {
        l.edit(loginctl::UserName)->clear();
        QTest::keyClicks(l.edit(loginctl::UserName), "bob");
        ASSERT_TRUE(l.keyring.answerNext());
        EXPECT_EQ(l.edit(loginctl::Password)->text(), "");
        w->reject();
    });
}

TEST(LoginWindow, EnterBeforeTheKeyringAnswersWaitsForItsPassword) {
    const QString password = QStringLiteral("p&<>\"'w#+%= ") + QString(114, u'x');
    ASSERT_EQ(password.size(), 126);
    SaveLoginWithoutPassword("carol");
    LoginWindow l(false);
    l.keyring.entries["carol"] = password;
    l.keyring.hold = true;
    bool waited = false;
    const int result = l.open([&](CLogin* w) {
        QTest::keyClick(l.edit(loginctl::Password), Qt::Key_Return);
        QTest::keyClick(l.edit(loginctl::Password), Qt::Key_Return); // impatient: still one login
        // Nothing was sent with an empty password; the window is still there, waiting.
        waited = w->isVisible() && w->waitingForKeyring() && l.main.log.isEmpty() && l.box.shown.isEmpty();
        ASSERT_TRUE(l.keyring.answerNext());
    });
    EXPECT_TRUE(waited);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(l.main.text(ctl::PasswordField), password);
    EXPECT_EQ(l.main.log.filter("setText(1002").size(), 1);
    EXPECT_TRUE(l.box.shown.isEmpty());
    // The keyring already holds exactly this password: the file is not given a copy.
    EXPECT_EQ(LoginWindow::stored("Password1"), "");
    EXPECT_EQ(l.keyring.calls, QStringList{"read(carol)"});
}

TEST(LoginWindow, AKeyringThatNeverAnswersHoldsALoginOnlyForTheBoundThenTheFileServes) {
    SaveLoginWithoutPassword("alice");
    LoginWindow l(false);
    l.saved.answerBoundMs = 300;
    l.keyring.hold = true; // never answered
    QElapsedTimer clock;
    qint64 blankAfter = -1;
    l.box.onShow = [&](const QString&) { blankAfter = clock.elapsed(); };
    const int result = l.open([&](CLogin* w) {
        clock.start();
        QTest::keyClick(l.edit(loginctl::Password), Qt::Key_Return);
        EXPECT_TRUE(l.box.shown.isEmpty());
        // After the bound the login goes on without the keyring: the field is empty, so it is refused.
        ASSERT_TRUE(waitFor([&] { return !l.box.shown.isEmpty(); }, 5000));
        EXPECT_FALSE(w->waitingForKeyring());
        QTest::keyClicks(l.edit(loginctl::Password), "typed-secret");
        QTest::keyClick(l.edit(loginctl::Password), Qt::Key_Return);
    });
    EXPECT_GE(blankAfter, 280);
    EXPECT_EQ(l.box.texts(), QStringList{"UserName and Password Must Not be Blank"});
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(l.main.text(ctl::PasswordField), "typed-secret");
    // With no keyring in this run the password is saved in the file, as without one, and nothing
    // more is asked of the keyring.
    EXPECT_EQ(LoginWindow::stored("Password1"), "typed-secret");
    EXPECT_EQ(l.keyring.calls, QStringList{"read(alice)"});
}
