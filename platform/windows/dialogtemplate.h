// Dialog templates as data: the window's size, caption, font and controls in
// dialog units, the way the resources describe every dialog.
#pragma once

#include <vector>

enum class ControlKind {
    ListView,  // report view with columns
    PushButton,
    DefPushButton,
    CheckBox,
    ComboBox,  // drop-down list; editable with TS_DROPDOWN
    Edit,
    MultiLineEdit,
    ListBox,  // single selection, unsorted
    GroupBox,
    Static,
};

// Style notes a control or dialog may carry.
enum TemplateStyle : unsigned {
    TS_NONE = 0,
    TS_TABSTOP = 1u << 0,
    TS_BORDER = 1u << 1,
    TS_DISABLED = 1u << 2,
    TS_HIDDEN = 1u << 3,
    TS_NUMBER = 1u << 4,  // edit accepting digits only
    TS_READONLY = 1u << 5,
    TS_MINIMIZEBOX = 1u << 6,   // dialog: minimise button
    TS_SYSMENU = 1u << 7,       // dialog: system menu
    TS_APPWINDOW = 1u << 8,     // dialog: own taskbar button
    TS_DROPDOWN = 1u << 9,      // combo box: a text field of its own above the list
    TS_WANTRETURN = 1u << 10,   // multi-line edit: Enter starts a new line
    TS_AUTOHSCROLL = 1u << 11,  // edit: long lines scroll sideways instead of wrapping
    TS_NOTIFY = 1u << 12,       // list box: reports the user's selection changes
    TS_MULTILINE = 1u << 13,    // static: several lines, wrapped at words
};

struct ControlTemplate {
    unsigned id;
    ControlKind kind;
    const char* text;  // UTF-8
    int x, y, cx, cy;  // dialog units
    unsigned style;
};

// A combo box's items from the template's initialisation data, in the order
// they are added.
struct ComboBoxItems {
    unsigned id;
    std::vector<const char*> items;  // UTF-8
};

struct DialogTemplate {
    unsigned id;
    int cx, cy;            // dialog units
    const char* caption;   // UTF-8
    const char* fontFace;  // UTF-8
    int pointSize;
    unsigned style;
    std::vector<ControlTemplate> controls;  // in tab order
    std::vector<ComboBoxItems> initData;
};
