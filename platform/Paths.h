// Where the program keeps its files; everything follows the XDG base directories so that a
// test can give each run folders of its own.
#pragma once

#include <QString>

namespace paths {
// $XDG_DATA_HOME/Kestu/SoftPhone: the call history and phone book files. Created when missing.
QString dataDir();
// $XDG_DATA_HOME/Kestu/SoftPhone/engine: the engine's own files. Created when missing.
QString engineDir();
// $XDG_RUNTIME_DIR (or a fallback in the temporary folder): the single-instance lock and the
// socket for links. Whoever else could write there could hold the lock or answer for the phone,
// so it must be a folder of this user's, open to nobody else (0700). Empty when it is not,
// with the reason in `why`.
QString runtimeDir(QString* why = nullptr);
// The folder holding the sound files ("Dtmf-0.wav" ... "ring.wav"), found next to the program
// whether it runs from its build folder or from an installation; never the working directory.
QString soundDir();
// Creates `dir` (and its parents) private to the user (0700) when missing.
bool ensurePrivateDir(const QString& dir);
} // namespace paths
