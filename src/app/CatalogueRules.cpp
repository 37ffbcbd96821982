// The rules of the server-name box, the connect button, the account list and the number box.
#include <QCheckBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStringListModel>

#include "app/DropDownList.h"
#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "catalogue/AccountCatalogue.h"
#include "sql/ConnectionString.h"
#include "sql/OdbcClient.h"

namespace {

// The connection waits for the server on its own thread; meanwhile the operator sees a busy cursor.
[[maybe_unused]] const bool busyCursorHooked = [] {
    setSqlBusyHooks(
        [] {
            if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
                QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        },
        [] {
            if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
                QGuiApplication::restoreOverrideCursor();
        });
    return true;
}();

// A value the installed driver cannot carry is refused before anything is sent; "connection
// failed" would send the operator looking for a server or network fault. A failure whose cause
// the driver's words show gets a message naming that cause.
QString connectFailed(const SqlError& error, const ConnectionSpec& spec) {
    if (error.kind == SqlError::Kind::Refused) {
        const QString what =
            spec.password.contains(QLatin1Char('}')) ? QStringLiteral("口令") : QStringLiteral("服务器名称");
        return what + QStringLiteral("中含有字符“}”,当前安装的数据库驱动程序无法传送此") + what +
               QStringLiteral(",没有连接任何数据库服务器!");
    }
    switch (error.cause) {
        case SqlError::Cause::Encryption:
            return QStringLiteral("数据库连接失败,无法与数据库服务器协商连接的加密(TLS)!");
        case SqlError::Cause::OldTls:
            return QStringLiteral(
                "数据库连接失败,无法与数据库服务器协商连接的加密(TLS)!服务器可能只支持旧版本的 TLS 协议。");
        case SqlError::Cause::InstanceNotFound:
            return QStringLiteral(
                       "数据库连接失败,在等待的 %1 秒内未找到数据库实例“%2”!请检查实例名称是否正确、"
                       "服务器上的 SQL Server Browser 服务是否启动。")
                .arg((error.waitedMs + 500) / 1000)
                .arg(ConnectionString::parseServer(spec.server).instance);
        case SqlError::Cause::ServerWithoutTls:  // answered by the question, never shown as a failure
        case SqlError::Cause::Unknown:
            break;
    }
    return QStringLiteral("数据库连接失败,请检查数据库服务是否启动或输入的服务器名称是否实际存在!");
}

// Asked once, when the server has no TLS at all: the operator decides whether the password may
// cross the network unprotected; nothing has been sent yet.
QString clearLoginQuestion(const ConnectionSpec& spec) {
    return QStringLiteral("数据库服务器“") + spec.server +
           QStringLiteral(
               "”不支持加密连接(TLS)。\n\n如果继续连接,sa 的口令将不受保护地在网络上传送"
               "(只作了简单的可逆变换,等同明文),此后的全部语句和数据(帐套号、帐套名称等)也都是明文,"
               "网络上的其他人可以读取,甚至篡改。\n\n是否仍然以不加密的方式连接?");
}

QString notQueried(const QString& what) {
    return QStringLiteral("无法查询数据库服务器,") + what;
}

}  // namespace

void FrmMain::txtSqlSrvName_Change() {
    txtSaPwd->setText(QString());
    TxtAccNo->setText(QString());
    setBoxEnabled(TxtAccNo, false);
    setBoxEnabled(ComAccList, false);
    ComAccList->clear();
    CmdDel->setEnabled(false);
    menu_restore->setEnabled(false);
    const bool named = !AccountCatalogue::trimSpaces(txtSqlSrvName->text()).isEmpty();
    setBoxEnabled(txtSaPwd, named);
    CmdLink->setEnabled(named);
}

ConnectionSpec FrmMain::typedSpec() const {
    ConnectionSpec spec;
    spec.server = AccountCatalogue::trimSpaces(txtSqlSrvName->text());
    spec.password = AccountCatalogue::trimSpaces(txtSaPwd->text());
    return spec;
}

void FrmMain::CmdLink_Click() {
    ConnectionSpec spec = typedSpec();
    if (spec.server.isEmpty()) {
        MessageBox::notice(this, QStringLiteral("请输入数据库名称!"));
        return;
    }

    SqlClient& cnn = Cnn();
    if (cnn.isOpen())
        cnn.close();
    SqlError opened = cnn.open(spec);
    // Let the window repaint after the wait; input stays queued until the rule has ended, so no
    // other rule (nor a second connect) can run inside this one.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (opened.cause == SqlError::Cause::ServerWithoutTls) {
        if (MessageBox::caution(this, clearLoginQuestion(spec), opened.message) != MessageBox::Ok) {
            connectedSpec_ = {};
            menu_restore->setEnabled(false);
            return;
        }
        spec.allowUnencrypted = true;
        opened = cnn.open(spec);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    // The second connection (a backup's progress) logs in as this one did, in clear only if the
    // operator allowed it here.
    connectedSpec_ = opened.isError() ? ConnectionSpec{} : spec;
    // A restore needs the server only: the account set it brings back may have been the last one.
    menu_restore->setEnabled(!opened.isError() && cnn.isOpen());
    if (opened.isError() || !cnn.isOpen()) {
        MessageBox::notice(this, connectFailed(opened, spec), opened.message);
        return;
    }

    const auto accounts = AccountCatalogue::readAccountItems(cnn);
    if (!accounts.ok()) {
        MessageBox::notice(this, notQueried(QStringLiteral("未能读取帐套列表!")), accounts.error.message);
        return;
    }
    // An empty catalogue must not leave the items of an account set that no longer exists.
    ComAccList->clear();
    if (accounts.value.isEmpty())
        return;
    setBoxEnabled(ComAccList, true);
    setBoxEnabled(TxtAccNo, true);
    // The list in one piece: an item model built row by row costs as much as fetching the rows.
    // The previous model is the box's child and goes with the swap.
    ComAccList->setModel(new QStringListModel(accounts.value, ComAccList));
    // A new model selects its first item; the operator picks one.
    ComAccList->setCurrentIndex(-1);
}

void FrmMain::ComAccList_DropDown() {
    if (!AccountCatalogue::trimSpaces(ComAccList->currentText()).isEmpty())
        return;
    TxtAccNo->setText(QString());
    ChkDelDB->setChecked(false);
    ChkDelDB_Click();
}

void FrmMain::ComAccList_Click() {
    const QString item = AccountCatalogue::trimSpaces(ComAccList->currentText());
    if (item.isEmpty())
        return;
    const QString piece = AccountCatalogue::numberOfItem(item);
    TxtAccNo->setText(piece);
    const QString accNo = AccountCatalogue::boxValue(piece);
    const auto years = AccountCatalogue::readYearList(Cnn(), accNo);
    if (!years.ok()) {
        MessageBox::notice(this,
                           notQueried(QStringLiteral("未能读取帐套") + accNo + QStringLiteral("的年度信息!")),
                           years.error.message);
        return;
    }
    // An account set without years empties the box rather than showing the previous one's years.
    txtYear->setText(years.value);
}

void FrmMain::TxtAccNo_Change() {
    CmdDel->setEnabled(!AccountCatalogue::boxValue(TxtAccNo->text()).isEmpty());
}

void FrmMain::TxtAccNo_LostFocus() {
    const QString accNo = AccountCatalogue::boxValue(TxtAccNo->text());
    if (accNo.isEmpty())
        return;
    const auto found = AccountCatalogue::countAccounts(Cnn(), accNo);
    if (!found.ok()) {
        // Inside a delete request the request's own look-up reports the failure, once.
        if (deleting_)
            return;
        MessageBox::notice(this,
                           notQueried(QStringLiteral("未能检查帐套") + accNo + QStringLiteral("是否存在!")),
                           found.error.message);
        return;
    }
    if (found.value != 1) {
        MessageBox::notice(this, QStringLiteral("当前的系统数据库tqsystem中不存在帐套") + accNo +
                                     QStringLiteral(",请输入正确的帐套号!"));
    }
}
