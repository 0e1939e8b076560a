// COM port discovery: which of the ports COM1 to COM50 can be opened now.
#include "serial/SerialPort.h"

namespace {

constexpr int kFirstComPort = 1;
constexpr int kLastComPort = 50;

}  // namespace

void CSerialPort::EnumComPorts(std::vector<std::string>& ports)
{
    ports.clear();
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        const std::string name = "COM" + std::to_string(n);
        if (IsComPortPresent(name))
            ports.push_back(name);
    }
}

bool CSerialPort::IsComPortPresent(const std::string& name)
{
    // The same path and the same exclusive open as Open uses, so a port held
    // by anyone, this program included, counts as absent.
    const std::string path = "\\\\.\\" + name;
    const HANDLE h = CreateCommFileA(path.c_str());
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}
