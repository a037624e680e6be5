#include "app/KestuSoftPhoneApp.h"

#include "app/CommandLine.h"
#include "app/InstanceChannel.h"
#include "calls/CallLink.h"
#include "mainwindow/KestuSoftPhoneDlg.h"
#include "platform/AppConfig.h"
#include "platform/Clock.h"
#include "platform/HttpsClient.h"
#include "platform/LogFile.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "rtc/linphone/LinphoneClient.h"

#include <QApplication>
#include <QLockFile>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcApp, "orvane.app", QtWarningMsg)

namespace {

// SIGTERM (the desktop session ending, a service manager stopping the user's processes) and
// SIGHUP/SIGINT end the phone the way its close button does: logged off. The handler only
// writes a byte; the event loop does the rest.
int gSignalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

void WatchTerminationSignals(QObject* owner, const std::function<void()>& onSignal) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [onSignal] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(gSignalPipe[0], &byte, 1);
        onSignal();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(sig, &action, nullptr);
}

} // namespace

QString CKestuSoftPhoneApp::instanceLockPath() {
    return paths::runtimeDir() + QStringLiteral("/MyApp-SingleInstance.lock");
}

QString CKestuSoftPhoneApp::linkSocketPath() {
    return paths::runtimeDir() + QStringLiteral("/orvane-softphone.socket");
}

int CKestuSoftPhoneApp::run(int argc, char** argv) {
    // Settings, history and the engine's files hold passwords and call records: nothing the
    // program creates is readable by other users.
    ::umask(077);

    // --help and --version answer before anything needs a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine command = ParseCommandLine(arguments, QStringLiteral(ORVANE_VERSION));
    switch (command.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        std::fputs(command.output.toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Action::Error:
        std::fputs(command.output.toLocal8Bit().constData(), stderr);
        return 2;
    case CommandLine::Action::Run:
        break;
    }
    const QString logFile =
        command.logFile.isEmpty() ? qEnvironmentVariable("ORVANE_LOG_FILE") : command.logFile;
    if (!logFile.isEmpty()) {
        QString why;
        if (!StartLogFile(logFile, &why)) {
            std::fprintf(stderr, "orvane-softphone: cannot write the log to %s: %s\n",
                         logFile.toLocal8Bit().constData(), why.toLocal8Bit().constData());
            return 2;
        }
        // The engine's own warnings belong in a log a user sends (a developer may ask for more).
        if (qEnvironmentVariableIsEmpty("ORVANE_ENGINE_LOG"))
            qputenv("ORVANE_ENGINE_LOG", "warning");
        qCInfo(lcApp, "Orvane Softphone %s started", ORVANE_VERSION);
    }
    // The engine's slow set-up runs while Qt starts and the window is built.
    PrepareLinphoneClient();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvane-softphone"));
    QApplication::setApplicationDisplayName(QStringLiteral("Orvane Softphone"));
    QApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
    // The desktop entry's name, so that the desktop shows the window with its entry's icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.orvanephone.Softphone"));
    // A steady caret: a blinking one repaints its field twice a second all day long, even the
    // number field's, which shows none.
    QApplication::setCursorFlashTime(0);

    std::optional<CallLink> link;
    if (!command.link.isEmpty()) {
        QString why;
        link = ParseCallLink(command.link, &why);
        if (!link) {
            std::fprintf(stderr, "orvane-softphone: %s\n", why.toLocal8Bit().constData());
            QtMessageBox().show(why);
            return 2;
        }
    }

    QString unsafe;
    if (paths::runtimeDir(&unsafe).isEmpty()) {
        std::fprintf(stderr, "orvane-softphone: %s\n", unsafe.toLocal8Bit().constData());
        QtMessageBox().show(unsafe);
        return 1;
    }
    QLockFile instance(instanceLockPath());
    instance.setStaleLockTime(0);
    if (!instance.tryLock(0)) {
        // A link goes to the running phone, which calls it; this start ends quietly.
        if (link && SendLinkToRunningInstance(linkSocketPath(), command.link))
            return 0;
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
    LinkServer links(linkSocketPath());
    QObject::connect(&links, &LinkServer::linkReceived, &window, [&window](const QString& text) {
        QString why;
        if (const auto handed = ParseCallLink(text, &why))
            window.openLink(*handed);
    });
    if (!links.listen())
        std::fprintf(stderr, "orvane-softphone: links from a second start cannot reach this one\n");
    if (link)
        window.openLink(*link);
    WatchTerminationSignals(&window, [&window] { window.endSession(); });

    window.DoModal();
    return 0;
}
