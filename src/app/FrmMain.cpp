#include "FrmMain.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

#include "DropDownList.h"
#include "MessageBox.h"
#include "OdbcClient.h"

FrmMain::FrmMain(ClientFactory factory, QWidget* parent)
    : QWidget(parent), factory_(factory ? std::move(factory) : ClientFactory(&makeOdbcClient)) {
    buildControls();
    wireEvents();
}

FrmMain::~FrmMain() = default;

SqlClient& FrmMain::Cnn() {
    if (!cnn_)
        cnn_ = factory_();
    return *cnn_;
}

void FrmMain::releaseCnn() { cnn_.reset(); }

void FrmMain::buildControls() {
    // Placeholder until the design state is laid out.
    txtSqlSrvName = new QLineEdit(this);
    txtSaPwd = new QLineEdit(this);
    CmdLink = new QPushButton(QStringLiteral("测试连接"), this);
    ComAccList = new DropDownList(this);
    Label1 = new QLabel(this);
    Label2 = new QLabel(this);
    Label3 = new QLabel(this);
    TxtAccNo = new QLineEdit(this);
    CmdDel = new QPushButton(QStringLiteral("删除帐套"), this);
    ChkDelDB = new QCheckBox(QStringLiteral("删除数据库"), this);
    txtYear = new QLineEdit(this);
    lblYear = new QLabel(this);
    cmdexit = new QPushButton(QStringLiteral("退   出"), this);
    Line1 = new QFrame(this);
    menuBar = new QMenuBar(this);
    menu_show = menuBar->addAction(QStringLiteral("说明"));
    menu_about = menuBar->addAction(QStringLiteral("关于"));
    menu_exit = menuBar->addAction(QStringLiteral("退出"));
}

void FrmMain::wireEvents() {
    connect(txtSqlSrvName, &QLineEdit::textChanged, this, &FrmMain::txtSqlSrvName_Change);
    connect(CmdLink, &QPushButton::clicked, this, &FrmMain::CmdLink_Click);
    connect(ComAccList, &DropDownList::aboutToDropDown, this, &FrmMain::ComAccList_DropDown);
    connect(ComAccList, &QComboBox::activated, this, &FrmMain::ComAccList_Click);
    connect(TxtAccNo, &QLineEdit::textChanged, this, &FrmMain::TxtAccNo_Change);
    connect(ChkDelDB, &QCheckBox::toggled, this, &FrmMain::ChkDelDB_Click);
    connect(CmdDel, &QPushButton::clicked, this, &FrmMain::CmdDel_Click);
    connect(cmdexit, &QPushButton::clicked, this, &FrmMain::cmdexit_Click);
    connect(menu_show, &QAction::triggered, this, &FrmMain::menu_show_Click);
    connect(menu_about, &QAction::triggered, this, &FrmMain::menu_about_Click);
    connect(menu_exit, &QAction::triggered, this, &FrmMain::menu_exit_Click);
}

void FrmMain::cmdexit_Click() { close(); }

void FrmMain::menu_show_Click() {
    MessageBox::notice(this, QStringLiteral("该工具用于删除存在于系统管理中的空帐套或删除整个帐套!"));
}

void FrmMain::menu_about_Click() {
    MessageBox::notice(this, QStringLiteral("mail:support@example.com      tel:(010)5550123-8001"));
}

void FrmMain::menu_exit_Click() {
    releaseCnn();
    close();
}

void FrmMain::closeEvent(QCloseEvent* event) {
    if (deleting_) {
        closeAfterDeletion_ = true;
        event->ignore();
        return;
    }
    event->accept();
}
