// Paint device contexts and icon drawing on QPainter.
#include "platform/windows/paint.h"

#include <QIcon>
#include <QPainter>

#include "platform/windows/controls.h"
#include "platform/windows/dialog.h"

CPaintDC::CPaintDC(CDialogEx* window) : m_painter(std::make_unique<QPainter>(window))
{
}

CPaintDC::~CPaintDC() = default;

BOOL DrawIcon(HDC dc, int x, int y, HICON icon)
{
    if (dc == nullptr || icon == nullptr)
        return FALSE;
    icon->paint(dc, QRect(x, y, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)));
    return TRUE;
}

void EraseWindowBackground(HDC dc, const QWidget& window)
{
    if (dc != nullptr)
        dc->fillRect(window.rect(), window.palette().window());
}
