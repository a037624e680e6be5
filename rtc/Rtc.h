// The telephony engine as the rest of the program sees it: a client with the operations the
// phone uses, the events it raises and the result codes it returns. The shape follows a
// reference-counted component model on purpose: callers rely on "result other than 0" and
// "released exactly once" rules, so results are 32-bit codes and objects are counted.
// Wrap every counted pointer in rtc::ComPtr (ComPtr.h); nobody releases by hand.
#pragma once

#include <QString>

#include <cstdint>

class QWidget;

namespace rtc {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
// Engine-specific failures.
constexpr HRESULT RTC_E_INVALID_PROFILE = static_cast<HRESULT>(0x80EE0005u);
constexpr HRESULT RTC_E_INVALID_SESSION_STATE = static_cast<HRESULT>(0x80EE0009u);
constexpr HRESULT RTC_E_INVALID_SIP_URL = static_cast<HRESULT>(0x80EE0007u);
constexpr HRESULT RTC_E_CLIENT_NOT_INITIALIZED = static_cast<HRESULT>(0x80EE0019u);
constexpr HRESULT RTC_E_NO_DEVICE = static_cast<HRESULT>(0x80EE000Cu);
// The status code of a registering event while no network reaches the server: the engine
// registers again by itself once one does.
constexpr HRESULT RTC_E_NO_NETWORK = static_cast<HRESULT>(0x80EE0030u);

constexpr bool Failed(HRESULT hr) {
    return hr < 0;
}
constexpr bool Succeeded(HRESULT hr) {
    return hr >= 0;
}

// Interface identifiers, asked for through QueryInterface.
enum class IID {
    IUnknown,
    IRTCClient,
    IRTCClientProvisioning,
    IConnectionPointContainer,
    IConnectionPoint,
    IRTCEventNotification,
    IRTCProfile,
    IRTCSession,
    IRTCParticipant,
    IRTCEnumParticipants,
    IRTCRegistrationStateChangeEvent,
    IRTCSessionStateChangeEvent,
    IRTCIntensityEvent,
    IEngineAudio,
};

enum RTC_EVENT : int {
    RTCE_CLIENT = 0,
    RTCE_REGISTRATION_STATE_CHANGE = 1,
    RTCE_SESSION_STATE_CHANGE = 2,
    RTCE_SESSION_OPERATION_COMPLETE = 3,
    RTCE_PARTICIPANT_STATE_CHANGE = 4,
    RTCE_MEDIA = 5,
    RTCE_INTENSITY = 6,
    RTCE_MESSAGING = 7,
};

// put_EventFilter: the eleven event classes from client to profile.
constexpr long RTCEF_ALL_TO_PROFILE = 0x7FF;

enum RTC_LISTEN_MODE : int { RTCLM_NONE = 0, RTCLM_DYNAMIC = 1, RTCLM_BOTH = 2 };

enum RTC_REGISTRATION_STATE : int {
    RTCRS_NOT_REGISTERED = 0,
    RTCRS_REGISTERING = 1,
    RTCRS_REGISTERED = 2,
    RTCRS_REJECTED = 3,
    RTCRS_UNREGISTERING = 4,
    RTCRS_ERROR = 5,
};

enum RTC_SESSION_STATE : int {
    RTCSS_IDLE = 0,
    RTCSS_INCOMING = 1,
    RTCSS_ANSWERING = 2,
    RTCSS_INPROGRESS = 3,
    RTCSS_CONNECTED = 4,
    RTCSS_DISCONNECTED = 5,
    RTCSS_HOLD = 6,
    RTCSS_REFER = 7,
};

enum RTC_AUDIO_DEVICE : int { RTCAD_SPEAKER = 0, RTCAD_MICROPHONE = 1 };

enum RTC_SESSION_TYPE : int {
    RTCST_PC_TO_PC = 0,
    RTCST_PC_TO_PHONE = 1,
    RTCST_PHONE_TO_PHONE = 2,
    RTCST_IM = 3
};

enum RTC_TERMINATE_REASON : int {
    RTCTR_NORMAL = 0,
    RTCTR_DND = 1,
    RTCTR_BUSY = 2,
    RTCTR_REJECT = 3,
    RTCTR_TIMEOUT = 4,
    RTCTR_SHUTDOWN = 5,
};

// SendDTMF tone numbers: 0..9 for the digits, 10 for '*', 11 for '#'.
enum RTC_DTMF : int {
    RTC_DTMF_0 = 0,
    RTC_DTMF_9 = 9,
    RTC_DTMF_STAR = 10,
    RTC_DTMF_POUND = 11,
};

// EnableProfile flags: register for calls, presence and messages.
constexpr long RTCRF_REGISTER_ALL = 7;

// Volume range of get_Volume / put_Volume.
constexpr long kVolumeMax = 65535;

class IUnknown {
public:
    virtual HRESULT QueryInterface(IID iid, void** out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

class IRTCProfile : public IUnknown {
public:
    static constexpr IID kIid = IID::IRTCProfile;
};

class IRTCParticipant : public IUnknown {
public:
    static constexpr IID kIid = IID::IRTCParticipant;
    // The remote party's address, e.g. "sip:5551000@127.0.0.1".
    virtual HRESULT get_UserURI(QString* uri) = 0;
};

class IRTCEnumParticipants : public IUnknown {
public:
    static constexpr IID kIid = IID::IRTCEnumParticipants;
    // S_OK when all `count` elements were returned, S_FALSE when fewer.
    virtual HRESULT Next(ULONG count, IRTCParticipant** out, ULONG* fetched) = 0;
};

class IRTCSession : public IUnknown {
public:
    static constexpr IID kIid = IID::IRTCSession;
    // Invites `uri` (an outgoing call); the participant is returned with one reference.
    virtual HRESULT AddParticipant(const QString& uri, const QString& name, IRTCParticipant** out) = 0;
    virtual HRESULT Answer() = 0;
    // RTCTR_NORMAL ends or cancels; RTCTR_BUSY declines a ringing call as busy (486).
    virtual HRESULT Terminate(RTC_TERMINATE_REASON reason) = 0;
    virtual HRESULT EnumerateParticipants(IRTCEnumParticipants** out) = 0;
};

class IRTCClient : public IUnknown {
public:
    static constexpr IID kIid = IID::IRTCClient;
    virtual HRESULT Initialize() = 0;
    virtual HRESULT put_EventFilter(long filter) = 0;
    virtual HRESULT put_ListenForIncomingSessions(RTC_LISTEN_MODE mode) = 0;
    virtual HRESULT get_Volume(RTC_AUDIO_DEVICE device, long* volume) = 0;
    // 0..65535; 0 mutes the device.
    virtual HRESULT put_Volume(RTC_AUDIO_DEVICE device, long volume) = 0;
    virtual HRESULT CreateSession(RTC_SESSION_TYPE type, const QString& localPhoneUri, IRTCProfile* profile,
                                  long flags, IRTCSession** out) = 0;
    // Sends the tone on the active call, as RFC 4733 telephone events.
    virtual HRESULT SendDTMF(RTC_DTMF tone) = 0;
    // A modal dialog: choose the capture and playback devices, watch the microphone level, play a
    // test sound.
    virtual HRESULT InvokeTuningWizard(QWidget* parent) = 0;
};

class IRTCClientProvisioning : public IUnknown {
public:
    static constexpr IID kIid = IID::IRTCClientProvisioning;
    virtual HRESULT CreateProfile(const QString& profileXml, IRTCProfile** out) = 0;
    virtual HRESULT EnableProfile(IRTCProfile* profile, long registerFlags) = 0;
    virtual HRESULT DisableProfile(IRTCProfile* profile) = 0;
};

class IConnectionPoint : public IUnknown {
public:
    static constexpr IID kIid = IID::IConnectionPoint;
    virtual HRESULT Advise(IUnknown* sink, std::uint32_t* cookie) = 0;
    virtual HRESULT Unadvise(std::uint32_t cookie) = 0;
};

class IConnectionPointContainer : public IUnknown {
public:
    static constexpr IID kIid = IID::IConnectionPointContainer;
    virtual HRESULT FindConnectionPoint(IID iid, IConnectionPoint** out) = 0;
};

class IRTCEventNotification : public IUnknown {
public:
    static constexpr IID kIid = IID::IRTCEventNotification;
    // Called on the UI thread; `event` is borrowed for the duration of the call.
    virtual HRESULT Event(RTC_EVENT type, IUnknown* event) = 0;
};

class IRTCRegistrationStateChangeEvent : public IUnknown {
public:
    static constexpr IID kIid = IID::IRTCRegistrationStateChangeEvent;
    virtual HRESULT get_State(RTC_REGISTRATION_STATE* state) = 0;
    virtual HRESULT get_StatusCode(long* code) = 0;
};

class IRTCSessionStateChangeEvent : public IUnknown {
public:
    static constexpr IID kIid = IID::IRTCSessionStateChangeEvent;
    virtual HRESULT get_State(RTC_SESSION_STATE* state) = 0;
    virtual HRESULT get_Session(IRTCSession** session) = 0;
    virtual HRESULT get_StatusCode(long* code) = 0;
};

class IRTCIntensityEvent : public IUnknown {
public:
    static constexpr IID kIid = IID::IRTCIntensityEvent;
    virtual HRESULT get_Level(long* level) = 0;
    virtual HRESULT get_Min(long* min) = 0;
    virtual HRESULT get_Max(long* max) = 0;
    virtual HRESULT get_Direction(RTC_AUDIO_DEVICE* direction) = 0;
};

// What the platform's sound services did on the original system, served here by the engine
// (it owns the audio devices): playing a local sound file and telling whether a real capture
// and playback device exists. Asked of the client through QueryInterface.
class IEngineAudio : public IUnknown {
public:
    static constexpr IID kIid = IID::IEngineAudio;
    // Plays the file asynchronously, cutting short the sound played before.
    virtual HRESULT PlaySoundFile(const QString& path) = 0;
    // *present = true when a real sound device (capture or playback) exists.
    virtual HRESULT HasSoundDevice(bool* present) = 0;
};

} // namespace rtc
