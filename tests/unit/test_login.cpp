// The login window: what it reads when it opens, what its login command saves and copies into
// the main window and in which order, and its keys.
#include "fakes/FakeServices.h"
#include "fakes/Modal.h"
#include "history/Login.h"
#include "history/LoginSettings.h"
#include "phone/ControlIds.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

using namespace fake;

namespace {

struct LoginWindow {
    View main;
    MessageBoxes box;
    std::unique_ptr<CLogin> w;
    explicit LoginWindow(bool clearSettings = true) {
        if (clearSettings)
            QSettings("Kestu", "SoftPhone").clear();
        w = std::make_unique<CLogin>(main, box, "sip.default.net");
    }
    QLineEdit* edit(int id) const { return qobject_cast<QLineEdit*>(w->control(id)); }
    // Opens the window modally, lets `act` work in it, returns the run's result.
    int open(const std::function<void(CLogin*)>& act) {
        whenModal<CLogin>([act](CLogin* l) { act(l); });
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
