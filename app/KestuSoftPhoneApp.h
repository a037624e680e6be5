// The application: reads its command line, keeps one instance per user session (a second start
// hands its link to the first), and runs the main window until it closes or the session ends.
#pragma once

class QString;

class CKestuSoftPhoneApp {
public:
    static int run(int argc, char** argv);
    // The lock file that marks the running instance ("MyApp-SingleInstance" in the user's
    // runtime folder). A lock left by a crashed instance does not block the next start.
    static QString instanceLockPath();
    // The running instance's socket for links handed over by a second start.
    static QString linkSocketPath();
};
