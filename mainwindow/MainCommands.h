// The main window's commands: every click routed to the logic that handles it (calls, dial pad,
// registration), and the commands the window handles itself (closing, minimising, the audio
// wizard, the volume sliders, the phone book, call history and login windows, the web links).
#pragma once

class QString;
struct Phone;

// Runs the command of a click on the main window's control `id`; false when the control has
// none (status texts, for example).
bool OnMainCommand(Phone& phone, int id);

// Logs off a registered account (ending any call first), then ends the window with OK.
void OnCloseCommand(Phone& phone);
void OnMinimizeCommand(Phone& phone);
void OnAudioWizardCommand(Phone& phone);
// A slider notification: the position becomes the microphone (1042) or speaker (1043) volume.
void OnVolumeSlider(Phone& phone, int control, int position, bool vertical, int sliderMax);
// The phone book and call history windows: a number chosen there is put in the number field
// and called.
void OnPhoneBookCommand(Phone& phone);
void OnRecentCallsCommand(Phone& phone);
// The login window; OK logs in with what it left in the account fields.
void OnAccountCommand(Phone& phone);
