#include "integration/window_lab.h"

#include "fakes/Modal.h"
#include "lab/Pulse.h"
#include "platform/Paths.h"
#include "rtc/linphone/LinphoneClient.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

namespace windowtest {

void WindowTest::SetUpTestSuite() {
    labReady = false;
    if (!lab::Pulse::shared().start())
        return;
    uasPort = lab::freePort();
    auto accounts = lab::Kamailio::defaultAccounts();
    accounts.push_back({kSpecialUser, kSpecialPassword});
    kamailio = std::make_unique<lab::Kamailio>();
    billing = std::make_unique<lab::HttpsServer>();
    labReady =
        kamailio->start(uasPort, accounts) && billing->start(QStringLiteral("12.50"), QStringLiteral("EUR"));
}

void WindowTest::TearDownTestSuite() {
    kamailio.reset();
    billing.reset();
}

void WindowTest::SetUp() {
    ASSERT_TRUE(labReady) << "the peers did not start (kamailio, billing server or PulseAudio)";
    QSettings("Kestu", "SoftPhone").clear();
    https = std::make_unique<CurlHttpsClient>(billing->caFile());
}

void WindowTest::TearDown() {
    window.reset();
}

RecordingWindow& WindowTest::newWindow() {
    window.reset();
    enginePort = lab::freePort();
    MainWindowServices s;
    const EngineOptions engine{dir.filePath(QStringLiteral("engine%1").arg(enginePort)), paths::soundDir(),
                               enginePort};
    s.engineFactory = [engine](rtc::IRTCClient** out) { return CreateLinphoneClient(engine, out); };
    s.https = https.get();
    s.clock = &clock;
    s.box = &box;
    s.secrets = &keyring;
    s.soundDir = paths::soundDir();
    s.historyDir = dir.filePath(QStringLiteral("history"));
    s.config.sipServer = kamailio->address();
    s.config.billingHost = billing->host();
    s.openUrl = [](const QString&) {};
    window = std::make_unique<RecordingWindow>(s);
    return *window;
}

int WindowTest::run(const std::function<void(CLogin*)>& login, const std::function<void()>& body) {
    if (!window)
        newWindow();
    QPointer<QTimer> loginWatch = fake::whenModal<CLogin>([login](CLogin* w) { login(w); }, 30000);
    QPointer<QTimer> windowWatch;
    QTimer::singleShot(0, window.get(), [this, body, &windowWatch] {
        windowWatch = fake::whenModal<CKestuSoftPhoneDlg>(
            [this, body](CKestuSoftPhoneDlg*) {
                body();
                if (window->isVisible())
                    window->done(0);
            },
            30000);
    });
    const int result = window->DoModal();
    // A window that never ran (its start-up login cancelled) leaves its watch armed.
    delete loginWatch.data();
    delete windowWatch.data();
    return result;
}

void WindowTest::typeLogin(CLogin* w, const QString& user, const QString& password, bool save) {
    auto* userField = qobject_cast<QLineEdit*>(w->control(loginctl::UserName));
    auto* passwordField = qobject_cast<QLineEdit*>(w->control(loginctl::Password));
    userField->clear();
    passwordField->clear();
    QTest::keyClicks(userField, user);
    QTest::keyClicks(passwordField, password);
    w->setSaveChecked(save);
    QTest::keyClick(passwordField, Qt::Key_Return);
}

bool WindowTest::waitText(int id, const QString& text, int timeoutMs) {
    return waitFor([&] { return window->text(id) == text; }, timeoutMs);
}

bool WindowTest::waitFor(const std::function<bool()>& pred, int timeoutMs) {
    return fake::waitFor(pred, timeoutMs);
}

QStringList WindowTest::records(CallKind kind) const {
    return window->phone().history.LoadCallRecords(kind);
}

void WindowTest::click(int id) {
    auto* b = qobject_cast<QAbstractButton*>(window->control(id));
    ASSERT_TRUE(b) << id;
    b->click();
}

QString WindowTest::status(int id) const {
    return window->text(id);
}

} // namespace windowtest
