// The phone: the main window's shared state together with the services its logic uses. The
// logic of each part (engine events, registration, balance, calls, dial pad) is a set of free
// functions over a Phone, so tests drive them with a fake window and a fake engine.
#pragma once

#include "history/CallRecords.h"
#include "mainwindow/MainState.h"
#include "mainwindow/MainView.h"
#include "platform/AppConfig.h"
#include "platform/Clock.h"
#include "platform/Https.h"
#include "platform/MessageBox.h"
#include "platform/SoundPlayer.h"
#include "platform/Worker.h"

struct Phone {
    Phone(IMainView& v, IMessageBox& b, ISoundPlayer& s, IClock& c, IHttpsClient& h, IWorker& w,
          CallHistory hist, AppConfig cfg)
        : view(v), box(b), sound(s), clock(c), https(h), worker(w), history(std::move(hist)),
          config(std::move(cfg)) {}

    MainState st;
    IMainView& view;
    IMessageBox& box;
    ISoundPlayer& sound;
    IClock& clock;
    IHttpsClient& https;
    IWorker& worker; // what must not hold up the window runs here
    CallHistory history;
    AppConfig config;
};
