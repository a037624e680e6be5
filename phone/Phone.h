// The phone: the main window's shared state together with the services its logic uses. The
// logic of the engine events, registration, balance, calls and dial pad is a set of free
// functions over a Phone, so tests drive them with a fake window and a fake engine.
#pragma once

#include "phone/MainState.h"
#include "phone/MainView.h"
#include "platform/AppConfig.h"
#include "platform/Clock.h"
#include "platform/Https.h"
#include "platform/MessageBox.h"
#include "platform/SoundPlayer.h"
#include "platform/Worker.h"

class CallHistory;

struct Phone {
    Phone(IMainView& v, IMessageBox& b, ISoundPlayer& s, IClock& c, IHttpsClient& h, IWorker& w,
          const CallHistory& hist, AppConfig cfg)
        : view(v), box(b), sound(s), clock(c), https(h), worker(w), history(hist), config(std::move(cfg)) {}

    MainState st;
    IMainView& view;
    IMessageBox& box;
    ISoundPlayer& sound;
    IClock& clock;
    IHttpsClient& https;
    IWorker& worker;            // what must not hold up the window runs here
    const CallHistory& history; // owned by whoever owns the phone
    AppConfig config;
};
