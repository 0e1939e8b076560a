// The folder chooser on QFileDialog.
#include "platform/folderpicker.h"

#include <QFileDialog>
#include <QWidget>

#include "platform/cp932.h"

namespace {

std::function<QString(const FolderPickerRequest&)> g_hook;

}  // namespace

bool PickFolder(HWND owner, const std::string& title, const std::string& startFolder, std::string& path)
{
    const FolderPickerRequest request{owner, cp932::ToQString(title), cp932::ToQString(startFolder)};
    const QString chosen =
        g_hook ? g_hook(request)
               : QFileDialog::getExistingDirectory(dynamic_cast<QWidget*>(owner), request.title,
                                                   request.startFolder, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return false;
    const std::string bytes = cp932::FromQString(chosen);
    if (cp932::ToQString(bytes) != chosen || bytes.size() >= MAX_PATH)
        return false;
    path = bytes;
    return true;
}

void SetFolderPickerHookForTesting(std::function<QString(const FolderPickerRequest&)> hook)
{
    g_hook = std::move(hook);
}
