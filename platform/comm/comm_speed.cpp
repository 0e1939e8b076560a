// Arbitrary tty speeds through TCGETS2 and TCSETS2.
#include "platform/comm/comm_speed.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

#include "platform/base/eintr.h"

namespace {

int Ioctl(int fd, unsigned long request, termios2* t)
{
    return Retry([&] { return ioctl(fd, request, t); });
}

}  // namespace

bool SetTtySpeedExactly(int fd, unsigned baud)
{
    termios2 old{};
    if (baud == 0 || Ioctl(fd, TCGETS2, &old) != 0)
        return false;  // 0 would mean "hang up", not a speed
    termios2 t = old;
    // The output speed given in c_ospeed; no input speed of its own, so the
    // input runs at the output speed.
    t.c_cflag &= ~tcflag_t{CBAUD | CIBAUD};
    t.c_cflag |= BOTHER;
    t.c_ospeed = baud;
    t.c_ispeed = baud;
    if (Ioctl(fd, TCSETS2, &t) != 0)
        return false;
    termios2 now{};
    if (Ioctl(fd, TCGETS2, &now) == 0 && now.c_ospeed == baud)
        return true;
    // A driver that rounds or clamps the speed runs at another one than the
    // line asks for: the old speed comes back.
    Ioctl(fd, TCSETS2, &old);
    return false;
}

bool GetTtySpeed(int fd, unsigned& baud)
{
    termios2 t{};
    if (Ioctl(fd, TCGETS2, &t) != 0)
        return false;
    baud = t.c_ospeed;
    return true;
}
