// Line speeds beyond termios' constants: the kernel's termios2 interface
// (BOTHER) sets and reports any speed in bits per second. Kept apart because
// its header cannot be included together with <termios.h>.
#pragma once

// Sets the tty's input and output speed to exactly `baud`. False, with the
// speed as it was, when the device refuses it or would run at another one.
bool SetTtySpeedExactly(int fd, unsigned baud);

// The tty's output speed in bits per second, whatever it is; false when it
// cannot be read.
bool GetTtySpeed(int fd, unsigned& baud);
