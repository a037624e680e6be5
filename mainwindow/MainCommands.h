// Commands of the main window that are not a part of their own: closing, minimising, the audio
// wizard and the volume sliders.
#pragma once

class QWidget;
struct Phone;

// Logs off a registered account (ending any call first), then ends the window with OK.
void OnCloseCommand(Phone& phone);
void OnMinimizeCommand(Phone& phone);
void OnAudioWizardCommand(Phone& phone);
// A slider notification: the position becomes the microphone (1042) or speaker (1043) volume.
void OnVolumeSlider(Phone& phone, int control, int position, bool vertical, int sliderMax);
