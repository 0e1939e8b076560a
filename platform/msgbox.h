// Message boxes: modal, owned by a window, in code-page text. While one is
// open its modal loop keeps dispatching every other message.
#pragma once

#include <functional>
#include <string>

#include "platform/message.h"
#include "platform/wintypes.h"

// The two fields of a box's type: its buttons and its icon.
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONMASK = 0x000000F0;

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_ICONSTOP = 0x00000010;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;

// Shows a box and returns IDOK, IDYES or IDNO.
int MessageBoxA(HWND owner, const std::string& text, const std::string& caption, UINT type);

// The framework's application box, captioned with the executable's file name
// without extension; the exclamation icon unless `type` names one. Its owner
// is the window it is shown for (none at start-up).
int AfxMessageBox(const std::string& text, UINT type, HWND owner = nullptr);

// For a program that is ending: closes every box that is open now, as if each
// were answered with its negative (No, or OK for a box without a choice), and
// answers every later box so at once, without showing it.
void EndMessageBoxes();
void ResetMessageBoxEndForTesting();

// What a test sees of a box it answers.
struct MessageBoxRecord {
    HWND owner;
    std::string text;     // code-page bytes
    std::string caption;  // code-page bytes
    UINT type;
};

// Tests answer boxes themselves: while a hook is set, no box is shown and the
// hook's result is returned. An empty function restores real boxes.
void SetMessageBoxHookForTesting(std::function<int(const MessageBoxRecord&)> hook);
