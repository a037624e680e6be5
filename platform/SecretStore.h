// The desktop's keyring (the freedesktop Secret Service: GNOME Keyring, KWallet, KeePassXC...),
// one secret per user name. Every call is asynchronous: it answers once, later, on the UI thread,
// unless `context` is gone by then. A keyring may take its time (it may ask the user to unlock
// it) or never answer; callers decide how long they wait.
#pragma once

#include <QString>

#include <functional>

class QObject;

class ISecretStore {
public:
    enum class Status {
        Ok,         // done (read: the secret is in `secret`)
        NotFound,   // the keyring answered and holds no secret for that user name
        Unavailable // no keyring, or it refused or failed: `reason` says why
    };
    struct Answer {
        Status status = Status::Unavailable;
        QString secret;
        QString reason;
    };
    using Done = std::function<void(const Answer&)>;

    virtual ~ISecretStore() = default;
    virtual void read(const QString& user, QObject* context, Done done) = 0;
    virtual void write(const QString& user, const QString& secret, QObject* context, Done done) = 0;
    // Removing a secret that is not there answers NotFound or Ok.
    virtual void remove(const QString& user, QObject* context, Done done) = 0;
};
