// The help viewer on QDesktopServices.
#include "platform/windows/help.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include "platform/system/cp932.h"

namespace {

std::function<bool(const std::string&)> g_viewer;

bool OpenWithDesktopViewer(const QString& path)
{
    if (g_viewer)
        return g_viewer(cp932::FromQString(path));
    // The desktop's launcher starts the viewer as a detached process.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace

HWND HtmlHelpA(HWND /*caller*/, const std::string& file, UINT command, std::uintptr_t /*data*/)
{
    if (command != HH_DISPLAY_TOPIC)
        return nullptr;
    const QString path = cp932::ToQString(file);
    // Only a regular file goes to the launcher: nothing else could be shown,
    // and a FIFO or device could hold a viewer up.
    const QFileInfo info(path);
    if (info.isFile())
        OpenWithDesktopViewer(info.absoluteFilePath());
    return nullptr;
}

void SetHelpViewerForTesting(std::function<bool(const std::string&)> hook)
{
    g_viewer = std::move(hook);
}
