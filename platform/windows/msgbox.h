// Message boxes: modal to the window that owns them, in code-page text. While
// one is open its modal loop keeps dispatching every other message.
//
// Every box is also written to stderr, in UTF-8, with the detail its caller
// has from the system (a device path, the system's reason), so that a journal
// of a program run as a service says why. Where nobody can answer a box (the
// offscreen or minimal platform, no window system at all), it is not shown:
// it takes its default answer at once.
#pragma once

#include <functional>
#include <string>

#include "platform/base/message.h"
#include "platform/base/wintypes.h"

// The two fields of a box's type: its buttons and its icon.
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONMASK = 0x000000F0;

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_ICONSTOP = 0x00000010;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;

// Shows a box and returns IDOK, IDYES or IDNO (the default answer of a box
// nobody can answer: IDOK, or IDYES for MB_YESNO). `detail` is in UTF-8 and
// goes to stderr only. A box whose owner has ended (see
// CDialogEx::IsEndingWindow) is not shown: it is answered No, or OK.
int MessageBoxA(HWND owner, const std::string& text, const std::string& caption, UINT type,
                const std::string& detail = {});

// The framework's application box, captioned with the executable's file name
// without extension; the exclamation icon unless `type` names one. Its owner
// is the window it is shown for (none at start-up).
int AfxMessageBox(const std::string& text, UINT type, HWND owner = nullptr);

// For a program that is ending: closes every box that is open now, as if each
// were answered with its negative (No, or OK for a box without a choice), and
// answers every later box so at once, without showing it.
void EndMessageBoxes();
// Closes the boxes open now that `owner` owns, directly or through its owned
// windows, answered negatively in the same way; later boxes are shown.
void EndMessageBoxesOwnedBy(HWND owner);
void ResetMessageBoxEndForTesting();

// What a test sees of a box it answers.
struct MessageBoxRecord {
    HWND owner;
    std::string text;     // code-page bytes
    std::string caption;  // code-page bytes
    UINT type;
    std::string detail;  // UTF-8
};

// The line a box writes to stderr (without the prefix every stderr line has
// and without its line end): the text in UTF-8, its line breaks as blanks,
// and the detail in brackets. The caption is left out: it names the program,
// as the prefix does.
std::string MessageBoxLogLine(const MessageBoxRecord& box);
// Writes that line to stderr without showing the box: a failure that a box
// would interrupt nobody for still reaches the journal in the same words.
void WriteMessageBoxLogLine(const MessageBoxRecord& box);

// Whether a box would be shown here; tests of real boxes on the offscreen
// platform make it so (false puts the platform's own answer back).
bool CanAnswerMessageBoxes();
void ShowMessageBoxesOffscreenForTesting(bool show);

// Tests answer boxes themselves: while a hook is set, no box is shown and the
// hook's result is returned. An empty function restores real boxes.
void SetMessageBoxHookForTesting(std::function<int(const MessageBoxRecord&)> hook);
