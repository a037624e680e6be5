// The phone's sounds: dial-pad tones and the ringback tone, as 16-bit mono PCM WAV files.
#pragma once

#include <QString>

namespace gen {

// Writes "Dtmf-0.wav" ... "Dtmf-9.wav", "Dtmf-star.wav", "Dtmf-pound.wav" and "ring.wav" into
// `dir`. False when a file cannot be written.
bool writeSounds(const QString& dir);

} // namespace gen
