// The daily connection log: one line per ended call and one per caller
// turned away, appended to Korvo_<yymmdd>.log of the local day.
#include "platform/base/clock.h"
#include "platform/base/filereport.h"
#include "platform/system/cp932.h"
#include "platform/base/module.h"
#include "maindlg/SkiffaDlg.h"

void CSkiffaDlg::WriteLog(int row)
{
    if (m_bLog == 0)
        return;
    // A row that names no line has nothing to log.
    if (row < -1 || row >= static_cast<int>(m_aPort.size()))
        return;

    // One reading of the clock gives both the file's day and the line's end time.
    const DateTime now = DateTime::GetCurrentTime();

    // The folder is stored in the code page; the file system wants its own bytes.
    const std::string folder = m_strLogDir.empty() ? GetCurrentDirectoryA() : cp932::ToUtf8(m_strLogDir);
    if (folder.empty())
        return;  // no current directory to write into
    const std::string path = folder + "/Korvo_" + now.Format("%y%m%d") + ".log";

    std::string line;
    if (row == -1) {
        line = "Full," + now.Format("%H:%M:%S");
    } else {
        const CPortInfo& port = Port(row);
        line = port.m_strName + "," + port.m_timeConnect.Format("%H:%M:%S") + "," + now.Format("%H:%M:%S");
    }
    line += '\n';
    // A line that cannot be written is lost; stderr names the file once.
    (void)AppendToFile(path, line);
}
