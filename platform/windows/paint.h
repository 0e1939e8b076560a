// Painting a window from its WM_PAINT handler: the paint device context, icon
// drawing, and the icon handle type the window and the tray share.
#pragma once

#include <memory>

#include "platform/base/wintypes.h"

class QIcon;
class QPainter;
class QWidget;
class CDialogEx;

using HICON = const QIcon*;
using HDC = QPainter*;

// A device context for painting the window; valid only while the window's
// WM_PAINT handler runs.
class CPaintDC {
public:
    explicit CPaintDC(CDialogEx* window);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_painter.get(); }

private:
    std::unique_ptr<QPainter> m_painter;
};

// Draws the icon at its large size (SM_CXICON by SM_CYICON) with its top
// left corner at (x, y).
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);

// Erases the whole window's background with the window colour: the default
// handling of WM_ICONERASEBKGND.
void EraseWindowBackground(HDC dc, const QWidget& window);
