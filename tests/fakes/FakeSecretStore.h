// The desktop's keyring as the logic sees it: entries by user name, every call answered later
// (posted), never at once; or, with `hold`, only when the test releases the answer. With
// `unavailable` set every call answers as a keyring that cannot be used.
#pragma once

#include "platform/SecretStore.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>

namespace fake {

class SecretStore : public ISecretStore {
public:
    void read(const QString& user, QObject* context, Done done) override;
    void write(const QString& user, const QString& secret, QObject* context, Done done) override;
    void remove(const QString& user, QObject* context, Done done) override;

    // Answers the oldest held call; false when none is held.
    bool answerNext();
    int heldCalls() const { return static_cast<int>(held_.size()); }

    QMap<QString, QString> entries;
    QString unavailable; // the reason every call fails with; empty: the keyring works
    bool hold = false;
    QStringList calls; // "read(alice)", "write(alice)", "remove(alice)", in order

private:
    struct Call {
        QString op, user, secret;
        QPointer<QObject> context;
        Done done;
    };
    void take(Call call);
    void answer(const Call& call);

    QList<Call> held_;
};

} // namespace fake
