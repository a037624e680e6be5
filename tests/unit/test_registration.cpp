// The login command's checks and provisioning, the profile text, the log-off routine and how
// registration states show in the main window.
#include "engine/Registration.h"
#include "fakes/FakeServices.h"
#include "phone/ControlIds.h"

#include <QXmlStreamReader>

#include <gtest/gtest.h>

using namespace rtc;
using namespace fake;

namespace {

struct Login {
    TestPhone t;
    Login() { t.startEngine(); }
    void fill(const QString& user, const QString& password, const QString& server = "sip.example.net") {
        t.view.texts[ctl::UserNameField] = user;
        t.view.texts[ctl::PasswordField] = password;
        t.view.texts[ctl::ServerField] = server;
    }
    // The login's effect: its messages, and whether a profile was asked for.
    QStringList run() {
        t.box.shown.clear();
        t.client->calls.clear();
        LoginCommand(t.phone);
        return t.box.texts();
    }
    bool provisioned() const { return t.client->calls.contains("CreateProfile"); }
    void state(RTC_REGISTRATION_STATE s) {
        ComPtr<FakeRegEvent> e(new FakeRegEvent(s));
        t.deliver(RTCE_REGISTRATION_STATE_CHANGE, e.get());
    }
};

// Attribute values of the profile's elements as an XML parser reads them.
QMap<QString, QString> ProfileAttributes(const QString& xml) {
    QMap<QString, QString> out;
    QXmlStreamReader r(xml);
    int sipsrv = 0;
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement)
            continue;
        QString element = r.name().toString();
        if (element == "sipsrv")
            element += QString::number(++sipsrv);
        for (const QXmlStreamAttribute& a : r.attributes())
            out[element + "." + a.name().toString()] = a.value().toString();
    }
    EXPECT_FALSE(r.hasError()) << r.errorString().toStdString();
    return out;
}

} // namespace

TEST(LoginCommand, ChecksRunInOrderAndARefusalCreatesNoProfile) {
    Login l;
    l.fill("", "");
    EXPECT_EQ(l.run(), QStringList{"Please Enter User Name"});
    l.fill("alice", "");
    EXPECT_EQ(l.run(), QStringList{"Please enter password."});
    l.fill("alice", "a b");
    EXPECT_EQ(l.run(), QStringList{"Blank Spaces are not allowed in password"});
    // The blank check comes before the length check.
    l.fill("alice", QString(200, 'x') + " ");
    EXPECT_EQ(l.run(), QStringList{"Blank Spaces are not allowed in password"});
    l.fill("alice", QString(128, 'p'));
    EXPECT_EQ(l.run(), QStringList{"Password too long."});
    l.fill(QString(129, 'u'), QString(127, 'p'));
    EXPECT_EQ(l.run(), QStringList{"Account ID too long."});
    l.fill(QString(128, 'u'), QString(127, 'p'), QString(129, 's'));
    EXPECT_EQ(l.run(), QStringList{"Sip IP too long."});
    EXPECT_FALSE(l.provisioned());
    EXPECT_TRUE(l.t.phone.st.serverAddress.isEmpty());

    // At the limits everything passes; the server address and account name keep 64 characters.
    l.fill(QString(128, 'u'), QString(127, 'p'), QString(128, 's'));
    EXPECT_TRUE(l.run().isEmpty());
    EXPECT_TRUE(l.provisioned());
    EXPECT_EQ(l.t.client->calls, (QStringList{"CreateProfile", "EnableProfile(7)"}));
    EXPECT_EQ(l.t.phone.st.serverAddress, QString(64, 's'));
    EXPECT_EQ(l.t.phone.st.accountName, QString(64, 'u'));
    // The status changes only through engine events.
    EXPECT_FALSE(l.t.view.texts.contains(ctl::RegStatus));
}

TEST(LoginCommand, AnEmptyServerIsNotCheckedAndGivesEmptyAddresses) {
    Login l;
    l.fill("alice", "pw", "");
    EXPECT_TRUE(l.run().isEmpty());
    const auto a = ProfileAttributes(l.t.client->lastProfileXml);
    EXPECT_EQ(a.value("user.uri"), "alice@");
    EXPECT_EQ(a.value("sipsrv1.addr"), "");
}

TEST(Profile, CarriesUserPasswordAndServerWhereTheEngineReadsThem) {
    const QString xml = BuildProfileXml("alice", "alice-secret", "127.0.0.1:5070");
    const auto a = ProfileAttributes(xml);
    EXPECT_EQ(a.value("provision.key"), kProfileKey);
    EXPECT_EQ(a.value("provision.name"), "alice");
    EXPECT_EQ(a.value("provision.expires"), "600");
    EXPECT_EQ(a.value("user.account"), "alice");
    EXPECT_EQ(a.value("user.name"), "alice");
    EXPECT_EQ(a.value("user.password"), "alice-secret");
    EXPECT_EQ(a.value("user.uri"), "alice@127.0.0.1:5070");
    EXPECT_EQ(a.value("sipsrv1.addr"), "127.0.0.1:5070");
    EXPECT_EQ(a.value("sipsrv1.role"), "proxy");
    EXPECT_EQ(a.value("sipsrv2.addr"), "127.0.0.1:5070");
    EXPECT_EQ(a.value("sipsrv2.role"), "registrar");
    for (const char* k : {"sipsrv1.protocol", "sipsrv2.protocol"})
        EXPECT_EQ(a.value(k), "UDP");
    for (const char* k : {"sipsrv1.auth", "sipsrv2.auth"})
        EXPECT_EQ(a.value(k), "digest");
    EXPECT_FALSE(xml.contains('\n'));
    EXPECT_TRUE(
        xml.contains("<session party=\"first\" type=\"pc2pc\" /><session party=\"first\" type=\"pc2ph\" />"
                     "<session party=\"first\" type=\"im\" />"));
}

TEST(Profile, SpecialCharactersComeBackExactlyAsTyped) {
    // Unescaped, a quote in the user name would end the attribute and let the rest add its own.
    const QString user = "bob\" password=\"x";
    const QString password = "p<&>'\"w\tx\r\ny";
    const QString server = "host&co";
    const auto a = ProfileAttributes(BuildProfileXml(user, password, server));
    EXPECT_EQ(a.value("user.account"), user);
    EXPECT_EQ(a.value("user.password"), password);
    EXPECT_EQ(a.value("user.uri"), user + "@" + server);
    EXPECT_EQ(a.value("sipsrv2.addr"), server);
    EXPECT_EQ(XmlEscape("plain-123"), "plain-123");
}

TEST(LoginCommand, EngineRefusalsShowTheirMessages) {
    {
        Login l;
        l.t.client->refuseProvisioning = true;
        l.fill("alice", "pw");
        EXPECT_EQ(l.run(), QStringList{"Provisioning Interface couldn't be initialized"});
        EXPECT_EQ(l.t.box.shown[0].icon, BoxIcon::Warning);
        EXPECT_EQ(l.t.phone.st.lastResult, E_NOINTERFACE);
    }
    {
        Login l;
        l.t.client->createProfileResult = RTC_E_INVALID_PROFILE;
        l.fill("alice", "pw");
        EXPECT_EQ(l.run(), QStringList{"Profile couldn't be created :-("});
        EXPECT_FALSE(l.t.client->calls.contains("EnableProfile(7)"));
        EXPECT_FALSE(l.t.phone.st.profile);
        EXPECT_EQ(l.t.phone.st.lastResult, RTC_E_INVALID_PROFILE);
    }
    {
        Login l;
        l.t.client->enableProfileResult = S_FALSE; // anything but 0
        l.fill("alice", "pw");
        EXPECT_EQ(l.run(), QStringList{"Rtc profile is not created"});
        EXPECT_TRUE(l.t.phone.st.profile); // held, but not registering
    }
    { // after a failed engine start there is no client at all
        TestPhone t;
        t.view.texts[ctl::UserNameField] = "alice";
        t.view.texts[ctl::PasswordField] = "pw";
        LoginCommand(t.phone);
        EXPECT_EQ(t.box.texts(), QStringList{"Provisioning Interface couldn't be initialized"});
    }
}

TEST(LoginCommand, WhileRegisteredLogsOffFirstAndStaysLoggedOffWhenRefused) {
    Login l;
    l.fill("alice", "pw");
    l.run();
    l.state(RTCRS_REGISTERED);
    ASSERT_EQ(l.t.phone.st.registered, 1);
    EXPECT_FALSE(l.t.view.isEnabled(ctl::UserNameField));

    l.fill("bob", "pw2");
    l.run();
    EXPECT_EQ(l.t.client->calls, (QStringList{"DisableProfile", "CreateProfile", "EnableProfile(7)"}));
    EXPECT_TRUE(l.t.view.isEnabled(ctl::UserNameField));
    EXPECT_TRUE(l.t.view.isEnabled(ctl::PasswordField));

    l.state(RTCRS_REGISTERED);
    l.fill("bob", "");
    EXPECT_EQ(l.run(), QStringList{"Please enter password."});
    EXPECT_EQ(l.t.client->calls, QStringList{"DisableProfile"});
}

TEST(LogOff, EndsTheCallFirstAndDisablesTheHeldProfile) {
    Login l;
    l.t.client->calls.clear();
    LogOffRoutine(l.t.phone); // no profile yet: nothing to do
    EXPECT_TRUE(l.t.client->calls.isEmpty());

    l.fill("alice", "pw");
    l.run();
    ComPtr<FakeSession> call(new FakeSession);
    l.t.phone.st.session = call;
    l.t.phone.st.callConnected = 1;
    l.t.client->calls.clear();
    LogOffRoutine(l.t.phone);
    EXPECT_EQ(call->calls, QStringList{"Terminate(0)"});
    EXPECT_EQ(l.t.client->calls, QStringList{"DisableProfile"});
    EXPECT_TRUE(l.t.phone.st.profile); // kept; the events show the unregistration
}

TEST(LogOffCommands, FollowTheRegisteredFlag) {
    Login l;
    l.fill("alice", "pw");
    l.run();
    l.t.client->calls.clear();
    OnLogOffCommand(l.t.phone); // 1006 while not registered: nothing
    EXPECT_TRUE(l.t.client->calls.isEmpty());
    OnLoginLogoffCommand(l.t.phone); // 1027 while not registered: log in
    EXPECT_TRUE(l.t.client->calls.contains("CreateProfile"));
    l.state(RTCRS_REGISTERED);
    l.t.client->calls.clear();
    OnLoginLogoffCommand(l.t.phone); // 1027 while registered: log off
    EXPECT_EQ(l.t.client->calls, QStringList{"DisableProfile"});
    EXPECT_TRUE(l.t.view.isEnabled(ctl::PasswordField));
    l.t.client->calls.clear();
    OnLogOffCommand(l.t.phone);
    EXPECT_EQ(l.t.client->calls, QStringList{"DisableProfile"});
}

TEST(RegistrationStates, DriveStatusButtonsFlagFieldsAndUserLabel) {
    Login l;
    View& v = l.t.view;
    v.texts[ctl::UserNameField] = "alice";
    v.texts[ctl::PasswordField] = "pw";
    const QList<int> buttons = {ctl::CallHistory, ctl::Pickup, ctl::Redial};
    const auto buttonsEnabled = [&] {
        QList<bool> on;
        for (int b : buttons)
            on << v.isEnabled(b);
        return on;
    };

    l.state(RTCRS_REGISTERING);
    EXPECT_EQ(v.text(ctl::RegStatus), "Registering...");
    EXPECT_EQ(buttonsEnabled(), (QList<bool>{false, false, false}));
    EXPECT_EQ(l.t.phone.st.registered, 0);

    v.log.clear();
    l.state(RTCRS_REGISTERED);
    EXPECT_EQ(v.text(ctl::RegStatus), "Ready to call...");
    EXPECT_EQ(buttonsEnabled(), (QList<bool>{true, true, true}));
    EXPECT_EQ(l.t.phone.st.registered, 1);
    EXPECT_FALSE(v.isEnabled(ctl::UserNameField));
    EXPECT_FALSE(v.isEnabled(ctl::PasswordField));
    EXPECT_EQ(v.text(ctl::LoggedInUser), "alice");
    // Focus first, the balance query last (after the user label is set).
    EXPECT_EQ(v.log.first(), "focus(1000)");
    EXPECT_EQ(v.log.last(), "setText(1029,Balance: 12.50EUR)");
    EXPECT_EQ(l.t.https.urls.size(), 1);

    l.state(RTCRS_UNREGISTERING);
    EXPECT_EQ(v.text(ctl::RegStatus), "Logging off...");
    EXPECT_EQ(buttonsEnabled(), (QList<bool>{false, false, false}));
    EXPECT_EQ(l.t.phone.st.registered, 1);
    EXPECT_EQ(v.text(ctl::LoggedInUser), "");

    l.state(RTCRS_NOT_REGISTERED);
    EXPECT_EQ(v.text(ctl::RegStatus), "Logged off...");
    EXPECT_EQ(l.t.phone.st.registered, 0);
    EXPECT_FALSE(v.isEnabled(ctl::UserNameField)); // unchanged by this state

    // Rejected: fields enabled again, 1007 left as it was.
    v.enable(ctl::CallHistory, true);
    l.state(RTCRS_REJECTED);
    EXPECT_EQ(v.text(ctl::RegStatus), "Rejected...");
    EXPECT_EQ(buttonsEnabled(), (QList<bool>{true, false, false}));
    EXPECT_TRUE(v.isEnabled(ctl::UserNameField));
    EXPECT_TRUE(v.isEnabled(ctl::PasswordField));

    l.state(RTCRS_ERROR); // any other state changes nothing
    EXPECT_EQ(v.text(ctl::RegStatus), "Rejected...");
    EXPECT_EQ(l.t.https.urls.size(), 1);
}

TEST(RegistrationStates, NoNetworkIsSaidAndNotReadyToCall) {
    Login l;
    View& v = l.t.view;
    v.texts[ctl::UserNameField] = "alice";
    l.state(RTCRS_REGISTERED);
    ASSERT_EQ(v.text(ctl::RegStatus), "Ready to call...");

    // The network went: the phone cannot be reached, whatever the registrar still holds.
    ComPtr<FakeRegEvent> lost(new FakeRegEvent(RTCRS_REGISTERING));
    lost->statusCode = RTC_E_NO_NETWORK;
    l.t.deliver(RTCE_REGISTRATION_STATE_CHANGE, lost.get());
    EXPECT_EQ(v.text(ctl::RegStatus), "No network...");
    EXPECT_FALSE(v.isEnabled(ctl::Pickup));
    EXPECT_FALSE(v.isEnabled(ctl::Redial));
    EXPECT_EQ(v.text(ctl::LoggedInUser), "");

    // Back: registering as usual, then ready, with the balance asked again.
    const int queries = l.t.https.urls.size();
    l.state(RTCRS_REGISTERING);
    EXPECT_EQ(v.text(ctl::RegStatus), "Registering...");
    l.state(RTCRS_REGISTERED);
    EXPECT_EQ(v.text(ctl::RegStatus), "Ready to call...");
    EXPECT_TRUE(v.isEnabled(ctl::Pickup));
    EXPECT_EQ(l.t.https.urls.size(), queries + 1);
}
