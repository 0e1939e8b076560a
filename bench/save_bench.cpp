// How long the main dialog takes to write its settings for 100 ports into a
// korvo.ini that already holds them, with comments and an unknown section:
// the median and the spread of several saves, and the file checked after each.
#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "maindlg/SkiffaDlg.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "skiffa_save_bench";
    std::filesystem::create_directories(dir);
    const std::string ini = (dir / "korvo.ini").string();
    {
        std::ofstream(ini, std::ios::binary) << "; kept by hand\r\n[OTHER]\r\nKEY=1\r\n";
    }

    constexpr int kPorts = 100;
    constexpr int kRounds = 15;
    CSkiffaDlg dlg;
    dlg.m_strIniFile = ini;
    for (int i = 0; i < kPorts; ++i)
        dlg.m_aPort.push_back(CPortInfo::FromSectionDefaults("COM" + std::to_string(i + 1)));
    dlg.m_strAfter = "\r\nThank you for calling.\r\n";
    dlg.SaveSettings();  // the file now holds every key: later saves rewrite them in place

    std::vector<double> ms;
    for (int round = 0; round < kRounds; ++round) {
        // Change a value of every port and the hold time each round, as a
        // settings change does, so that every save really writes.
        dlg.m_nKeepTime = round;
        for (CPortInfo& port : dlg.m_aPort)
            port.m_nRingInterval = 1000 + round;
        const auto start = std::chrono::steady_clock::now();
        dlg.SaveSettings();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (ReadFile(ini).find("KEEP=" + std::to_string(round) + "\r\n") == std::string::npos ||
            ReadFile(ini).find("; kept by hand\r\n[OTHER]\r\nKEY=1\r\n") != 0) {
            std::fprintf(stderr, "save_bench: the saved file is not what was written\n");
            return 1;
        }
    }
    std::sort(ms.begin(), ms.end());
    std::printf(
        "save 100 ports: median %.2f ms, min %.2f ms, max %.2f ms over %d saves (goal: under 50 ms)\n",
        ms[ms.size() / 2], ms.front(), ms.back(), kRounds);
    std::filesystem::remove_all(dir);
    return 0;
}
