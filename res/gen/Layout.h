// Where the controls of the four skinned windows sit (dialog units, as in their templates).
// The skins leave room for them and the previews place them; only controls that lie inside
// a skin are listed.
#pragma once

#include "Canvas.h"

#include <QRect>
#include <vector>

namespace gen {

enum class Kind { Button, Label, Edit, List, Slider, Check, Picture, Link };

struct Control {
    Kind kind;
    const char* name; // button image base name, slider channel id, picture id, or label text
    int x, y, w, h;   // dialog units; buttons take the size of their image
    QRect rect() const { return duRect(x, y, w, h); }
    QPoint pos() const { return QPoint(pxX(x), pxY(y)); }
};

struct Window {
    int skin;
    QSize size;
    std::vector<Control> controls;
};

inline const Window& mainWindow() {
    static const Window w{355,
                          {285, 473},
                          {
                              {Kind::Link, "", 9, 14, 105, 13},
                              {Kind::Button, "CMDMINIMIZE", 150, 15, 10, 7},
                              {Kind::Button, "CMDCROSS", 163, 14, 14, 8},
                              {Kind::Label, "Registered", 23, 47, 84, 8},
                              {Kind::Label, "Balance: 12.50 USD", 23, 58, 84, 8},
                              {Kind::Label, "Connected...", 23, 69, 84, 8},
                              {Kind::Label, "00:01:42", 24, 81, 49, 8},
                              {Kind::Edit, "02079460321", 25, 93, 86, 12},
                              {Kind::Button, "CMDACCOUNT", 33, 109, 13, 11},
                              {Kind::Button, "CMDREDIAL", 90, 108, 13, 11},
                              {Kind::Button, "CMD_CLEAR1", 113, 108, 13, 11},
                              {Kind::Button, "CMDBACK", 136, 108, 13, 11},
                              {Kind::Button, "CMDPICKUP", 24, 128, 21, 17},
                              {Kind::Button, "CMDHANGUP", 67, 128, 21, 17},
                              {Kind::Button, "CMDONE", 24, 155, 23, 14},
                              {Kind::Button, "CMDTWO", 54, 155, 23, 14},
                              {Kind::Button, "CMDTHREE", 83, 155, 23, 14},
                              {Kind::Button, "CMDFOUR", 24, 178, 23, 14},
                              {Kind::Button, "CMDFIVE", 54, 178, 23, 14},
                              {Kind::Button, "CMDSIX", 83, 178, 23, 14},
                              {Kind::Button, "CMDSEVEN", 24, 201, 23, 14},
                              {Kind::Button, "CMDEIGHT", 54, 201, 23, 14},
                              {Kind::Button, "CMDNINE", 83, 201, 23, 14},
                              {Kind::Button, "CMDSTAR", 24, 225, 23, 14},
                              {Kind::Button, "CMDZERO", 54, 225, 23, 14},
                              {Kind::Button, "CMDPOUND", 83, 225, 23, 14},
                              {Kind::Button, "CMDRATE", 113, 156, 26, 13},
                              {Kind::Button, "CMDPHONE", 113, 175, 26, 13},
                              {Kind::Button, "FEEDBACK", 113, 193, 26, 13},
                              {Kind::Button, "CMDAUDIO", 113, 211, 26, 13},
                              {Kind::Button, "CMDCALLHISTORY", 113, 229, 26, 13},
                              {Kind::Slider, "1042", 24, 251, 13, 8},
                              {Kind::Slider, "1043", 24, 264, 13, 8},
                          }};
    return w;
}

inline const Window& callHistoryWindow() {
    static const Window w{332,
                          {289, 412},
                          {
                              {Kind::Label, "Dialed", 27, 31, 20, 8},
                              {Kind::Label, "Recieved", 82, 31, 31, 8},
                              {Kind::Label, "Missed", 147, 31, 21, 8},
                              {Kind::List, "", 15, 40, 164, 168},
                              {Kind::Button, "CMDCLEAR", 33, 209, 36, 12},
                              {Kind::Button, "CMDCLOSE", 111, 210, 36, 12},
                          }};
    return w;
}

inline const Window& loginWindow() {
    static const Window w{329,
                          {289, 300},
                          {
                              {Kind::Label, "Username", 29, 54, 48, 10},
                              {Kind::Edit, "alice", 81, 54, 80, 12},
                              {Kind::Label, "Password", 31, 77, 44, 12},
                              {Kind::Edit, "\u2022\u2022\u2022\u2022\u2022\u2022", 81, 77, 80, 12},
                              {Kind::Label, "Save", 54, 100, 18, 10},
                              {Kind::Check, "", 85, 100, 10, 10},
                              {Kind::Button, "CMDLOGIN", 27, 144, 38, 12},
                              {Kind::Button, "CMDEXIT", 106, 144, 38, 12},
                          }};
    return w;
}

inline const Window& phoneBookWindow() {
    static const Window w{331,
                          {289, 412},
                          {
                              {Kind::Picture, "350", 166, 12, 13, 10},
                              {Kind::List, "", 12, 26, 171, 150},
                              {Kind::Label, "Name", 25, 181, 42, 11},
                              {Kind::Edit, "Anna", 69, 179, 85, 14},
                              {Kind::Label, "Phone No.", 25, 196, 42, 11},
                              {Kind::Edit, "4021", 69, 195, 85, 13},
                              {Kind::Button, "CMDADD", 16, 212, 27, 13},
                              {Kind::Button, "CMDEDIT", 55, 212, 27, 13},
                              {Kind::Button, "CMDCALL", 96, 212, 27, 13},
                              {Kind::Button, "CMDDELETE", 136, 212, 27, 13},
                          }};
    return w;
}

} // namespace gen
