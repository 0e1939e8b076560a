// Pseudo-terminals and plain tty access for tests, tools and benchmarks: the
// far end of a pty that the program opens as a COM port, and a tty opened
// directly, the way another program (or a bare read loop) would.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A tty's line settings as termios holds them.
struct TtySettings {
    unsigned baud = 0;         // bits per second, also a speed termios has no constant for
    int dataBits = 0;          // 5 to 8
    char parity = 'N';         // 'N', 'O', 'E', 'M' or 'S'
    int stopBits = 1;          // 1 or 2
    bool parityCheck = false;  // INPCK
    bool raw = false;  // no echo, no canonical input, no signals, no CR/LF translation, no output processing
    bool clocal = false;
    bool cread = false;
    bool hupcl = false;  // DTR drops at the last close
    bool rtsCtsFlow = false;
    bool xonXoff = false;  // IXON or IXOFF
};

// One pty pair. This object holds the master, the far end of the line; the
// slave (SlavePath) is what the program opens as its COM port.
class PseudoTerminal {
public:
    // Opens a new pair; IsOpen tells whether that worked.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool IsOpen() const { return m_master >= 0; }
    const std::string& SlavePath() const { return m_slavePath; }

    // Sends bytes to the slave's input, waiting for room while the line is
    // full, at most timeoutMs in all; false when not all went.
    bool Write(std::string_view bytes, int timeoutMs = 10000);
    // Waits up to timeoutMs for bytes the slave side wrote and returns what
    // has come (at most `max`); empty when nothing came or the pair is shut.
    std::string Read(size_t max, int timeoutMs);
    // Reads until `count` bytes have come or timeoutMs has passed in all.
    std::string ReadExactly(size_t count, int timeoutMs);

    // The slave's line settings now; false when they cannot be read.
    bool SlaveSettings(TtySettings& out) const;
    // Turns HUPCL off, as a program that used the line before may leave it.
    bool ClearSlaveHupcl();

    // Closes the master: the slave's far end has gone.
    void CloseMaster();

private:
    int m_master = -1;
    int m_peer = -1;  // a slave descriptor kept to read the settings through
    std::string m_slavePath;
};

// A tty opened with open(2), outside the port calls.
class RawTty {
public:
    // Opens `path` read/write and non-blocking in raw mode. With `lock`, also
    // takes the exclusive flock a port holder takes; IsOpen is false when
    // either fails.
    RawTty(const std::string& path, bool lock);
    ~RawTty();
    RawTty(const RawTty&) = delete;
    RawTty& operator=(const RawTty&) = delete;

    bool IsOpen() const { return m_fd >= 0; }

    // Waits up to timeoutMs (poll) for received bytes and reads what is
    // there into `buffer` (read); 0 when nothing came or the tty failed.
    size_t ReadSome(char* buffer, size_t max, int timeoutMs);
    bool Write(std::string_view bytes, int timeoutMs = 10000);

private:
    int m_fd = -1;
};
