// Dialog templates, menus and strings as data: every window of the program is
// described here in dialog units, and one builder in ui/ turns a template into
// widgets. Texts are UTF-8. No toolkit here, so any layer may read the tables.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "resources/ResourceIds.h"

enum class ControlKind {
    Label,   // static text
    Button,  // push button
    CheckBox,
    RadioButton,
    Edit,      // single-line edit, or multi-line with ControlStyle::Multiline
    ComboBox,  // drop-down list; an editable combo with ControlStyle::EditableCombo
    GroupBox,  // frame with an optional title
    Frame,     // plain rectangle, sunken with ControlStyle::Sunken
    Line,      // etched horizontal line
    ProgressBar,
    Icon,  // the application icon
};

// Style flags of a control, the properties that change behaviour or look.
namespace ControlStyle {
inline constexpr uint32_t None = 0;
inline constexpr uint32_t DigitsOnly = 1u << 0;  // typing a non-digit is refused
// Edit: typed letters become capitals. Combo: items shown in capitals.
inline constexpr uint32_t Uppercase = 1u << 1;
inline constexpr uint32_t ReadOnly = 1u << 2;
inline constexpr uint32_t Multiline = 1u << 3;
inline constexpr uint32_t WantReturn = 1u << 4;     // multi-line edit takes Return as a line break
inline constexpr uint32_t VScroll = 1u << 5;        // vertical scroll bar
inline constexpr uint32_t AutoHScroll = 1u << 6;    // no wrapping; the text scrolls sideways
inline constexpr uint32_t Sorted = 1u << 7;         // combo: items kept in alphabetical order
inline constexpr uint32_t EditableCombo = 1u << 8;  // an edit field, not a drop-down list
inline constexpr uint32_t DefaultButton = 1u << 9;
inline constexpr uint32_t GroupStart = 1u << 10;    // first control of a radio group
inline constexpr uint32_t Centered = 1u << 11;      // label text centred
inline constexpr uint32_t RightAligned = 1u << 12;  // label text right-aligned
inline constexpr uint32_t Sunken = 1u << 13;
inline constexpr uint32_t Hidden = 1u << 14;
inline constexpr uint32_t Disabled = 1u << 15;
inline constexpr uint32_t Smooth = 1u << 16;  // progress bar drawn as one bar
}  // namespace ControlStyle

struct ControlTemplate {
    int id;  // control number; 0 for labels, lines and frames that nothing refers to
    ControlKind kind;
    std::string_view text;
    int x, y, w, h;  // dialog units; a combo's h is its height with the list dropped down
    uint32_t style = ControlStyle::None;
    std::vector<std::string_view> items = {};  // combo items in resource order

    bool Has(uint32_t flag) const { return (style & flag) != 0; }
};

// Style flags of a dialog window.
namespace DialogStyle {
inline constexpr uint32_t None = 0;
inline constexpr uint32_t Caption = 1u << 0;     // title bar with the caption
inline constexpr uint32_t SystemMenu = 1u << 1;  // close box
inline constexpr uint32_t ModalFrame = 1u << 2;
inline constexpr uint32_t Popup = 1u << 3;  // no caption: a panel placed by its owner
inline constexpr uint32_t NoTaskbar = 1u << 4;
}  // namespace DialogStyle

struct DialogTemplate {
    int id;
    std::string_view caption;
    int width, height;  // client area in dialog units
    std::string_view fontFace;
    int pointSize;
    uint32_t style;
    std::vector<ControlTemplate> controls;  // in tab (z) order

    bool Has(uint32_t flag) const { return (style & flag) != 0; }
    // The row of a control number, or nullptr. Number 0 is never found.
    const ControlTemplate* Find(int controlId) const;
};

struct MenuItemTemplate {
    int command;  // 0 for a separator
    std::string_view text;
};

struct MenuTemplate {
    int id;
    std::string_view popupText;  // the one popup at position 0
    std::vector<MenuItemTemplate> items;
};

// nullptr for an unknown number.
const DialogTemplate* FindDialogTemplate(int dialogId);
const MenuTemplate* FindMenuTemplate(int menuId);
// Empty for an unknown number.
std::string_view LoadResourceString(int stringId);

// Every dialog number that has a template, in ascending order.
std::vector<int> DialogTemplateIds();
