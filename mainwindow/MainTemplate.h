// The main window's controls: identifier, kind, template caption, whether the template shows
// them, position in dialog units, tooltip and font. Controls outside the 190 × 291 skin area
// exist and work but are never seen.
#pragma once

#include <vector>

enum class ControlKind {
    Edit,         // CKestuEdit
    BitmapButton, // CBitmapButton, images named after the caption
    PlainButton,
    Label, // CKestuLabel
    PlainStatic,
    LevelBar, // CKestuProgressBar
    Slider,   // CBitmapSlider
    DatePicker,
};

struct FontSpec {
    const char* face = nullptr; // none: the window's font
    int height = 0;
    int width = 0;
};

struct ControlDef {
    int id;
    ControlKind kind;
    const char* caption; // template caption (bitmap buttons take their images by it)
    bool shown;
    int x, y, w, h; // dialog units
    const char* tooltip;
    FontSpec font;
    bool hiddenChars = false; // password-style edit
    bool centred = false;     // centred text
};

const std::vector<ControlDef>& MainTemplate();
const ControlDef* FindControl(int id);
