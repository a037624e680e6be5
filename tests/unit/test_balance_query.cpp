// The balance query as the window runs it: the request it makes and what each outcome shows.
#include "engine/BalanceQuery.h"
#include "fakes/FakeServices.h"
#include "phone/ControlIds.h"

#include <gtest/gtest.h>

using namespace fake;

TEST(BalanceQuery, AsksWithTheAccountFieldsAndShowsTheBalance) {
    TestPhone t;
    t.phone.config.billingHost = "127.0.0.1:8443";
    t.view.texts[ctl::UserNameField] = "alice";
    t.view.texts[ctl::PasswordField] = "a&b c";
    QueryBalance(t.phone);
    ASSERT_EQ(t.https.urls.size(), 1);
    EXPECT_EQ(t.https.urls[0], "https://127.0.0.1:8443/callshop/getBalance.php?login=alice&pwd=a%26b%20c");
    EXPECT_EQ(t.https.lastMaxBytes, 10000);
    EXPECT_TRUE(t.view.shownControls.contains(ctl::Balance));
    EXPECT_EQ(t.view.text(ctl::Balance), "Balance: 12.50EUR");
    EXPECT_TRUE(t.box.shown.isEmpty());
}

TEST(BalanceQuery, FailuresLeaveTheBalanceFieldAndSayWhy) {
    TestPhone t;
    t.view.texts[ctl::Balance] = "Balance: 1.00USD";

    t.https.response = {HttpsResponse::Outcome::Exception, 0, {}, "Connection refused"};
    QueryBalance(t.phone);
    EXPECT_EQ(t.box.texts(), (QStringList{"Received Exception from OpenURL()", "Error in OpenURL"}));

    t.box.shown.clear();
    t.https.response = {HttpsResponse::Outcome::NoResponse, 0, {}, "bad URL"};
    QueryBalance(t.phone);
    EXPECT_EQ(t.box.texts(), QStringList{"Error in OpenURL"});

    t.box.shown.clear();
    t.https.response = {HttpsResponse::Outcome::Ok, 500, "<html>Internal error</html>", {}};
    QueryBalance(t.phone);
    EXPECT_EQ(t.box.texts(), QStringList{"Error in OpenURL"});

    EXPECT_EQ(t.view.text(ctl::Balance), "Balance: 1.00USD");
}

TEST(BalanceQuery, AnAnswerWithoutTagsShowsOnlyTheLabel) {
    TestPhone t;
    t.https.response = {HttpsResponse::Outcome::Ok, 200, "no balance here", {}};
    QueryBalance(t.phone);
    EXPECT_EQ(t.view.text(ctl::Balance), "Balance: ");
}
