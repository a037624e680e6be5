#include "platform/KeychainStore.h"

#include <qt6keychain/keychain.h>

namespace {

ISecretStore::Answer AnswerOf(const QKeychain::Job& job) {
    ISecretStore::Answer a;
    switch (job.error()) {
    case QKeychain::NoError:
        a.status = ISecretStore::Status::Ok;
        if (const auto* read = qobject_cast<const QKeychain::ReadPasswordJob*>(&job))
            a.secret = read->textData();
        break;
    case QKeychain::EntryNotFound:
        a.status = ISecretStore::Status::NotFound;
        break;
    default:
        a.status = ISecretStore::Status::Unavailable;
        a.reason = job.errorString();
        break;
    }
    return a;
}

// The job has no parent and deletes itself once it has answered: the keyring library still
// holds it until then (it cannot be cancelled), however long the keyring takes, so it must
// outlive whoever asked. The answer reaches `done` only while `context` lives.
void Start(QKeychain::Job* job, const QString& user, QObject* context, ISecretStore::Done done) {
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(user);
    QObject::connect(job, &QKeychain::Job::finished, context,
                     [done = std::move(done)](QKeychain::Job* j) { done(AnswerOf(*j)); });
    job->start();
}

} // namespace

void KeychainStore::read(const QString& user, QObject* context, Done done) {
    Start(new QKeychain::ReadPasswordJob(kService), user, context, std::move(done));
}

void KeychainStore::write(const QString& user, const QString& secret, QObject* context, Done done) {
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setTextData(secret);
    Start(job, user, context, std::move(done));
}

void KeychainStore::remove(const QString& user, QObject* context, Done done) {
    Start(new QKeychain::DeletePasswordJob(kService), user, context, std::move(done));
}
