#include "rtc/linphone/Engine.h"

#include "rtc/linphone/EngineSupport.h"

#include "rtc/linphone/ProvisioningProfile.h"

#include <QTimer>

#include <algorithm>

namespace rtc::lin {

using linphone::RegistrationState;

HRESULT Engine::createProfile(const QString& xml, IRTCProfile** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    auto parsed = parseProvisioningProfile(xml);
    if (!parsed)
        return RTC_E_INVALID_PROFILE;
    // The addresses must make sense to the SIP stack before the profile is accepted.
    auto factory = linphone::Factory::get();
    const QString identity =
        parsed->uri.startsWith(QStringLiteral("sip:")) ? parsed->uri : "sip:" + parsed->uri;
    if (!factory->createAddress(toStd(identity)) ||
        !factory->createAddress(toStd("sip:" + parsed->registrarAddr + ";transport=udp")) ||
        (!parsed->proxyAddr.isEmpty() && !factory->createAddress(toStd("sip:" + parsed->proxyAddr))))
        return RTC_E_INVALID_PROFILE;
    *out = new Profile(std::move(*parsed));
    (*out)->AddRef();
    return S_OK;
}

Engine::AccountRecord* Engine::findRecord(const linphone::Account* account) {
    for (auto& r : accounts_)
        if (r.account.get() == account)
            return &r;
    return nullptr;
}

void Engine::removeFinishedAccounts(const linphone::Account* keep) {
    std::vector<std::shared_ptr<linphone::Account>> done;
    for (auto it = accounts_.begin(); it != accounts_.end();) {
        const bool finished =
            it->rejected || it->retrying || (it->disabling && it->last == RTCRS_NOT_REGISTERED);
        if (finished && it->account.get() != keep) {
            done.push_back(it->account);
            it = accounts_.erase(it);
        } else {
            ++it;
        }
    }
    // Unrecorded accounts raise no events, whatever their removal does.
    for (auto& acc : done)
        core_->removeAccount(acc);
}

void Engine::supersedeAccountsOtherThan(const linphone::Account* keep) {
    // One login at a time: an earlier one, even one still registering or waiting to try again,
    // stops and says nothing more, so that it can never overwrite the new login's state.
    for (AccountRecord& r : accounts_) {
        if (r.account.get() == keep || r.superseded)
            continue;
        r.superseded = true;
        r.disabling = true;
        r.retrying = false;
        if (r.account->getState() == RegistrationState::Ok ||
            r.account->getState() == RegistrationState::Progress)
            setRegisterEnabled(r.account, false); // un-REGISTER what is registered
        else
            r.last = RTCRS_NOT_REGISTERED;
    }
    if (auto retrying = retryAccount_.lock(); !retrying || retrying.get() != keep) {
        retryTimer_->stop();
        retryAccount_.reset();
    }
}

void Engine::setRegisterEnabled(const std::shared_ptr<linphone::Account>& account, bool on) {
    auto params = account->getParams()->clone();
    params->enableRegister(on);
    account->setParams(params);
}

HRESULT Engine::enableProfile(IRTCProfile* p, long flags) {
    auto* profile = dynamic_cast<Profile*>(p);
    if (!profile)
        return p ? E_INVALIDARG : E_POINTER;
    const ProvisioningProfile& d = profile->data();
    auto factory = linphone::Factory::get();
    const QString identityUri = d.uri.startsWith(QStringLiteral("sip:")) ? d.uri : "sip:" + d.uri;
    auto identity = factory->createAddress(toStd(identityUri));
    auto server = factory->createAddress(toStd("sip:" + d.registrarAddr + ";transport=udp"));
    if (!identity || !server)
        return RTC_E_INVALID_PROFILE;
    if (!d.userName.isEmpty())
        identity->setDisplayName(toStd(d.userName));

    auto account = profile->account.lock();
    if (!accountInCore(core_, account))
        account.reset();
    supersedeAccountsOtherThan(account.get());
    removeFinishedAccounts(account.get());

    auto params = account ? account->getParams()->clone() : core_->createAccountParams();
    params->setIdentityAddress(identity);
    params->setServerAddress(server);
    if (d.proxyAddr.isEmpty() || d.proxyAddr == d.registrarAddr) {
        params->enableOutboundProxy(!d.proxyAddr.isEmpty());
    } else {
        params->enableOutboundProxy(false);
        auto route = factory->createAddress(toStd("sip:" + d.proxyAddr + ";transport=udp;lr"));
        if (!route)
            return RTC_E_INVALID_PROFILE;
        params->setRoutesAddresses({route});
    }
    params->setExpires(d.expires);
    params->enableRegister(flags != 0);
    params->enablePublish(false);
    params->setPushNotificationAllowed(false);
    params->setRemotePushNotificationAllowed(false);
    params->enableQualityReporting(false);

    // A new password for the same user replaces the old one, or liblinphone keeps trying both.
    const std::string user = toStd(d.account);
    const std::string domain = identity->getDomain();
    for (const auto& info : core_->getAuthInfoList())
        if (info->getUsername() == user && (info->getDomain().empty() || info->getDomain() == domain))
            core_->removeAuthInfo(info);
    core_->addAuthInfo(factory->createAuthInfo(user, "", toStd(d.password), "", "", domain));

    if (account) {
        if (AccountRecord* rec = findRecord(account.get())) {
            *rec = AccountRecord{account};
        } else {
            accounts_.push_back({account});
        }
        if (account->setParams(params) != 0)
            return E_FAIL;
        account->refreshRegister();
    } else {
        account = core_->createAccount(params);
        if (!account)
            return RTC_E_INVALID_PROFILE;
        // Recorded before it is added: adding may already report its first state.
        accounts_.push_back({account});
        if (core_->addAccount(account) != 0) {
            accounts_.pop_back();
            return E_FAIL;
        }
        profile->account = account;
    }
    core_->setDefaultAccount(account);
    // The server may be another one, reached another way, or not at all.
    checkNetwork();
    if (!networkUp_)
        if (AccountRecord* rec = findRecord(account.get()))
            raiseRegistrationState(*rec, RTCRS_REGISTERING, RTC_E_NO_NETWORK);
    wake();
    return S_OK;
}

HRESULT Engine::disableProfile(IRTCProfile* p) {
    auto* profile = dynamic_cast<Profile*>(p);
    if (!profile)
        return p ? E_INVALIDARG : E_POINTER;
    auto account = profile->account.lock();
    AccountRecord* rec = account ? findRecord(account.get()) : nullptr;
    if (!rec)
        return RTC_E_INVALID_PROFILE;
    rec->disabling = true;
    if (auto retrying = retryAccount_.lock(); retrying == account) {
        retryTimer_->stop();
        retryAccount_.reset();
    }
    // liblinphone goes from Ok straight to Cleared when the un-REGISTER is answered; the
    // program shows "logging off" meanwhile.
    if (rec->last == RTCRS_REGISTERED || rec->last == RTCRS_REGISTERING)
        raiseRegistrationState(*rec, RTCRS_UNREGISTERING, 0);
    if (rec->rejected || rec->retrying) {
        // Nothing is registered: no REGISTER goes out, the profile is simply logged off.
        rec->rejected = false;
        rec->retrying = false;
        std::weak_ptr<Engine> weak = weak_from_this();
        QTimer::singleShot(0, iterateTimer_.get(), [weak, acc = account.get()] {
            if (auto engine = weak.lock())
                if (AccountRecord* r = engine->findRecord(acc); r && r->disabling)
                    engine->raiseRegistrationState(*r, RTCRS_NOT_REGISTERED, 0);
        });
    }
    auto params = account->getParams()->clone();
    params->enableRegister(false);
    const HRESULT hr = account->setParams(params) == 0 ? S_OK : E_FAIL;
    wake();
    return hr;
}

namespace {

// Only a refusal of the credentials stands: a wrong password (401/407 once authenticated), a
// forbidden or unknown user. A time-out, a server error or a network failure passes.
bool RefusesCredentials(long code) {
    return code == 401 || code == 407 || code == 403 || code == 404;
}

// 2, 4, 8, 16, 32 seconds, then every minute.
int RetryDelayMs(int retries) {
    return std::min(2000 << std::min(retries, 5), 60000);
}

} // namespace

void Engine::scheduleRetry(AccountRecord& record) {
    record.retrying = true;
    retryAccount_ = record.account;
    retryTimer_->start(RetryDelayMs(record.retries));
    ++record.retries;
}

void Engine::retryRegistration() {
    auto account = retryAccount_.lock();
    retryAccount_.reset();
    AccountRecord* rec = account ? findRecord(account.get()) : nullptr;
    if (!rec || !rec->retrying || rec->disabling || rec->superseded)
        return;
    rec->retrying = false;
    setRegisterEnabled(account, true);
    account->refreshRegister();
    wake();
}

void Engine::onRegistrationStateChanged(const std::shared_ptr<linphone::Account>& account, int s) {
    AccountRecord* rec = findRecord(account.get());
    qCDebug(lcEngine, "registration %p (%s): state %d, code %d%s", static_cast<const void*>(account.get()),
            account->getParams()->getIdentityAddress()->asString().c_str(), s,
            static_cast<int>(errorCode(account->getErrorInfo())), rec ? "" : " (not ours)");
    if (!rec || rec->rejected)
        return;
    const long code = errorCode(account->getErrorInfo());
    if (rec->superseded) {
        // A replaced login ends quietly; once nothing is registered it can go.
        if (s != static_cast<int>(RegistrationState::Ok) &&
            s != static_cast<int>(RegistrationState::Progress))
            rec->last = RTCRS_NOT_REGISTERED;
        return;
    }
    if (!networkUp_ && !rec->disabling && s != static_cast<int>(RegistrationState::Ok))
        return; // the core gives up while there is no network; the phone says "no network" meanwhile
    switch (static_cast<RegistrationState>(s)) {
    case RegistrationState::Progress:
        if (rec->disabling)
            raiseRegistrationState(*rec, RTCRS_UNREGISTERING, 0);
        else if (rec->last != RTCRS_REGISTERED) // a refresh of a live registration is no news
            raiseRegistrationState(*rec, RTCRS_REGISTERING, 0);
        break;
    case RegistrationState::Ok:
        if (!rec->disabling) {
            rec->retries = 0;
            raiseRegistrationState(*rec, RTCRS_REGISTERED, code ? code : 200);
            notePublicAddress(*rec);
        }
        break;
    case RegistrationState::Failed:
        if (rec->disabling) {
            raiseRegistrationState(*rec, RTCRS_NOT_REGISTERED, code);
            break;
        }
        raiseRegistrationState(*rec, RTCRS_REJECTED, code);
        // liblinphone's own retries stop here (from the loop, not inside its notification): a
        // refusal of the credentials stands until the next login; anything else is tried again
        // after a pause that grows.
        if (RefusesCredentials(code))
            rec->rejected = true;
        else
            scheduleRetry(*rec);
        QTimer::singleShot(0, iterateTimer_.get(), [this, weak = std::weak_ptr<linphone::Account>(account)] {
            if (auto acc = weak.lock())
                setRegisterEnabled(acc, false);
        });
        break;
    case RegistrationState::Cleared:
    case RegistrationState::None:
        raiseRegistrationState(*rec, RTCRS_NOT_REGISTERED, code);
        break;
    }
}

} // namespace rtc::lin
