// The folder chooser in place of the shell's folder browser: the toolkit's
// own modal dialog, offering folders only.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "platform/base/message.h"

// The longest path, terminating zero included, that a path buffer holds.
constexpr size_t MAX_PATH = 260;

// What a test sees of a chooser it answers.
struct FolderPickerRequest {
    HWND owner;
    QString title;
    QString startFolder;
};

// Shows the chooser owned by `owner` (modal to it), titled `title` (code-page
// text) and opening at `startFolder`. True with the chosen folder's path in
// `path` (code-page bytes). False, `path` untouched, when the user cancels or
// the path cannot be handed out whole: a character the code page lacks, or
// MAX_PATH bytes or more.
bool PickFolder(HWND owner, const std::string& title, const std::string& startFolder, std::string& path);

// Tests answer the chooser themselves: while a hook is set, no chooser is
// shown and the hook's answer is taken, an empty text being a cancel. An
// empty function restores the real chooser.
void SetFolderPickerHookForTesting(std::function<QString(const FolderPickerRequest&)> hook);
