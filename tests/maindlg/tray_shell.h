// A stand-in for the tray host: it keeps the icons it is given by (window,
// id) as a host does, can be told to fail the next requests with an error,
// clicks an icon as the host would, and records the waits between retries.
#pragma once

#include <QWidget>
#include <QWindow>
#include <deque>
#include <map>
#include <utility>
#include <vector>

#include "platform/system/system.h"
#include "platform/windows/tray.h"

class TestTrayShell {
public:
    TestTrayShell()
    {
        SetTrayShellForTesting(
            [this](DWORD m, const NOTIFYICONDATAA& d, DWORD& e) { return Handle(m, d, e); });
        SetSleepHookForTesting([this](DWORD ms) { waits.push_back(ms); });
    }
    ~TestTrayShell()
    {
        SetTrayShellForTesting({});
        SetSleepHookForTesting({});
    }

    // The next `times` requests of this kind fail with `error`.
    void FailNext(DWORD message, DWORD error, int times = 1)
    {
        for (int i = 0; i < times; ++i)
            m_failures[message].push_back(error);
    }
    size_t IconCount() const { return m_icons.size(); }
    const NOTIFYICONDATAA* Icon(HWND window) const
    {
        const auto it = m_icons.find({window, 0});
        return it == m_icons.end() ? nullptr : &it->second;
    }
    // A click on the window's icon, posted as the host posts it.
    bool Click(HWND window, LPARAM mouse) const
    {
        const NOTIFYICONDATAA* icon = Icon(window);
        return icon != nullptr && PostMessageA(icon->hWnd, icon->uCallbackMessage, icon->uID, mouse);
    }

    std::vector<DWORD> requests;
    std::vector<DWORD> waits;

private:
    BOOL Handle(DWORD message, const NOTIFYICONDATAA& d, DWORD& error)
    {
        requests.push_back(message);
        auto& failures = m_failures[message];
        if (!failures.empty()) {
            error = failures.front();
            failures.pop_front();
            return FALSE;
        }
        const std::pair<HWND, UINT> key{d.hWnd, d.uID};
        const bool present = m_icons.count(key) != 0;
        if ((message == NIM_ADD) == present) {
            error = ERROR_GEN_FAILURE;
            return FALSE;
        }
        if (message == NIM_DELETE)
            m_icons.erase(key);
        else
            m_icons[key] = d;
        return TRUE;
    }

    std::map<DWORD, std::deque<DWORD>> m_failures;
    std::map<std::pair<HWND, UINT>, NOTIFYICONDATAA> m_icons;
};

// Minimises the window the way a window manager does: the platform reports the
// new state, and the window learns of it from there.
inline void MinimiseFromOutside(QWidget& window)
{
    window.windowHandle()->setWindowState(Qt::WindowMinimized);
}
