// The application: one instance per user session, running the main window until it closes.
#pragma once

class QString;

class CKestuSoftPhoneApp {
public:
    static int run(int argc, char** argv);
    // The lock file that marks the running instance ("MyApp-SingleInstance" in the user's
    // runtime folder). A lock left by a crashed instance does not block the next start.
    static QString instanceLockPath();
};
