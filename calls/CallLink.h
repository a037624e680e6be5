// Calls asked for by a link (a sip:, sips:, tel: or callto: address given on the command line or
// handed over by a second start): taking the number out of the link, placing the call once the
// phone can, and sending the digits that follow the number once the call is connected.
#pragma once

#include <QString>

#include <optional>

struct Phone;

struct CallLink {
    QString number;   // what goes into the number field
    QString postDial; // digits, "*", "#" and "," (a 2-second pause) to send once connected
};

// The number of a link: the user part of a sip: or sips: address (its host is ignored: the
// phone calls through its own service), the digits and a leading "+" of a tel: or callto:
// number (visual separators dropped); parameters and headers are dropped. Digits after the
// first "," (or a "postd" parameter) are the post-dial part. Anything else is refused with a
// message saying why.
std::optional<CallLink> ParseCallLink(const QString& link, QString* error = nullptr);

// Post-dial pause per ",".
constexpr int kPostDialPauseMs = 2000;
// Between two post-dial digits, like keys pressed one after the other.
constexpr int kPostDialDigitGapMs = 250;

// How long a link's call waits for the phone to be able to place it: a call placed much later
// than the click would surprise the user.
constexpr int kLinkWaitMs = 60000;

// Keeps the link's call until the phone can place it (registered, no call under way), then
// places it as the call button does. Runs at once when it can; dropped, with a word to the user,
// when it could not within kLinkWaitMs.
void QueueCallLink(Phone& phone, const CallLink& link);
// Places a queued link's call if the phone now can; run when the registration or a call ends.
void RunPendingCallLink(Phone& phone);
// The link's wait is over: its call is dropped and the user told.
void OnLinkWaitTimer(Phone& phone);
// The call placed from a link connected: its post-dial digits start after their pauses.
void OnPostDialConnected(Phone& phone);
// The post-dial timer: sends the next digit or waits out the next pause.
void OnPostDialTimer(Phone& phone);
// The call ended: no more post-dial digits.
void CancelPostDial(Phone& phone);
