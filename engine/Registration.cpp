#include "engine/Registration.h"

#include "calls/CallLink.h"
#include "calls/Session.h"
#include "engine/BalanceQuery.h"
#include "phone/ControlIds.h"
#include "phone/Phone.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcRegistration, "orvane.registration", QtWarningMsg)

using namespace rtc;

QString XmlEscape(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&apos;");
            break;
        // Written as they are, a parser would read each of these as a blank.
        case '\t':
            out += QLatin1String("&#9;");
            break;
        case '\n':
            out += QLatin1String("&#10;");
            break;
        case '\r':
            out += QLatin1String("&#13;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString BuildProfileXml(const QString& user, const QString& password, const QString& server) {
    const QString u = XmlEscape(user);
    const QString p = XmlEscape(password);
    const QString s = XmlEscape(server);
    return QLatin1String("<provision key=\"") + kProfileKey + QLatin1String("\" name=\"") + u +
           QLatin1String("\" expires=\"600\"><user account=\"") + u + QLatin1String("\" name=\"") + u +
           QLatin1String("\" password=\"") + p + QLatin1String("\" uri=\"") + u + QLatin1Char('@') + s +
           QLatin1String("\" /><sipsrv addr=\"") + s +
           QLatin1String("\" protocol=\"UDP\" auth=\"digest\" role=\"proxy\"><session party=\"first\" "
                         "type=\"pc2pc\" /><session party=\"first\" type=\"pc2ph\" /><session "
                         "party=\"first\" type=\"im\" /></sipsrv><sipsrv addr=\"") +
           s + QLatin1String("\" protocol=\"UDP\" auth=\"digest\" role=\"registrar\" /></provision>");
}

namespace {

void EnableAccountFields(Phone& phone) {
    phone.view.enable(ctl::UserNameField, true);
    phone.view.enable(ctl::PasswordField, true);
}

// The provisioning interface of the client; shows the warning when the client refuses it (or
// there is no client, after a failed start).
ComPtr<IRTCClientProvisioning> Provisioning(Phone& phone) {
    ComPtr<IRTCClientProvisioning> prov;
    const HRESULT hr = phone.st.client.as(prov);
    phone.st.lastResult = hr;
    if (Failed(hr) || !prov) {
        phone.box.show(QStringLiteral("Provisioning Interface couldn't be initialized"), kAppTitle,
                       BoxIcon::Warning);
        return nullptr;
    }
    return prov;
}

void SetCallButtons(Phone& phone, bool on) {
    phone.view.enable(ctl::CallHistory, on);
    phone.view.enable(ctl::Pickup, on);
    phone.view.enable(ctl::Redial, on);
}

} // namespace

void LoginCommand(Phone& phone) {
    MainState& st = phone.st;
    IMainView& view = phone.view;
    if (st.registered == 1) {
        EnableAccountFields(phone);
        LogOffRoutine(phone);
    }
    const QString user = view.text(ctl::UserNameField);
    const QString password = view.text(ctl::PasswordField);
    const QString server = view.text(ctl::ServerField);
    if (user.isEmpty()) {
        phone.box.show(QStringLiteral("Please Enter User Name"));
        return;
    }
    if (password.isEmpty()) {
        phone.box.show(QStringLiteral("Please enter password."));
        return;
    }
    if (password.contains(QLatin1Char(' '))) {
        phone.box.show(QStringLiteral("Blank Spaces are not allowed in password"));
        return;
    }
    if (password.size() > kMaxPasswordLength) {
        phone.box.show(QStringLiteral("Password too long."));
        return;
    }
    if (user.size() > kMaxUserNameLength) {
        phone.box.show(QStringLiteral("Account ID too long."));
        return;
    }
    if (server.size() > kMaxServerLength) {
        phone.box.show(QStringLiteral("Sip IP too long."));
        return;
    }
    st.serverAddress = server.left(kKeptAccountLength);
    st.accountName = user.left(kKeptAccountLength);

    const QString profileXml = BuildProfileXml(user, password, server);

    const ComPtr<IRTCClientProvisioning> prov = Provisioning(phone);
    if (!prov)
        return;
    st.lastResult = prov->CreateProfile(profileXml, st.profile.put());
    if (st.lastResult != S_OK) {
        phone.box.show(QStringLiteral("Profile couldn't be created :-("));
        return;
    }
    st.lastResult = prov->EnableProfile(st.profile.get(), RTCRF_REGISTER_ALL);
    if (st.lastResult != S_OK)
        phone.box.show(QStringLiteral("Rtc profile is not created"));
}

void LogOffRoutine(Phone& phone) {
    MainState& st = phone.st;
    if (st.callConnected || st.callInProgress || st.ringing)
        OnHangup(phone);
    if (!st.profile)
        return;
    const ComPtr<IRTCClientProvisioning> prov = Provisioning(phone);
    if (!prov)
        return;
    st.lastResult = prov->DisableProfile(st.profile.get());
}

void OnLoginLogoffCommand(Phone& phone) {
    if (phone.st.registered == 0) {
        LoginCommand(phone);
        return;
    }
    EnableAccountFields(phone);
    LogOffRoutine(phone);
}

void OnLogOffCommand(Phone& phone) {
    if (phone.st.registered != 1)
        return;
    EnableAccountFields(phone);
    LogOffRoutine(phone);
}

void OnRegistrationStateChange(Phone& phone, IRTCRegistrationStateChangeEvent* event) {
    RTC_REGISTRATION_STATE state = RTCRS_NOT_REGISTERED;
    long statusCode = 0;
    if (Failed(event->get_State(&state)) || Failed(event->get_StatusCode(&statusCode)))
        return;
    MainState& st = phone.st;
    IMainView& view = phone.view;
    static const char* const kNames[] = {"not registered", "registering", "registered", "rejected",
                                         "unregistering"};
    if (state >= RTCRS_NOT_REGISTERED && state <= RTCRS_UNREGISTERING)
        qCInfo(lcRegistration, "%s as %s at %s (status %ld%s)", kNames[state], qUtf8Printable(st.accountName),
               qUtf8Printable(st.serverAddress), statusCode,
               statusCode == RTC_E_NO_NETWORK ? ": no network" : "");
    switch (state) {
    case RTCRS_NOT_REGISTERED:
        SetCallButtons(phone, false);
        view.setText(ctl::RegStatus, QStringLiteral("Logged off..."));
        st.registered = 0;
        view.setText(ctl::LoggedInUser, QString());
        break;
    case RTCRS_REGISTERING:
        SetCallButtons(phone, false);
        // Without a network the phone cannot be reached: it says so rather than "Ready to call..."
        // or an endless "Registering...", and registers again once a network is back.
        view.setText(ctl::RegStatus, statusCode == RTC_E_NO_NETWORK ? QStringLiteral("No network...")
                                                                    : QStringLiteral("Registering..."));
        view.setText(ctl::LoggedInUser, QString());
        break;
    case RTCRS_REGISTERED:
        SetCallButtons(phone, true);
        view.focus(ctl::NumberField);
        view.setText(ctl::RegStatus, QStringLiteral("Ready to call..."));
        st.registered = 1;
        view.enable(ctl::UserNameField, false);
        view.enable(ctl::PasswordField, false);
        view.setText(ctl::LoggedInUser, view.text(ctl::UserNameField));
        QueryBalance(phone);
        RunPendingCallLink(phone);
        break;
    case RTCRS_REJECTED:
        view.enable(ctl::Pickup, false);
        view.enable(ctl::Redial, false);
        view.setText(ctl::RegStatus, QStringLiteral("Rejected..."));
        st.registered = 0;
        EnableAccountFields(phone);
        view.setText(ctl::LoggedInUser, QString());
        break;
    case RTCRS_UNREGISTERING:
        SetCallButtons(phone, false);
        view.setText(ctl::RegStatus, QStringLiteral("Logging off..."));
        view.setText(ctl::LoggedInUser, QString());
        break;
    default:
        break;
    }
}
