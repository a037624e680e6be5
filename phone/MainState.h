// The main window's state that the calls, registration and dial-pad logic share. Each member is defined once,
// here; the window owns one instance.
#pragma once

#include "rtc/ComPtr.h"

#include <QString>

#include <vector>

struct MainState {
    // Engine objects.
    rtc::ComPtr<rtc::IRTCClient> client;
    rtc::ComPtr<rtc::IRTCProfile> profile;
    rtc::ComPtr<rtc::IRTCSession> session;         // the current call's session
    rtc::ComPtr<rtc::IRTCParticipant> participant; // filled when a call is placed
    class CRTCEvents* sink = nullptr;              // uncounted; the engine holds the references
    rtc::HRESULT lastResult = 0;                   // of the last provisioning or session operation

    // Account.
    int registered = 0;
    QString serverAddress; // first 64 characters of the server field at the last login
    QString accountName;   // first 64 characters of the user name field at the last login

    // Calls.
    int callConnected = 0;
    int callInProgress = 0;
    int ringing = 0;
    int missedCall = 0;
    int receivedCall = 0;
    int rejected = 0;
    QString caller;
    // Calls that rang while the phone was busy and were declined: their later events are theirs
    // alone and never touch the current call.
    std::vector<rtc::ComPtr<rtc::IRTCSession>> declinedSessions;
    QString redialMemory; // the last number called, at most 20 characters
    int callSeconds = 0;

    // A call asked for by a link, waiting until the phone can place it, and the digits still to
    // send on the call placed from a link once it is connected.
    int linkWaiting = 0;
    QString linkNumber;
    QString linkPostDial;
    QString postDial;

    // Window.
    int minimized = 0;
    int focusedField = 4; // which field receives dial-pad characters
    int micRangeSet = 0;
    int speakerRangeSet = 0;
};
