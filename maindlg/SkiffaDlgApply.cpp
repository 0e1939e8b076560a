// Applying settings: the general settings dialog (command 32773 and button
// 1007) and the COM port dialog of the selected line (button 1030 and the
// list menu's command) open from here, and their results are applied here.
#include "maindlg/SkiffaDlg.h"

// The general settings dialog and the application of its results come here.
void CSkiffaDlg::OnSetting()
{
}

// The COM port dialog of the first selected row and the application of its
// results come here.
void CSkiffaDlg::OnBnClickedComPort()
{
}
