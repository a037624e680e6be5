// Where the saved password lives. In the desktop's keyring, one entry per user name; in the
// settings file ("Password1") only while the keyring has not taken it: where no keyring answers,
// and from a login until the keyring confirms it holds the password (a user of an older version
// finds the file's password moved there after the next successful registration). So a password
// in the file is never older than the keyring's, and nothing is lost when the keyring refuses: the
// file keeps it. A user who never ticks "Save" never touches the keyring.
#pragma once

#include "platform/SecretStore.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QEventLoop;

class SavedPassword : public QObject {
public:
    // How long the login window waits for the keyring's answer before logging in without it.
    static constexpr int kAnswerBoundMs = 3000;

    explicit SavedPassword(ISecretStore& store);
    ~SavedPassword() override;

    // The user name whose password the login window asks the keyring for when it opens: the
    // saved user's, with "Save" on and no password in the file; empty when there is nothing to ask.
    QString userToAsk() const;
    // Asks the keyring for `user`'s password; `done` gets it (nothing: none saved, or no keyring)
    // unless `context` is gone by then.
    void ask(const QString& user, QObject* context, std::function<void(const std::optional<QString>&)> done);
    // The keyring left the login window's question unanswered for answerBoundMs: it counts as
    // unavailable for the rest of this run, unless it answers after all.
    void noAnswerInTime();

    // The login command saves `password` for `user` ("Save" on) or not: returns what the file's
    // "Password1" is to hold, and starts what the keyring is to do. `previousUser`: the user name
    // saved until now (empty when "Save" was off), whose entry goes when it is no longer saved.
    QString onLoginSaved(const QString& previousUser, const QString& user, const QString& password,
                         bool save);
    // The server accepted `user` with `password`: a copy moved from an older version's file goes
    // once the keyring holds it.
    void onRegistered(const QString& user, const QString& password);

    // Waits, running the event loop for at most `timeoutMs`, until no change to the keyring is in
    // flight (not at all when the keyring does not answer): at the end of the program, so that a
    // login moments before still has its password moved, or its entry removed.
    void finishPending(int timeoutMs);

    int answerBoundMs = kAnswerBoundMs;

private:
    struct Pending {
        QString user;
        QString password;
        int generation = 0;
        bool written = false;
        bool registered = false;
    };

    void remove(const QString& user);
    void changeDone();
    void clearFileWhenMoved();
    void unavailable(const QString& reason);

    ISecretStore& store_;
    bool unavailable_ = false;
    bool warned_ = false;
    // What the keyring is known to hold, from its own answers in this run.
    std::optional<std::pair<QString, QString>> known_;
    std::optional<Pending> pending_;
    int generation_ = 0;
    int changesInFlight_ = 0;
    QPointer<QEventLoop> finishing_;
};
