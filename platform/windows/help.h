// The help viewer: opens a compiled help file with the desktop's viewer for
// it, the way the program's F1 does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/base/message.h"
#include "platform/base/wintypes.h"

constexpr UINT HH_DISPLAY_TOPIC = 0x0000;

// With HH_DISPLAY_TOPIC, opens `file` (code-page path) at its default topic
// in the desktop's viewer, another program, and returns at once without
// waiting for it. Returns no window and reports nothing: a path that is not
// an existing file opens nothing, and neither does a desktop without a viewer.
HWND HtmlHelpA(HWND caller, const std::string& file, UINT command, std::uintptr_t data);

// Tests stand in for the desktop's viewer: the hook receives the local path
// the viewer would be asked to open and returns whether one took it. An
// empty function restores the desktop's viewer.
void SetHelpViewerForTesting(std::function<bool(const std::string& path)> hook);
