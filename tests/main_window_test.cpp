#include <QtTest>

#include "FrmMain.h"
#include "MessageBox.h"

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { MessageBox::setTestMode(true); }

    void menuInstructionsShowsTheToolsPurpose() {
        FrmMain w;
        w.menu_show->trigger();
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QStringLiteral("该工具用于删除存在于系统管理中的空帐套或删除整个帐套!"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
