#include "app/KestuSoftPhoneApp.h"

#include "engine/linphone/LinphoneClient.h"
#include "mainwindow/KestuSoftPhoneDlg.h"
#include "platform/AppConfig.h"
#include "platform/Clock.h"
#include "platform/HttpsClient.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QLockFile>

#include <sys/stat.h>

QString CKestuSoftPhoneApp::instanceLockPath() {
    return paths::runtimeDir() + QStringLiteral("/MyApp-SingleInstance.lock");
}

int CKestuSoftPhoneApp::run(int argc, char** argv) {
    // Settings, history and the engine's files hold passwords and call records: nothing the
    // program creates is readable by other users.
    ::umask(077);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvane-softphone"));
    QApplication::setApplicationDisplayName(QStringLiteral("Orvane Softphone"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));

    QLockFile instance(instanceLockPath());
    instance.setStaleLockTime(0);
    if (!instance.tryLock(0)) {
        QtMessageBox().show(QStringLiteral("Another Instance is running"));
        return 0;
    }

    const AppConfig config = AppConfig::fromEnvironment();
    SystemClock clock;
    CurlHttpsClient https(config.caFile);

    MainWindowServices services;
    services.https = &https;
    services.clock = &clock;
    services.config = config;
    services.soundDir = paths::soundDir();
    services.historyDir = paths::dataDir();
    const EngineOptions engine{paths::engineDir(), services.soundDir, -1};
    services.engineFactory = [engine](rtc::IRTCClient** out) { return CreateLinphoneClient(engine, out); };

    CKestuSoftPhoneDlg window(services);
    window.DoModal();
    return 0;
}
