// The desktop's keyring through QtKeychain (the Secret Service over D-Bus, through libsecret).
#pragma once

#include "platform/SecretStore.h"

class KeychainStore : public ISecretStore {
public:
    // The entries' service name, which the user's keyring manager shows as their label.
    static inline const QString kService = QStringLiteral("Orvane Softphone");

    void read(const QString& user, QObject* context, Done done) override;
    void write(const QString& user, const QString& secret, QObject* context, Done done) override;
    void remove(const QString& user, QObject* context, Done done) override;
};
