// The log file a user can send when calls do not arrive: every message of the program's
// orvane.* logging categories (registration, network, calls, sound, keyring, the engine's own
// warnings), one line each with the time, from info up. Quiet unless asked for (--log FILE or
// ORVANE_LOG_FILE); messages of other categories keep going where they went.
#pragma once

#include <QString>

// Appends to `path` from now on. False (and *error says why) when the file cannot be opened.
bool StartLogFile(const QString& path, QString* error);
// Stops writing to the file and gives the messages back to the handler that had them.
void StopLogFile();
