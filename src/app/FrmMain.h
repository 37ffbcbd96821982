#pragma once

#include <functional>
#include <memory>

#include <QWidget>

#include "sql/SqlClient.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QAction;
class QPushButton;
class QFrame;
class DropDownList;

// The working window. Each rule is named after its control and event and is also an operation
// that other rules and tests call directly with the same effect as the event.
class FrmMain : public QWidget {
    Q_OBJECT

public:
    using ClientFactory = std::function<std::unique_ptr<SqlClient>()>;

    // The factory makes the connection on its first use; tests pass a fake.
    explicit FrmMain(ClientFactory factory = {}, QWidget* parent = nullptr);
    ~FrmMain() override;

    // Rules wired to the controls (event table of the window).
    void txtSqlSrvName_Change();
    void CmdLink_Click();
    void ComAccList_DropDown();
    void ComAccList_Click();
    void TxtAccNo_Change();
    void TxtAccNo_LostFocus();
    void ChkDelDB_Click();
    void CmdDel_Click();
    void cmdexit_Click();
    void menu_show_Click();
    void menu_about_Click();
    void menu_restore_Click();
    void menu_exit_Click();

    // The connection, created on first use; null after menu_exit_Click released it.
    SqlClient& Cnn();
    void releaseCnn();
    // A connection of its own, unopened, from the same factory as Cnn.
    std::unique_ptr<SqlClient> makeClient() const { return factory_(); }
    // The server and password as typed, trimmed.
    ConnectionSpec typedSpec() const;
    // What the open connection was made with; the password box may have been edited since.
    ConnectionSpec connectedSpec() const { return connectedSpec_; }

    // An input box (text box or the list) is enabled and white, or disabled and grey.
    void setBoxEnabled(QWidget* box, bool enabled);
    // The background of an input box, &HBBGGRR, whatever its enabled state.
    static void setBoxColour(QWidget* box, unsigned int bbggrr);
    static constexpr unsigned int kEnabledBox = 0xFFFFFF;
    static constexpr unsigned int kDisabledBox = 0xE0E0E0;

    // The client area in twips, below the menu bar.
    static constexpr int kClientWidthTwips = 6828;
    static constexpr int kClientHeightTwips = 3096;

    // Controls, named as the operator's manual names them.
    QMenuBar* menuBar = nullptr;
    QAction* menu_show = nullptr;
    QAction* menu_about = nullptr;
    QAction* menu_restore = nullptr;  // enabled while connected
    QAction* menu_exit = nullptr;
    QWidget* client = nullptr;  // the client area below the menu bar
    QLineEdit* txtSqlSrvName = nullptr;
    QLineEdit* txtSaPwd = nullptr;
    QPushButton* CmdLink = nullptr;
    DropDownList* ComAccList = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* TxtAccNo = nullptr;
    QPushButton* CmdDel = nullptr;
    QCheckBox* ChkDelDB = nullptr;
    QLineEdit* txtYear = nullptr;
    QLabel* lblYear = nullptr;
    QPushButton* cmdexit = nullptr;
    QFrame* Line1 = nullptr;

signals:
    // A control event that runs a rule, raised just before the rule runs (named as the rule).
    // Direct calls between rules raise nothing: this reports what the operator or a control did.
    void eventRaised(const QString& rule);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void wireEvents();
    void place(QWidget* control, int left, int top, int width, int height);
    void fire(void (FrmMain::*rule)(), const char* name);
    void onFocusChanged(QWidget* old, QWidget* now);

    ClientFactory factory_;
    std::unique_ptr<SqlClient> cnn_;
    ConnectionSpec connectedSpec_;
    QMetaObject::Connection focusWatch_;
    bool placed_ = false;
    // A close asked for while a deletion runs waits for its end.
    bool deleting_ = false;
    bool closeAfterDeletion_ = false;
    // Rules started by a control event and not yet ended; a close asked for meanwhile (a rule may
    // wait for the server or show a box) is carried out when the outermost one has ended.
    int runningRules_ = 0;
    bool closeAfterRule_ = false;
};
