#include "history/SavedPassword.h"

#include "history/LoginSettings.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcKeyring, "orvane.keyring", QtWarningMsg)

SavedPassword::SavedPassword(ISecretStore& store) : store_(store) {}

SavedPassword::~SavedPassword() = default;

QString SavedPassword::userToAsk() const {
    const LoginSettings settings;
    if (!settings.saveChecked() || !settings.read(LoginSettings::kPassword).value_or(QString()).isEmpty())
        return {};
    return settings.read(LoginSettings::kUserName).value_or(QString());
}

void SavedPassword::ask(const QString& user, QObject* context,
                        std::function<void(const std::optional<QString>&)> done) {
    // The answer updates what is known of the keyring even when the one who asked is gone.
    const QPointer<QObject> asker(context);
    store_.read(user, this, [this, user, asker, done = std::move(done)](const ISecretStore::Answer& a) {
        std::optional<QString> password;
        switch (a.status) {
        case ISecretStore::Status::Ok:
            unavailable_ = false;
            // The same rules as for the file: a value longer than a saved value can be is ignored.
            if (!a.secret.isEmpty() && a.secret.size() <= LoginSettings::kMaxValueLength) {
                password = a.secret;
                known_.emplace(user, a.secret);
            }
            break;
        case ISecretStore::Status::NotFound:
            unavailable_ = false;
            if (known_ && known_->first == user)
                known_.reset();
            break;
        case ISecretStore::Status::Unavailable:
            unavailable(a.reason);
            break;
        }
        if (asker)
            done(password);
    });
}

void SavedPassword::noAnswerInTime() {
    unavailable(QStringLiteral("it did not answer within %1 ms").arg(answerBoundMs));
}

QString SavedPassword::onLoginSaved(const QString& previousUser, const QString& user, const QString& password,
                                    bool save) {
    if (!save) {
        pending_.reset();
        // Only a saved login can have left an entry.
        if (!previousUser.isEmpty()) {
            remove(previousUser);
            if (user != previousUser)
                remove(user);
        }
        return {};
    }
    if (!previousUser.isEmpty() && previousUser != user)
        remove(previousUser);
    if (known_ && *known_ == std::pair(user, password)) {
        pending_.reset();
        return {};
    }
    // The file holds it until the keyring has it; a password moved from an older version's file
    // also until the server has taken it, so that the one copy known to work is never dropped for
    // a keyring entry not yet tried.
    const LoginSettings current;
    const bool fromOlderFile = current.saveChecked() && current.read(LoginSettings::kUserName) == user &&
                               current.read(LoginSettings::kPassword) == password;
    pending_.reset();
    if (unavailable_)
        return password;
    pending_ = Pending{user, password, ++generation_, false, !fromOlderFile};
    ++changesInFlight_;
    store_.write(user, password, this,
                 [this, user, password, generation = generation_](const ISecretStore::Answer& a) {
                     if (a.status == ISecretStore::Status::Unavailable) {
                         unavailable(a.reason);
                         if (pending_ && pending_->generation == generation)
                             pending_.reset(); // the file keeps it
                     } else {
                         unavailable_ = false;
                         known_.emplace(user, password);
                         if (pending_ && pending_->generation == generation) {
                             pending_->written = true;
                             clearFileWhenMoved();
                         }
                     }
                     changeDone();
                 });
    return password;
}

void SavedPassword::onRegistered(const QString& user, const QString& password) {
    if (pending_ && pending_->user == user && pending_->password == password) {
        pending_->registered = true;
        clearFileWhenMoved();
    }
}

void SavedPassword::clearFileWhenMoved() {
    if (!pending_ || !pending_->written || !pending_->registered)
        return;
    const Pending moved = *pending_;
    pending_.reset();
    LoginSettings settings;
    // Only the very value that was moved, and only while it is still the saved login.
    if (!settings.saveChecked() || settings.read(LoginSettings::kUserName) != moved.user ||
        settings.read(LoginSettings::kPassword) != moved.password)
        return;
    if (settings.write(LoginSettings::kPassword, QString()))
        qCInfo(lcKeyring, "the saved password is in the desktop keyring now, no longer in %s",
               qPrintable(LoginSettings::fileName()));
    else
        qCWarning(lcKeyring, "the password could not be removed from %s",
                  qPrintable(LoginSettings::fileName()));
}

void SavedPassword::remove(const QString& user) {
    if (known_ && known_->first == user)
        known_.reset();
    if (unavailable_)
        return;
    ++changesInFlight_;
    store_.remove(user, this, [this](const ISecretStore::Answer& a) {
        if (a.status == ISecretStore::Status::Unavailable)
            unavailable(a.reason);
        else
            unavailable_ = false;
        changeDone();
    });
}

void SavedPassword::changeDone() {
    --changesInFlight_;
    if (changesInFlight_ == 0 && finishing_)
        finishing_->quit();
}

void SavedPassword::finishPending(int timeoutMs) {
    if (changesInFlight_ == 0 || unavailable_)
        return;
    QEventLoop loop;
    finishing_ = &loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
}

void SavedPassword::unavailable(const QString& reason) {
    unavailable_ = true;
    if (warned_)
        return;
    warned_ = true;
    qCWarning(lcKeyring, "the desktop keyring cannot be used (%s): the saved password is kept in %s",
              qPrintable(reason), qPrintable(LoginSettings::fileName()));
}
