// Links to call: the command line that brings them, the number and post-dial digits taken out
// of sip:, sips:, tel: and callto: links, and the call they place once the phone can, with its
// digits sent after their pauses.
#include "app/CommandLine.h"
#include "calls/CallLink.h"
#include "calls/Session.h"
#include "fakes/FakeServices.h"
#include "phone/ControlIds.h"

#include <gtest/gtest.h>

using namespace rtc;
using namespace fake;

namespace {

CommandLine Parse(QStringList args) {
    args.prepend("orvane-softphone");
    return ParseCommandLine(args, "1.2.3");
}

} // namespace

TEST(CommandLineTest, HelpVersionLinkAndMistakes) {
    EXPECT_EQ(Parse({}).action, CommandLine::Action::Run);
    for (const char* h : {"--help", "-h"}) {
        const CommandLine c = Parse({QString::fromLatin1(h)});
        EXPECT_EQ(c.action, CommandLine::Action::Help);
        EXPECT_TRUE(c.output.startsWith("Usage: orvane-softphone [options] [link]"))
            << c.output.toStdString();
    }
    EXPECT_EQ(Parse({"--version"}).output, "orvane-softphone 1.2.3\n");
    EXPECT_EQ(Parse({"sip:4021@host"}).link, "sip:4021@host");
    const CommandLine logged = Parse({"--log", "/tmp/phone.log", "tel:1"});
    EXPECT_EQ(logged.action, CommandLine::Action::Run);
    EXPECT_EQ(logged.logFile, "/tmp/phone.log");
    EXPECT_EQ(logged.link, "tel:1");
    EXPECT_EQ(Parse({"--log"}).action, CommandLine::Action::Error); // the file is not optional

    const CommandLine unknown = Parse({"--bogus"});
    EXPECT_EQ(unknown.action, CommandLine::Action::Error);
    EXPECT_TRUE(unknown.output.contains("Unknown option 'bogus'")) << unknown.output.toStdString();
    EXPECT_EQ(Parse({"tel:1", "tel:2"}).action, CommandLine::Action::Error);

    // Qt's own options (a restarted desktop session passes -session) are Qt's to read.
    const CommandLine qt = Parse({"-session", "1234_5", "-platform", "xcb", "tel:99"});
    EXPECT_EQ(qt.action, CommandLine::Action::Run);
    EXPECT_EQ(qt.link, "tel:99");
}

TEST(CallLinkParsing, NumbersAndPostDialDigitsOfEachKindOfLink) {
    const struct {
        const char* link;
        const char* number;
        const char* postDial;
    } good[] = {
        {"sip:4021@sip.example.net", "4021", ""},
        {"SIPS:alice@example.net:5061;transport=tls?subject=hi", "alice", ""},
        {"sip:+44%2020%207946%200321@gw;user=phone", "+442079460321", ""},
        {"sip:+4930123,,99#@gw", "+4930123", ",,99#"},
        {"tel:+44 20 7946 0321", "+442079460321", ""},
        {"tel:+1-202-555-0143;ext=12;phone-context=example.com", "+12025550143", ""},
        {"tel:+49301234567,,555555#", "+49301234567", ",,555555#"},
        {"tel:4021;postd=pp12*", "4021", ",,12*"},
        {"callto://+4930123", "+4930123", ""},
        {"callto:bob@example.net", "bob", ""},
        {"  tel:(030) 123.456  ", "030123456", ""},
        {"tel:4021%0A", "4021", ""}, // a line end between digits is a separator like a space
    };
    for (const auto& g : good) {
        SCOPED_TRACE(g.link);
        QString why;
        const auto link = ParseCallLink(QString::fromUtf8(g.link), &why);
        ASSERT_TRUE(link) << why.toStdString();
        EXPECT_EQ(link->number, QString::fromLatin1(g.number));
        EXPECT_EQ(link->postDial, QString::fromLatin1(g.postDial));
    }

    for (const char* bad :
         {"http://example.net/4021", "4021", "mailto:a@b", "sip:example.net", "tel:", "tel:abc",
          "tel:12;postd=9x", "sip:a b@host", "sip:%3Cscript%3E@host", "callto:",
          // A line end (which "$" would let through) must never reach the number or the tones.
          "sip:bob%0A@host", "tel:12;postd=%0A"}) {
        SCOPED_TRACE(bad);
        QString why;
        EXPECT_FALSE(ParseCallLink(QString::fromUtf8(bad), &why));
        EXPECT_FALSE(why.isEmpty());
    }
    QString why;
    EXPECT_FALSE(ParseCallLink("tel:" + QString(128, '5'), &why));
    EXPECT_TRUE(why.contains("too long")) << why.toStdString();
    EXPECT_TRUE(ParseCallLink("tel:" + QString(127, '5')));
}

TEST(CallLinkCall, WaitsForTheLoginThenCallsAndSendsItsDigitsAfterThePauses) {
    TestPhone t;
    t.startEngine();
    QueueCallLink(t.phone, {"+49301234567", ",,55#"});
    EXPECT_FALSE(t.client->lastSession); // not logged in yet

    t.phone.st.serverAddress = "srv";
    t.phone.st.profile = ComPtr<IRTCProfile>(new FakeProfile);
    ComPtr<FakeRegEvent> registered(new FakeRegEvent(RTCRS_REGISTERED));
    t.deliver(RTCE_REGISTRATION_STATE_CHANGE, registered.get());
    ASSERT_TRUE(t.client->lastSession);
    EXPECT_EQ(t.client->lastSession->calls, QStringList{"AddParticipant(sip:+49301234567@srv)"});
    EXPECT_EQ(t.view.text(ctl::NumberField), "+49301234567"); // the number alone
    EXPECT_FALSE(t.view.timers.contains(timer::LinkWait));    // placed: nothing waits any more

    // Nothing is sent before the call is connected.
    t.client->calls.clear();
    t.deliverSession(RTCSS_INPROGRESS, t.client->lastSession.get());
    EXPECT_TRUE(t.client->calls.filter("SendDTMF").isEmpty());
    t.deliverSession(RTCSS_CONNECTED, t.client->lastSession.get());
    EXPECT_EQ(t.view.timers.value(timer::PostDial), 2000);
    OnTimer(t.phone, timer::PostDial);
    EXPECT_EQ(t.view.timers.value(timer::PostDial), 2000);
    EXPECT_TRUE(t.client->calls.filter("SendDTMF").isEmpty());
    OnTimer(t.phone, timer::PostDial); // 4 s after connecting: the first digit
    EXPECT_EQ(t.client->calls.filter("SendDTMF"), QStringList{"SendDTMF(5)"});
    OnTimer(t.phone, timer::PostDial);
    OnTimer(t.phone, timer::PostDial);
    // As if typed on the dial pad during the call: DTMF, the digits shown, no local tone.
    EXPECT_EQ(t.client->calls.filter("SendDTMF"),
              (QStringList{"SendDTMF(5)", "SendDTMF(5)", "SendDTMF(11)"}));
    EXPECT_EQ(t.view.text(ctl::NumberField), "+4930123456755#");
    EXPECT_FALSE(t.view.timers.contains(timer::PostDial));
}

TEST(CallLinkCall, WaitsForTheCallUnderWayAndDropsItsDigitsWhenItsCallEnds) {
    TestPhone t;
    t.registerAccount("srv");
    ComPtr<FakeSession> incoming(new FakeSession);
    incoming->remoteUri = "sip:5551000@srv";
    t.deliverSession(RTCSS_INCOMING, incoming.get());
    QueueCallLink(t.phone, {"4021", ",9"});
    EXPECT_FALSE(t.client->lastSession); // a ringing call is not answered by a link
    t.deliverSession(RTCSS_DISCONNECTED, incoming.get());
    ASSERT_TRUE(t.client->lastSession);
    EXPECT_EQ(t.client->lastSession->calls, QStringList{"AddParticipant(sip:4021@srv)"});

    // Refused by the far end: the digits are never sent, and a later call sends none.
    t.deliverSession(RTCSS_DISCONNECTED, t.client->lastSession.get());
    EXPECT_FALSE(t.view.timers.contains(timer::PostDial));
    EXPECT_TRUE(t.phone.st.postDial.isEmpty());
}

TEST(CallLinkCall, ALinkThePhoneCouldNotCallWithinAMinuteIsDroppedWithAWord) {
    TestPhone t;
    t.startEngine();
    QueueCallLink(t.phone, {"4021", ",9"});
    EXPECT_EQ(t.view.timers.value(timer::LinkWait), kLinkWaitMs);
    OnTimer(t.phone, timer::LinkWait);
    EXPECT_EQ(t.box.texts(),
              QStringList{
                  "The call to 4021 from a link was not placed: the phone could not call within a minute."});
    EXPECT_FALSE(t.view.timers.contains(timer::LinkWait));

    // A login much later places nothing.
    t.phone.st.serverAddress = "srv";
    t.phone.st.profile = ComPtr<IRTCProfile>(new FakeProfile);
    ComPtr<FakeRegEvent> registered(new FakeRegEvent(RTCRS_REGISTERED));
    t.deliver(RTCE_REGISTRATION_STATE_CHANGE, registered.get());
    EXPECT_FALSE(t.client->lastSession);
    EXPECT_EQ(t.box.texts().size(), 1);
}
