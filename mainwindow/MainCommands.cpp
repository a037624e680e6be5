#include "mainwindow/MainCommands.h"

#include "engine/Registration.h"
#include "mainwindow/ControlIds.h"
#include "mainwindow/Phone.h"
#include "skin/Volume.h"

using namespace rtc;

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
