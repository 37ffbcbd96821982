// The rules of the server-name box, the connect button, the account list and the number box.
#include "FrmMain.h"

void FrmMain::txtSqlSrvName_Change() {}
void FrmMain::CmdLink_Click() {}
void FrmMain::ComAccList_DropDown() {}
void FrmMain::ComAccList_Click() {}
void FrmMain::TxtAccNo_Change() {}
void FrmMain::TxtAccNo_LostFocus() {}
