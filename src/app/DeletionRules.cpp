// The delete request and the delete-databases box.
#include "FrmMain.h"

void FrmMain::ChkDelDB_Click() {}
void FrmMain::CmdDel_Click() {}
