#include "rtc/linphone/Engine.h"

#include "rtc/linphone/EchoCanceller.h"
#include "rtc/linphone/EngineSupport.h"
#include "rtc/linphone/G711Decoder.h"
#include "rtc/linphone/ServerDefaults.h"

#include "rtc/linphone/TuningWizard.h"

#include <QFileInfo>

#include <linphone/core.h>
#include <linphone/core_utils.h>

namespace rtc::lin {

namespace {

using linphone::Call;

// liblinphone lists this card even with no sound hardware and no sound server.
constexpr const char* kAlsaDefault = "ALSA Unknown: default";
// Level events report dB from -120 (silence) to 0 (full scale) shifted to 0..120.
constexpr long kLevelMin = 0;
constexpr long kLevelMax = 120;
// A local sound server answers in a few milliseconds; one that does not is left alone.
constexpr int kServerDefaultsTimeoutMs = 500;

// What a volume does to the sound, in dB (amplitude); -inf for 0.
float amplitudeDb(long volume) {
    return 20.0f * std::log10(static_cast<float>(volume) / kVolumeMax);
}

long levelFromDb(float db) {
    if (!std::isfinite(db))
        return kLevelMin;
    return std::clamp(static_cast<long>(std::lround(db + 120.0f)), kLevelMin, kLevelMax);
}

} // namespace

void Engine::configureMedia() {
    // Opus first, with in-band FEC asked of the far end, for far ends that take it; G.711 stays
    // on for every server of the service (a call never fails for want of Opus). The others keep
    // liblinphone's order: the numbers of the telephone-event payload types follow the order of
    // the codecs' clock rates, and far ends that answer with a fixed number for telephone-event
    // (101 for 8 kHz) would get no DTMF if it moved.
    auto list = core_->getAudioPayloadTypes();
    std::shared_ptr<linphone::PayloadType> opus;
    for (const auto& pt : list) {
        const std::string mime = pt->getMimeType();
        if (mime == "opus" && pt->getClockRate() == 48000)
            opus = pt;
        else if ((mime == "PCMU" || mime == "PCMA") && pt->getClockRate() == 8000)
            pt->enable(true);
    }
    if (opus) {
        const std::string fmtp = opus->getRecvFmtp();
        if (fmtp.find("useinbandfec=1") == std::string::npos)
            opus->setRecvFmtp(fmtp.empty() ? "useinbandfec=1" : fmtp + ";useinbandfec=1");
        opus->enable(true);
        if (list.front() != opus) {
            list.remove(opus);
            list.push_front(opus);
            core_->setAudioPayloadTypes(list);
        }
    }

    // G.711 decoders that fill in lost packets by their timestamps and give back in the far end's
    // pauses the delay a loss added (G711Decoder.h).
    registerG711Decoders(linphone_core_get_ms_factory(core_->cPtr()));
    // The echo canceller, suppressing the residual echo only once there is an echo
    // (EchoCanceller.h).
    registerEchoCanceller(linphone_core_get_ms_factory(core_->cPtr()));
    core_->setEchoCancellerFilterName(kEchoCancellerName);
    // The jitter buffer grows at once when packets come late, and comes down only once the
    // largest lateness of the last two periods is well below its size, by one step each ramp
    // period. Stock, that is 5 s periods and 20 ms steps: after a spell of jitter that grew it
    // to 80 ms, the call stayed slower for 10-15 s. With 2 s periods and a step each second it
    // is back within about 5 s; through the jitter itself it held as well (measured in bench/).
    core_->getConfig()->setInt("rtp", "jitter_buffer_refresh_period", 2000);
    core_->getConfig()->setInt("rtp", "jitter_buffer_ramp_refresh_period", 1000);
    core_->getConfig()->setInt("rtp", "jitter_buffer_ramp_step", 20);
    // Everything of the audio graph but mediastreamer's generic loss concealment, which the
    // decoders above replace for G.711 (Opus conceals in its own decoder), and its flow control.
    // Measured in bench/: the generic concealment plays a late packet after filling in its place,
    // and the flow control, driven by the echo canceller (which holds the far end's sound until
    // the microphone's matching frame), drains what little the speaker has waiting; with both,
    // every late packet or burst of the microphone ran the speaker dry and calls grew to 300 ms
    // and beyond.
    core_->getConfig()->setString("sound", "features",
                                  "EC|EQUALIZER|VOL_SND|VOL_RCV|DTMF|DTMF_ECHO|MIXED_RECORDING|LOCAL_PLAYING|"
                                  "REMOTE_PLAYING");
}

HRESULT Engine::getVolume(RTC_AUDIO_DEVICE device, long* volume) {
    if (!volume)
        return E_POINTER;
    if (device == RTCAD_SPEAKER)
        *volume = speakerVolume_;
    else if (device == RTCAD_MICROPHONE)
        *volume = micVolume_;
    else
        return E_INVALIDARG;
    return S_OK;
}

HRESULT Engine::putVolume(RTC_AUDIO_DEVICE device, long volume) {
    if (volume < 0 || volume > kVolumeMax)
        return E_INVALIDARG;
    if (device == RTCAD_SPEAKER) {
        speakerVolume_ = volume;
        if (volume > 0)
            core_->setPlaybackGainDb(volumeToDb(volume));
        for (const auto& call : core_->getCalls())
            applySpeakerMute(call);
    } else if (device == RTCAD_MICROPHONE) {
        micVolume_ = volume;
        if (volume > 0)
            core_->setMicGainDb(volumeToDb(volume));
        core_->enableMic(volume > 0);
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

void Engine::applySpeakerMute(const std::shared_ptr<linphone::Call>& call) {
    const auto s = call->getState();
    if (s == Call::State::StreamsRunning || s == Call::State::Connected || s == Call::State::Paused ||
        s == Call::State::PausedByRemote || s == Call::State::Updating || s == Call::State::UpdatedByRemote)
        call->setSpeakerMuted(speakerVolume_ == 0);
}

void Engine::pollLevels() {
    if (!core_ || sinks_.empty() || !(eventFilter_ & (1L << RTCE_INTENSITY)))
        return;
    auto call = core_->getCurrentCall();
    if (!call || call->getState() != Call::State::StreamsRunning)
        return;
    // liblinphone measures before its gains: add them, so that the levels are those played and
    // sent, as the volume controls set them.
    const long played = levelFromDb(call->getPlayVolume() + amplitudeDb(speakerVolume_));
    const long recorded = levelFromDb(call->getRecordVolume() + amplitudeDb(micVolume_));
    raise(RTCE_INTENSITY, new IntensityEvent(RTCAD_SPEAKER, kLevelMin, kLevelMax, played));
    raise(RTCE_INTENSITY, new IntensityEvent(RTCAD_MICROPHONE, kLevelMin, kLevelMax, recorded));
}

bool Engine::followSoundServer(bool probe) {
    if (!core_)
        return false;
    const long long now = soundServer_.current(probe);
    if (now == SoundServer::kUnknown || now == soundServerSeen_)
        return true;
    if (!calls_.empty())
        return false; // the devices stay as they are under a call; looked at again after it
    if (now == SoundServer::kLeaving)
        return false; // reloaded once the old server has let go of us: reloading now could hang
    qCWarning(lcEngine, "the sound server %s: reloading the audio devices",
              now == SoundServer::kNone ? "went away" : "is (back) up");
    soundServerSeen_ = now;
    // The stream of tones and local sounds outlives its last sound by a few seconds, on the
    // server it was opened on: one that went away leaves it broken for good, and the next tone
    // or ring would be written into it and lost. It is made anew on the next sound.
    core_->stopRinging();
    linphone_core_stop_dtmf_stream(core_->cPtr());
    core_->reloadSoundDevices();
    if (now > SoundServer::kNone)
        useServerDefaults();
    return true;
}

void Engine::useServerDefaults() {
    const auto wanted = serverdefaults::query(kServerDefaultsTimeoutMs);
    using Caps = linphone::AudioDevice::Capabilities;
    for (const auto& device : core_->getExtendedAudioDevices()) {
        if (device->getDriverName() != "PulseAudio")
            continue;
        if (!wanted.sink.empty() && device->getDeviceName() == wanted.sink &&
            device->hasCapability(Caps::CapabilityPlay))
            core_->setDefaultOutputAudioDevice(device);
        if (!wanted.source.empty() && device->getDeviceName() == wanted.source &&
            device->hasCapability(Caps::CapabilityRecord))
            core_->setDefaultInputAudioDevice(device);
    }
}

HRESULT Engine::playSoundFile(const QString& path) {
    if (!QFileInfo(path).isFile())
        return E_INVALIDARG;
    // A sound opened on the devices of a server that went away would crash: skipped quietly. The
    // server is asked (one local connect) rather than taken from the last look: a sound is rare,
    // and one that came right after a restart would go to the stream left on the old server.
    if (!followSoundServer(true))
        return E_FAIL;
    return core_->playLocal(toStd(path)) == 0 ? S_OK : E_FAIL;
}

HRESULT Engine::hasSoundDevice(bool* present) {
    if (!present)
        return E_POINTER;
    // Any real card counts, as any sound hardware gave the original check its mixer: a sound
    // server whose only devices are outputs (null sinks, say) still counts.
    const bool current = followSoundServer(true);
    // ALSA's "default" is listed whatever is behind it. It counts while a sound server answers:
    // then it leads there (after the server came back it is the way to reach it).
    auto scan = [this] {
        for (const auto& device : core_->getExtendedAudioDevices()) {
            if (device->getId() == kAlsaDefault && soundServerSeen_ <= SoundServer::kNone)
                continue;
            if (device->hasCapability(linphone::AudioDevice::Capabilities::CapabilityRecord) ||
                device->hasCapability(linphone::AudioDevice::Capabilities::CapabilityPlay))
                return true;
        }
        return false;
    };
    *present = scan();
    if (!*present && current) {
        // A card plugged in (or a sound server started) since the core started.
        core_->reloadSoundDevices();
        useServerDefaults();
        *present = scan();
    }
    return S_OK;
}

HRESULT Engine::invokeTuningWizard(QWidget* parent) {
    followSoundServer();
    TuningWizard wizard(core_, options_.soundDir, options_.dataDir, parent);
    wizard.exec();
    return S_OK;
}

} // namespace rtc::lin
