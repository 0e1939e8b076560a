// The application icon (resource 128): window, minimised and tray icon.
#pragma once

class QIcon;

const QIcon& ApplicationIcon();
