// What the parts of the liblinphone engine share: string and volume conversions, call-state
// questions and the engine's log category.
#pragma once

#include "rtc/Rtc.h"

#include <linphone++/linphone.hh>

#include <QLoggingCategory>
#include <QString>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

Q_DECLARE_LOGGING_CATEGORY(lcEngine)

namespace rtc::lin {

inline std::string toStd(const QString& s) {
    return s.toStdString();
}
inline QString fromStd(const std::string& s) {
    return QString::fromStdString(s);
}

inline long errorCode(const std::shared_ptr<const linphone::ErrorInfo>& info) {
    return info ? info->getProtocolCode() : 0;
}

inline bool isIncomingRinging(linphone::Call::State s) {
    return s == linphone::Call::State::IncomingReceived || s == linphone::Call::State::IncomingEarlyMedia;
}

inline bool accountInCore(const std::shared_ptr<linphone::Core>& core,
                          const std::shared_ptr<linphone::Account>& acc) {
    if (!acc)
        return false;
    const auto list = core->getAccountList();
    return std::find(list.begin(), list.end(), acc) != list.end();
}

// Volume 0..65535 <-> the gain in dB liblinphone's setters take. They turn it into an amplitude
// factor of 10^(dB/10) (measured: -20 "dB" lowers the sound by 40 dB), so 10*log10(v/65535) makes
// the amplitude proportional to the volume: 65535 full, 32768 half.
inline float volumeToDb(long volume) {
    return 10.0f * std::log10(static_cast<float>(volume) / kVolumeMax);
}
inline long dbToVolume(float db) {
    const double v = std::round(kVolumeMax * std::pow(10.0, db / 10.0));
    return static_cast<long>(std::clamp(v, 0.0, static_cast<double>(kVolumeMax)));
}

} // namespace rtc::lin
