// The folder chooser on QFileDialog.
#include "platform/windows/folderpicker.h"

#include <QFileDialog>
#include <QWidget>

#include "platform/system/cp932.h"

namespace {

std::function<QString(const FolderPickerRequest&)> g_hook;

// The chooser is modal to its owner only, so the program's other windows (its
// tray icon) still take clicks; without an owner it is modal to them all.
QString RunChooser(QWidget* owner, const FolderPickerRequest& request)
{
    QFileDialog dialog(owner, request.title, request.startFolder);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (owner != nullptr)
        dialog.setWindowModality(Qt::WindowModal);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.front();
}

}  // namespace

bool PickFolder(HWND owner, const std::string& title, const std::string& startFolder, std::string& path)
{
    const FolderPickerRequest request{owner, cp932::ToQString(title), cp932::ToQString(startFolder)};
    const QString chosen = g_hook ? g_hook(request) : RunChooser(dynamic_cast<QWidget*>(owner), request);
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
