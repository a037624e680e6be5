#include "fakes/FakeSecretStore.h"

#include <QTimer>

namespace fake {

void SecretStore::read(const QString& user, QObject* context, Done done) {
    take({QStringLiteral("read"), user, {}, context, std::move(done)});
}

void SecretStore::write(const QString& user, const QString& secret, QObject* context, Done done) {
    take({QStringLiteral("write"), user, secret, context, std::move(done)});
}

void SecretStore::remove(const QString& user, QObject* context, Done done) {
    take({QStringLiteral("remove"), user, {}, context, std::move(done)});
}

void SecretStore::take(Call call) {
    calls << QStringLiteral("%1(%2)").arg(call.op, call.user);
    if (hold) {
        held_.append(std::move(call));
        return;
    }
    QObject* context = call.context;
    QTimer::singleShot(0, context, [this, call = std::move(call)] { answer(call); });
}

bool SecretStore::answerNext() {
    if (held_.isEmpty())
        return false;
    const Call call = held_.takeFirst();
    answer(call);
    return true;
}

void SecretStore::answer(const Call& call) {
    Answer a;
    if (!unavailable.isEmpty()) {
        a.status = Status::Unavailable;
        a.reason = unavailable;
    } else if (call.op == QLatin1String("read")) {
        a.status = entries.contains(call.user) ? Status::Ok : Status::NotFound;
        a.secret = entries.value(call.user);
    } else if (call.op == QLatin1String("write")) {
        entries[call.user] = call.secret;
        a.status = Status::Ok;
    } else {
        a.status = entries.remove(call.user) ? Status::Ok : Status::NotFound;
    }
    if (call.context)
        call.done(a);
}

} // namespace fake
