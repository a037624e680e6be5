// The program's command line: --help, --version and at most one link to call, read before any
// window or engine exists so that the first two answer on a terminal without a display.
#pragma once

#include <QString>
#include <QStringList>

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    QString output;  // what Help, Version and Error print
    QString link;    // the link given, if any (not yet checked)
    QString logFile; // --log FILE: where registration, network and call events are written
};

// `arguments` as the process got them, the program's name first. Qt's own window-system options
// (-platform, -display, -session and the like) are left to Qt.
CommandLine ParseCommandLine(const QStringList& arguments, const QString& version);
