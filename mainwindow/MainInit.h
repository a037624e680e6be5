// The main window's initialisation, in its order: controls, tooltips, images, fonts, sliders,
// the engine, the sound-device check, the date and time labels and the login window.
#pragma once

#include "engine/RtcApp.h"
#include "phone/MainView.h"

#include <QDateTime>
#include <QList>
#include <QString>

struct Phone;
class QObject;

// The steps of the window's initialisation that are the window's own business; the logic calls
// them in their order.
class IMainInitView : public IMainView {
public:
    virtual void setupTooltips() = 0;
    virtual void addAboutMenuEntry() = 0;
    virtual void setIcons() = 0;
    virtual void loadButtonImages(const QList<int>& order) = 0;
    virtual void setNumberFieldColours() = 0;
    virtual void setNumberFieldFont() = 0;
    virtual void setupSliders() = 0;
    virtual void createLoginWindow() = 0;
    virtual void setLabelFonts() = 0;
    // Runs the login window modally: 1 OK, 2 Cancel.
    virtual int runLoginWindow() = 0;
    virtual void destroyLoginWindow() = 0;
};

// The bitmap buttons in the order their images are loaded.
const QList<int>& ButtonImageOrder();

// "5/3/2009" and "9:5:7": day/month/year and hour:minute:second without leading zeros.
QString StartDateText(const QDateTime& t);
QString StartTimeText(const QDateTime& t);

// True when the engine reports a real sound device.
bool SoundDevicePresent(Phone& phone);

// Runs the initialisation; returns false when the engine did not start (the window then runs
// without it and the focus was not set), true otherwise.
bool RunMainInit(Phone& phone, IMainInitView& view, const ClientFactory& factory, QObject* eventTarget);
