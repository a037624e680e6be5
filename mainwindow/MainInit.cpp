#include "mainwindow/MainInit.h"

#include "engine/Registration.h"
#include "phone/ControlIds.h"
#include "phone/Phone.h"
#include "skin/Volume.h"

using namespace rtc;

const QList<int>& ButtonImageOrder() {
    static const QList<int> order = {
        ctl::Feedback,    ctl::Redial, ctl::One,    ctl::Two,     ctl::Three,  ctl::Four,     ctl::Five,
        ctl::Six,         ctl::Seven,  ctl::Eight,  ctl::Nine,    ctl::Pickup, ctl::Hangup,   ctl::Audio,
        ctl::CallHistory, ctl::Rate,   ctl::Star,   ctl::Pound,   ctl::Zero,   ctl::Register, ctl::Minimize,
        ctl::Cross,       ctl::Phone,  ctl::LogOff, ctl::Account, ctl::Back,   ctl::Clear,    ctl::Clear1,
    };
    return order;
}

QString StartDateText(const QDateTime& t) {
    return QString::asprintf("%d/%d/%d", t.date().day(), t.date().month(), t.date().year());
}

QString StartTimeText(const QDateTime& t) {
    return QString::asprintf("%d:%d:%d", t.time().hour(), t.time().minute(), t.time().second());
}

bool SoundDevicePresent(Phone& phone) {
    ComPtr<IEngineAudio> audio;
    if (phone.st.client.as(audio) != S_OK || !audio)
        return false;
    bool present = false;
    return Succeeded(audio->HasSoundDevice(&present)) && present;
}

namespace {
void SetSliderFromVolume(Phone& phone, RTC_AUDIO_DEVICE device, int slider) {
    long volume = 0;
    phone.st.client->get_Volume(device, &volume);
    // Both sliders are horizontal with the engine's full range.
    phone.view.setSliderPosition(slider, volume::InitialSliderPosition(volume, false, volume::kMax));
}
} // namespace

bool RunMainInit(Phone& phone, IMainInitView& view, const ClientFactory& factory, QObject* eventTarget) {
    MainState& st = phone.st;
    st.minimized = 0;
    view.focus(ctl::NumberField);
    view.setupTooltips();
    view.addAboutMenuEntry();
    view.setIcons();
    view.loadButtonImages(ButtonImageOrder());
    view.setNumberFieldColours();
    view.setNumberFieldFont();
    st.focusedField = 4;
    view.setupSliders();

    const HRESULT hr = InitializeRTCApp(phone, factory, eventTarget);
    if (Failed(hr)) {
        phone.box.show(FormatErrorText("InitializeRTCApp() Failed: 0x%x", hr), kRtcErrorTitle);
        return false;
    }

    SetSliderFromVolume(phone, RTCAD_SPEAKER, ctl::SpeakerSlider);
    SetSliderFromVolume(phone, RTCAD_MICROPHONE, ctl::MicSlider);

    st.registered = 0;
    st.callConnected = 0;
    st.ringing = 0;
    st.callInProgress = 0;

    if (!SoundDevicePresent(phone)) {
        phone.box.show(QStringLiteral("Please check your sound card driver"));
        return true;
    }

    view.setText(ctl::WebLink, QString());
    view.createLoginWindow();
    view.setLabelFonts();

    const QDateTime now = phone.clock.now();
    view.setText(ctl::StartDate, StartDateText(now));
    view.setText(ctl::StartTime, StartTimeText(now));

    const int result = view.runLoginWindow();
    if (result == 1)
        LoginCommand(phone);
    else if (result == 2)
        view.endDialog(2);

    view.focus(ctl::NumberField);
    view.destroyLoginWindow();
    return true;
}
