// The toolkit's messages and its platform choice at start.
#include "app/Toolkit.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QString>
#include <QtGlobal>
#include <cstring>
#include <string>

#include "platform/base/stderrline.h"

namespace {

// The toolkit says this at every start without XDG_RUNTIME_DIR, as under a
// service manager: it looks there only for a Wayland display, and its own
// stand-in (a private folder in /tmp) serves. Nothing for a sysop to do.
bool IsRuntimeFolderNotice(const QString& text)
{
    return text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"));
}

void ToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg && IsRuntimeFolderNotice(text))
        return;
    // The toolkit's own form (its category in front), trailing line ends dropped.
    WriteStderrLine(qFormatLogMessage(type, context, text).trimmed().toStdString());
}

bool HasPlatformArgument(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return false;
}

bool g_fallbackSet = false;

// The display the environment names, in the words of the stderr line.
std::string NamedDisplays()
{
    std::string named;
    for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty())
            named += (named.empty() ? "" : ", ") + std::string(name) + "=" + value.toStdString();
    }
    return named.empty() ? "neither DISPLAY nor WAYLAND_DISPLAY is set" : named + " cannot be opened";
}

}  // namespace

void InstallToolkitMessageLines()
{
    qInstallMessageHandler(ToolkitMessage);
}

void AddOffscreenFallback(int argc, char** argv)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || HasPlatformArgument(argc, argv))
        return;
    // The toolkit's own order: Wayland where a Wayland session is named, X11
    // where an X display is; then, in place of giving up, offscreen.
    QByteArray platforms;
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland")
        platforms += "wayland;";
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        platforms += "xcb;";
    platforms += "offscreen";
    g_fallbackSet = qputenv("QT_QPA_PLATFORM", platforms);
}

void ReportOffscreenFallback()
{
    if (!g_fallbackSet)
        return;
    qunsetenv("QT_QPA_PLATFORM");
    g_fallbackSet = false;
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        return;
    WriteStderrLine("no display [" + NamedDisplays() +
                    "]: running on the offscreen platform, without a window; message boxes come here");
}
