// A window's controls as a table: identifier, kind, template caption, whether the template shows
// them, position in dialog units, tooltip, font and style. Every skinned window builds its
// controls from such a table through SkinnedDialog.
#pragma once

#include <QString>

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
    CheckBox,
    ListBox,
    Picture, // a built-in bitmap; the caption is its number
};

// Style bits of a control.
namespace cs {
constexpr unsigned Password = 1u << 0;    // an edit that shows bullets
constexpr unsigned Centred = 1u << 1;     // an edit with centred text
constexpr unsigned Notify = 1u << 2;      // a label or picture that reports clicks
constexpr unsigned MultiSelect = 1u << 3; // a list box with Shift/Ctrl selection of several rows
} // namespace cs

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
    const char* tooltip = nullptr;
    FontSpec font = {};
    unsigned style = 0;
    // What assistive technologies call the control when neither its tooltip nor its caption
    // says it (edit fields, lists); labels are called by their text.
    const char* name = nullptr;
};

using ControlTable = std::vector<ControlDef>;

// The row of `id` in `table`, or null.
const ControlDef* FindControl(const ControlTable& table, int id);

// The accessible name of a control: its name, else its tooltip, else its caption made readable
// ("cmdLogOff" → "Log Off"); empty for a label without name or tooltip (its text names it).
QString AccessibleNameOf(const ControlDef& def);
