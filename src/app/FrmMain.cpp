#include "app/FrmMain.h"

#include <utility>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/ClassicStyle.h"
#include "app/DesignUnits.h"
#include "app/DropDownList.h"
#include "app/MessageBox.h"
#include "app/Startup.h"
#include "app/WindowPlacement.h"
#include "deletion/Journal.h"
#include "deletion/UndoCapture.h"
#include "sql/OdbcClient.h"

namespace {

constexpr unsigned int kLabelText = 0x000040;  // dark red
constexpr unsigned int kCheckText = 0x0000FF;  // red

void setTextColour(QWidget* control, unsigned int bbggrr) {
    QPalette p = control->palette();
    // Only the enabled look: a disabled control keeps the platform's grey text.
    p.setColor(QPalette::Active, QPalette::WindowText, bgrColor(bbggrr));
    p.setColor(QPalette::Inactive, QPalette::WindowText, bgrColor(bbggrr));
    control->setPalette(p);
}

QLabel* makeLabel(const QString& caption, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

QPushButton* makeButton(const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    // Enter and Esc have no window-wide meaning.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

FrmMain::FrmMain(ClientFactory factory, QWidget* parent)
    : QWidget(parent), factory_(factory ? std::move(factory) : ClientFactory(&makeOdbcClient)) {
    initResources();
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("删除帐套及年度帐"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/acctset-remover.xpm")));
    // Fixed size: no maximise box, nothing to resize.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    buildControls();
    wireEvents();

    adjustSize();
    centreOnScreen(this);
    txtSqlSrvName->setFocus();
}

FrmMain::~FrmMain() {
    // The children go after this part of the window: no focus news may reach a rule then.
    disconnect(focusWatch_);
}

SqlClient& FrmMain::Cnn() {
    if (!cnn_)
        cnn_ = factory_();
    return *cnn_;
}

void FrmMain::releaseCnn() {
    cnn_.reset();
}

void FrmMain::setBoxColour(QWidget* box, unsigned int bbggrr) {
    QPalette p = box->palette();
    p.setColor(QPalette::All, QPalette::Base, bgrColor(bbggrr));
    box->setPalette(p);
}

void FrmMain::setBoxEnabled(QWidget* box, bool enabled) {
    box->setEnabled(enabled);
    setBoxColour(box, enabled ? kEnabledBox : kDisabledBox);
}

void FrmMain::place(QWidget* control, int left, int top, int width, int height) {
    control->setGeometry(twipsRect(left, top, width, height, logicalDpiX(), logicalDpiY()));
}

void FrmMain::buildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    // The bar belongs to the window on every desktop, not to a global menu.
    menuBar->setNativeMenuBar(false);
    menu_show = menuBar->addAction(QStringLiteral("说明"));
    menu_show->setObjectName(QStringLiteral("menu_show"));
    menu_about = menuBar->addAction(QStringLiteral("关于"));
    menu_about->setObjectName(QStringLiteral("menu_about"));
    menu_restore = menuBar->addAction(QStringLiteral("恢复帐套"));
    menu_restore->setObjectName(QStringLiteral("menu_restore"));
    menu_restore->setEnabled(false);
    menu_exit = menuBar->addAction(QStringLiteral("退出"));
    menu_exit->setObjectName(QStringLiteral("menu_exit"));
    layout->setMenuBar(menuBar);

    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twipsToPixels(kClientWidthTwips, logicalDpiX()),
                         twipsToPixels(kClientHeightTwips, logicalDpiY()));
    layout->addWidget(client);

    txtSqlSrvName = new QLineEdit(client);
    place(txtSqlSrvName, 2385, 330, 1725, 300);

    txtSaPwd = new QLineEdit(client);
    place(txtSaPwd, 2370, 855, 1725, 300);
    txtSaPwd->setStyle(classicStyle());
    txtSaPwd->setEchoMode(QLineEdit::Password);
    setBoxEnabled(txtSaPwd, false);

    CmdLink = makeButton(QStringLiteral("测试连接"), client);
    place(CmdLink, 4665, 225, 1320, 405);
    CmdLink->setEnabled(false);

    ComAccList = new DropDownList(client);
    place(ComAccList, 4560, 888, 2040, 276);
    setBoxColour(ComAccList, kDisabledBox);

    Label1 = makeLabel(QStringLiteral("数据库服务器名称："), client);
    place(Label1, 630, 375, 1725, 360);
    setTextColour(Label1, kLabelText);

    Label2 = makeLabel(QStringLiteral("数据库SA用户口令："), client);
    place(Label2, 600, 930, 1800, 300);
    setTextColour(Label2, kLabelText);

    Label3 = makeLabel(QStringLiteral("帐套号："), client);
    place(Label3, 564, 2076, 828, 240);
    setTextColour(Label3, kLabelText);

    TxtAccNo = new QLineEdit(client);
    place(TxtAccNo, 1488, 1968, 1290, 300);
    setBoxEnabled(TxtAccNo, false);

    CmdDel = makeButton(QStringLiteral("删除帐套"), client);
    place(CmdDel, 3696, 2484, 1290, 405);
    CmdDel->setEnabled(false);

    ChkDelDB = new QCheckBox(QStringLiteral("删除数据库"), client);
    place(ChkDelDB, 1488, 2544, 1455, 255);
    setTextColour(ChkDelDB, kCheckText);

    txtYear = new QLineEdit(client);
    place(txtYear, 4488, 1956, 2025, 300);
    setBoxColour(txtYear, kDisabledBox);
    txtYear->setVisible(false);

    lblYear = makeLabel(QStringLiteral("年度号:"), client);
    place(lblYear, 3504, 2040, 792, 252);
    setTextColour(lblYear, kLabelText);
    lblYear->setVisible(false);

    cmdexit = makeButton(QStringLiteral("退   出"), client);
    place(cmdexit, 5268, 2484, 1260, 390);

    // A one-pixel line from (210, 1665) to (6735, 1665), both ends drawn.
    Line1 = new QFrame(client);
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Plain);
    Line1->setLineWidth(1);
    Line1->setMidLineWidth(0);
    const int x1 = twipsToPixels(210, logicalDpiX());
    const int x2 = twipsToPixels(6735, logicalDpiX());
    Line1->setGeometry(x1, twipsToPixels(1665, logicalDpiY()), x2 - x1 + 1, 1);

    const std::pair<QObject*, const char*> names[] = {
        {txtSqlSrvName, "txtSqlSrvName"},
        {txtSaPwd, "txtSaPwd"},
        {CmdLink, "CmdLink"},
        {ComAccList, "ComAccList"},
        {Label1, "Label1"},
        {Label2, "Label2"},
        {Label3, "Label3"},
        {TxtAccNo, "TxtAccNo"},
        {CmdDel, "CmdDel"},
        {ChkDelDB, "ChkDelDB"},
        {txtYear, "txtYear"},
        {lblYear, "lblYear"},
        {cmdexit, "cmdexit"},
        {Line1, "Line1"},
    };
    for (const auto& [object, name] : names)
        object->setObjectName(QLatin1String(name));

    // The table's tab order; the labels sit in it too but never take the focus.
    QWidget* const order[] = {txtSqlSrvName, txtSaPwd, CmdLink, ComAccList, TxtAccNo,
                              CmdDel,        ChkDelDB, txtYear, cmdexit};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void FrmMain::fire(void (FrmMain::*rule)(), const char* name) {
    emit eventRaised(QLatin1String(name));
    ++runningRules_;
    (this->*rule)();
    if (--runningRules_ == 0 && std::exchange(closeAfterRule_, false))
        close();
}

void FrmMain::wireEvents() {
    // Text changes count whether typed or set by a rule; an item counts only when the operator
    // chooses it (also the one already chosen), never when a rule fills or clears the list.
    connect(txtSqlSrvName, &QLineEdit::textChanged, this,
            [this] { fire(&FrmMain::txtSqlSrvName_Change, "txtSqlSrvName_Change"); });
    connect(CmdLink, &QPushButton::clicked, this, [this] { fire(&FrmMain::CmdLink_Click, "CmdLink_Click"); });
    connect(ComAccList, &DropDownList::aboutToDropDown, this,
            [this] { fire(&FrmMain::ComAccList_DropDown, "ComAccList_DropDown"); });
    connect(ComAccList, &QComboBox::activated, this,
            [this] { fire(&FrmMain::ComAccList_Click, "ComAccList_Click"); });
    connect(TxtAccNo, &QLineEdit::textChanged, this,
            [this] { fire(&FrmMain::TxtAccNo_Change, "TxtAccNo_Change"); });
    // A tick set by a rule runs the rule too, as the reset after a deletion expects.
    connect(ChkDelDB, &QCheckBox::toggled, this,
            [this] { fire(&FrmMain::ChkDelDB_Click, "ChkDelDB_Click"); });
    connect(CmdDel, &QPushButton::clicked, this, [this] { fire(&FrmMain::CmdDel_Click, "CmdDel_Click"); });
    connect(cmdexit, &QPushButton::clicked, this, [this] { fire(&FrmMain::cmdexit_Click, "cmdexit_Click"); });
    connect(menu_show, &QAction::triggered, this,
            [this] { fire(&FrmMain::menu_show_Click, "menu_show_Click"); });
    connect(menu_about, &QAction::triggered, this,
            [this] { fire(&FrmMain::menu_about_Click, "menu_about_Click"); });
    connect(menu_restore, &QAction::triggered, this,
            [this] { fire(&FrmMain::menu_restore_Click, "menu_restore_Click"); });
    connect(menu_exit, &QAction::triggered, this,
            [this] { fire(&FrmMain::menu_exit_Click, "menu_exit_Click"); });
    focusWatch_ = connect(qApp, &QApplication::focusChanged, this, &FrmMain::onFocusChanged);
}

// The number box loses the focus only to another control of this window: a message box, another
// window or the list's popup taking the focus is no lost focus, and the focus that comes back
// from there finds the box still focused.
void FrmMain::onFocusChanged(QWidget* old, QWidget* now) {
    if (old == TxtAccNo && now && now != TxtAccNo && now->window() == this)
        fire(&FrmMain::TxtAccNo_LostFocus, "TxtAccNo_LostFocus");
}

// A view toggle that both the list's rules and the deletion's reset use.
void FrmMain::ChkDelDB_Click() {
    const bool ticked = ChkDelDB->isChecked();
    txtYear->setVisible(ticked);
    lblYear->setVisible(ticked);
}

void FrmMain::cmdexit_Click() {
    close();
}

void FrmMain::menu_show_Click() {
    MessageBox::notice(this, QStringLiteral("该工具用于删除存在于系统管理中的空帐套或删除整个帐套!\n\n"
                                            "撤销脚本保存在: %1\n删除记录: %2")
                                 .arg(deletion::undoFolder(), deletion::Journal::defaultPath()));
}

void FrmMain::menu_about_Click() {
    MessageBox::notice(this, QStringLiteral("mail:acctset-support@example.com      tel:(010)55501234-8001"));
}

void FrmMain::menu_exit_Click() {
    // A deletion still running keeps its connection; the close then waits for its end.
    if (!deleting_)
        releaseCnn();
    close();
}

void FrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Once the platform knows the frame, the frame is what is centred.
    if (!placed_) {
        placed_ = true;
        centreOnScreen(this);
    }
}

void FrmMain::closeEvent(QCloseEvent* event) {
    if (deleting_) {
        closeAfterDeletion_ = true;
        event->ignore();
        return;
    }
    if (runningRules_ > 0) {
        closeAfterRule_ = true;
        event->ignore();
        return;
    }
    event->accept();
}
