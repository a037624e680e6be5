#include "mainwindow/MainCommands.h"

#include "calls/DialPad.h"
#include "calls/Pickup.h"
#include "calls/Session.h"
#include "engine/Registration.h"
#include "phone/ControlIds.h"
#include "phone/Phone.h"
#include "skin/Volume.h"

using namespace rtc;

bool OnMainCommand(Phone& p, int id) {
    if (DialKeyForControl(id)) {
        OnDigitButton(p, id);
        return true;
    }
    switch (id) {
    case ctl::Register:
        LoginCommand(p);
        break;
    case ctl::LoginLogoff:
        OnLoginLogoffCommand(p);
        break;
    case ctl::LogOff:
        OnLogOffCommand(p);
        break;
    case ctl::Hangup:
        OnHangup(p);
        break;
    case ctl::Pickup:
        OnPickup(p);
        break;
    case ctl::Audio:
        OnAudioWizardCommand(p);
        break;
    case ctl::Back:
        OnBack(p);
        break;
    case ctl::Redial:
        OnRedial(p);
        break;
    case ctl::Rate:
        p.view.openUrl(kBillingSiteUrl + QLatin1Char('/'));
        break;
    case ctl::CallHistory:
        p.view.openUrl(kBillingSiteUrl);
        break;
    case ctl::Cross:
        OnCloseCommand(p);
        break;
    case ctl::Minimize:
        OnMinimizeCommand(p);
        break;
    case ctl::Phone:
        OnPhoneBookCommand(p);
        break;
    case ctl::Account:
        OnAccountCommand(p);
        break;
    case ctl::WebLink:
        p.view.openUrl(kWebSiteUrl);
        break;
    case ctl::HelpLink:
        p.view.openUrl(kUserGuideUrl);
        break;
    case ctl::Feedback:
        OnRecentCallsCommand(p);
        break;
    case ctl::Clear:
    case ctl::Clear1:
        OnClear(p);
        break;
    default:
        return false;
    }
    return true;
}

void OnCloseCommand(Phone& phone) {
    if (phone.st.registered == 1) {
        phone.view.enable(ctl::UserNameField, true);
        phone.view.enable(ctl::PasswordField, true);
        LogOffRoutine(phone);
    }
    phone.view.endDialog(1);
}

void OnMinimizeCommand(Phone& phone) {
    phone.view.minimize();
    phone.st.minimized = 1;
}

void OnAudioWizardCommand(Phone& phone) {
    if (phone.st.client)
        phone.st.lastResult = phone.st.client->InvokeTuningWizard(nullptr);
}

void OnVolumeSlider(Phone& phone, int control, int position, bool vertical, int sliderMax) {
    if (!phone.st.client)
        return;
    const long volume = volume::FromSliderPosition(position, vertical, sliderMax);
    if (control == ctl::MicSlider)
        phone.st.client->put_Volume(RTCAD_MICROPHONE, volume);
    else if (control == ctl::SpeakerSlider)
        phone.st.client->put_Volume(RTCAD_SPEAKER, volume);
}

void OnPhoneBookCommand(Phone& phone) {
    const QString number = phone.view.runPhoneBook();
    if (number.isEmpty())
        return;
    phone.view.setText(ctl::NumberField, number);
    OnPickup(phone);
}

void OnRecentCallsCommand(Phone& phone) {
    const QString number = phone.view.runCallLog();
    if (number.isEmpty())
        return;
    phone.view.setText(ctl::NumberField, number);
    phone.view.caretToEnd(ctl::NumberField);
    OnPickup(phone);
}

void OnAccountCommand(Phone& phone) {
    if (phone.view.runAccountLogin() == 1)
        LoginCommand(phone);
}
