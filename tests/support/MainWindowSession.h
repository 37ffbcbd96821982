#pragma once
// The main window as the end-to-end tests drive it: opened and active with its message boxes
// answered by the seam, and the connect typed in as the operator types it.

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "support/WindowInput.h"

namespace MainWindowSession {

// False when the window never became active.
inline bool open(std::unique_ptr<FrmMain>& w) {
    MessageBox::setTestMode(true);
    MessageBox::takeShown();
    w = std::make_unique<FrmMain>();
    w->show();
    w->activateWindow();
    return QTest::qWaitForWindowActive(w.get());
}

// False when a message was shown that the test did not take.
inline bool close(std::unique_ptr<FrmMain>& w) {
    w.reset();
    const bool allTaken = MessageBox::takeShown().isEmpty();
    MessageBox::setTestMode(false);
    return allTaken;
}

inline void connectAs(FrmMain& w, const QString& serverName, const QString& password) {
    w.txtSqlSrvName->setFocus();
    w.txtSqlSrvName->selectAll();
    WindowInput::typeText(w.txtSqlSrvName, serverName);
    WindowInput::typeText(w.txtSaPwd, password);
    QTest::mouseClick(w.CmdLink, Qt::LeftButton);
}

}  // namespace MainWindowSession
