#include <QtTest>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include "app/DesignUnits.h"
#include "app/DropDownList.h"
#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "app/Startup.h"
#include "support/FakeSqlClient.h"
#include "support/TestMain.h"
#include "support/WindowDriver.h"

namespace {

using namespace WindowInput;

// Every control event the window raised, in order.
struct Events {
    QStringList raised;
    explicit Events(FrmMain& w) {
        QObject::connect(&w, &FrmMain::eventRaised, &w, [this](const QString& rule) { raised << rule; });
    }
    QStringList take() { return std::exchange(raised, {}); }
};

void showActive(QWidget& w) {
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { MessageBox::setTestMode(true); }
    void cleanup() { MessageBox::setTestMode(false); }

    // Edges are rounded one by one; sizes are what lies between them.
    void twipsRoundEachEdge() {
        QCOMPARE(twipsRect(4560, 888, 2040, 276, 96, 96), QRect(304, 59, 136, 19));
        QCOMPARE(twipsRect(2385, 330, 1725, 300, 96, 96), QRect(159, 22, 115, 20));
        QCOMPARE(twipsRect(2385, 330, 1725, 300, 120, 120), QRect(199, 28, 144, 25));
        QCOMPARE(twipsRect(300, 150, 4200, 300, 144, 96), QRect(30, 10, 420, 20));
    }

    void bgrNotation() {
        QCOMPARE(bgrColor(0x0000FF), QColor(255, 0, 0));
        QCOMPARE(bgrColor(0x000040), QColor(64, 0, 0));
        QCOMPARE(bgrColor(0xFFC0C0), QColor(192, 192, 255));
        QCOMPARE(bgrColor(0xE0E0E0), QColor(224, 224, 224));
    }

    void controlsSitWhereDesigned() {
        FrmMain w;
        const int dx = w.logicalDpiX();
        const int dy = w.logicalDpiY();
        struct Row {
            const char* name;
            int left, top, width, height;
        };
        const Row rows[] = {
            {"txtSqlSrvName", 2385, 330, 1725, 300}, {"txtSaPwd", 2370, 855, 1725, 300},
            {"CmdLink", 4665, 225, 1320, 405},       {"ComAccList", 4560, 888, 2040, 276},
            {"Label1", 630, 375, 1725, 360},         {"Label2", 600, 930, 1800, 300},
            {"Label3", 564, 2076, 828, 240},         {"TxtAccNo", 1488, 1968, 1290, 300},
            {"CmdDel", 3696, 2484, 1290, 405},       {"ChkDelDB", 1488, 2544, 1455, 255},
            {"txtYear", 4488, 1956, 2025, 300},      {"lblYear", 3504, 2040, 792, 252},
            {"cmdexit", 5268, 2484, 1260, 390},
        };
        for (const Row& r : rows) {
            auto* control = w.client->findChild<QWidget*>(QLatin1String(r.name), Qt::FindDirectChildrenOnly);
            QVERIFY2(control, r.name);
            QCOMPARE(control->geometry(), twipsRect(r.left, r.top, r.width, r.height, dx, dy));
        }
        if (dx == 96 && dy == 96) {
            QCOMPARE(w.ComAccList->geometry(), QRect(304, 59, 136, 19));
            QCOMPARE(w.cmdexit->geometry(), QRect(351, 166, 84, 26));
            QCOMPARE(w.Line1->geometry(), QRect(14, 111, 436, 1));
        }

        // The client area lies under the menu bar, fixed in size.
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.client->size(), QSize(twipsToPixels(FrmMain::kClientWidthTwips, dx),
                                         twipsToPixels(FrmMain::kClientHeightTwips, dy)));
        QCOMPARE(w.client->y(), w.menuBar->geometry().bottom() + 1);
        QCOMPARE(w.client->x(), 0);
        QCOMPARE(w.width(), w.client->width());
        QCOMPARE(w.height(), w.menuBar->height() + w.client->height());
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));

        const QPoint centre = w.screen()->availableGeometry().center();
        QVERIFY(qAbs(w.frameGeometry().center().x() - centre.x()) <= 1);
        QVERIFY(qAbs(w.frameGeometry().center().y() - centre.y()) <= 1);
    }

    void designState() {
        FrmMain w;
        QCOMPARE(w.windowTitle(), QStringLiteral("删除帐套及年度帐"));
        QCOMPARE(w.CmdLink->text(), QStringLiteral("测试连接"));
        QCOMPARE(w.Label1->text(), QStringLiteral("数据库服务器名称："));
        QCOMPARE(w.Label2->text(), QStringLiteral("数据库SA用户口令："));
        QCOMPARE(w.Label3->text(), QStringLiteral("帐套号："));
        QCOMPARE(w.CmdDel->text(), QStringLiteral("删除帐套"));
        QCOMPARE(w.ChkDelDB->text(), QStringLiteral("删除数据库"));
        QCOMPARE(w.lblYear->text(), QStringLiteral("年度号:"));
        QCOMPARE(w.cmdexit->text(), QStringLiteral("退   出"));

        // Four commands directly on the bar, no menus under them; the restore waits for a connection.
        const QList<QAction*> bar = w.menuBar->actions();
        QCOMPARE(bar, (QList<QAction*>{w.menu_show, w.menu_about, w.menu_restore, w.menu_exit}));
        QCOMPARE(w.menu_show->text(), QStringLiteral("说明"));
        QCOMPARE(w.menu_about->text(), QStringLiteral("关于"));
        QCOMPARE(w.menu_restore->text(), QStringLiteral("恢复帐套"));
        QCOMPARE(w.menu_exit->text(), QStringLiteral("退出"));
        for (QAction* a : bar) {
            QVERIFY(!a->menu());
            QCOMPARE(a->isEnabled(), a != w.menu_restore);
            QVERIFY(a->isVisible());
            QVERIFY(a->shortcut().isEmpty());
        }
        QVERIFY(!w.menuBar->isNativeMenuBar());

        // Start states: only the server name, the list, the check box and exit can be used.
        QVERIFY(w.txtSqlSrvName->isEnabled());
        QVERIFY(!w.txtSaPwd->isEnabled());
        QVERIFY(!w.CmdLink->isEnabled());
        QVERIFY(w.ComAccList->isEnabled());
        QVERIFY(!w.TxtAccNo->isEnabled());
        QVERIFY(!w.CmdDel->isEnabled());
        QVERIFY(w.ChkDelDB->isEnabled());
        QVERIFY(!w.ChkDelDB->isChecked());
        QVERIFY(w.cmdexit->isEnabled());
        QVERIFY(w.txtYear->isHidden());
        QVERIFY(w.lblYear->isHidden());
        for (QLineEdit* box : {w.txtSqlSrvName, w.txtSaPwd, w.TxtAccNo, w.txtYear})
            QVERIFY(box->text().isEmpty());
        QCOMPARE(w.ComAccList->count(), 0);
        QVERIFY(!w.ComAccList->isEditable());
        QVERIFY(w.ComAccList->currentText().isEmpty());

        // Grey boxes, white where enabled; dark red and red text.
        const QColor grey(0xE0, 0xE0, 0xE0);
        QCOMPARE(w.txtSaPwd->palette().color(QPalette::Disabled, QPalette::Base), grey);
        QCOMPARE(w.TxtAccNo->palette().color(QPalette::Disabled, QPalette::Base), grey);
        QCOMPARE(w.ComAccList->palette().color(QPalette::Active, QPalette::Base), grey);
        QCOMPARE(w.txtYear->palette().color(QPalette::Active, QPalette::Base), grey);
        for (QLabel* label : {w.Label1, w.Label2, w.Label3, w.lblYear}) {
            QCOMPARE(label->palette().color(QPalette::Active, QPalette::WindowText), QColor(0x40, 0, 0));
            QCOMPARE(label->focusPolicy(), Qt::NoFocus);
        }
        QCOMPARE(w.ChkDelDB->palette().color(QPalette::Active, QPalette::WindowText), QColor(0xFF, 0, 0));

        w.setBoxEnabled(w.TxtAccNo, true);
        QVERIFY(w.TxtAccNo->isEnabled());
        QCOMPARE(w.TxtAccNo->palette().color(QPalette::Active, QPalette::Base), QColor(Qt::white));
        w.setBoxEnabled(w.TxtAccNo, false);
        QCOMPARE(w.TxtAccNo->palette().color(QPalette::Active, QPalette::Base), grey);

        // The password shows one "*" per character and keeps the text as typed.
        QCOMPARE(w.txtSaPwd->echoMode(), QLineEdit::Password);
        QCOMPARE(w.txtSaPwd->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, w.txtSaPwd),
                 int('*'));
        w.txtSaPwd->setEnabled(true);
        QTest::keyClicks(w.txtSaPwd, "p w");
        QCOMPARE(w.txtSaPwd->text(), QStringLiteral("p w"));
        QCOMPARE(w.txtSaPwd->displayText(), QStringLiteral("***"));

        QCOMPARE(w.Line1->frameShape(), QFrame::HLine);
        QCOMPARE(w.Line1->frameShadow(), QFrame::Plain);

        // The icon: 32x32 in at most 16 colours.
        const QIcon icon = w.windowIcon();
        QVERIFY(icon.availableSizes().contains(QSize(32, 32)));
        const QImage image = icon.pixmap(32, 32).toImage();
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) != 0)
                    colours.insert(image.pixel(x, y));
        QVERIFY(colours.size() <= 16);
        QVERIFY(colours.size() >= 4);
    }

    void focusAndTabOrder() {
        WindowDriver d;
        FrmMain& w = d.window();
        QVERIFY(d.show());
        QCOMPARE(QApplication::focusWidget(), w.txtSqlSrvName);

        // At start Tab visits only what is enabled and visible, then comes back round.
        for (QWidget* next :
             {(QWidget*)w.ComAccList, (QWidget*)w.ChkDelDB, (QWidget*)w.cmdexit, (QWidget*)w.txtSqlSrvName}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }

        // Everything usable: the table's order, labels skipped.
        for (QWidget* c :
             {(QWidget*)w.txtSaPwd, (QWidget*)w.CmdLink, (QWidget*)w.TxtAccNo, (QWidget*)w.CmdDel})
            c->setEnabled(true);
        w.txtYear->setVisible(true);
        w.lblYear->setVisible(true);
        const QList<QWidget*> order{w.txtSaPwd, w.CmdLink, w.ComAccList, w.TxtAccNo,     w.CmdDel,
                                    w.ChkDelDB, w.txtYear, w.cmdexit,    w.txtSqlSrvName};
        for (QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void enterAndEscapeHaveNoWindowWideMeaning() {
        WindowDriver d;
        FrmMain& w = d.window();
        Events events(w);
        QVERIFY(d.show());
        w.CmdLink->setEnabled(true);
        w.CmdDel->setEnabled(true);
        for (QPushButton* b : {w.CmdLink, w.CmdDel, w.cmdexit})
            QVERIFY(!b->autoDefault() && !b->isDefault());
        QTest::keyClick(w.txtSqlSrvName, Qt::Key_Return);
        QTest::keyClick(w.txtSqlSrvName, Qt::Key_Escape);
        QTest::keyClick(w.ChkDelDB, Qt::Key_Return);
        QVERIFY(events.take().isEmpty());
        QVERIFY(w.isVisible());
    }

    void instructionsAndContactChangeNothing() {
        // Where the way back is kept, named without making the folder.
        const QByteArray undoDir = qgetenv("ACCTSET_UNDO_DIR");
        qputenv("ACCTSET_UNDO_DIR", "/srv/acctset-undo");
        const auto restore = qScopeGuard([&] { qputenv("ACCTSET_UNDO_DIR", undoDir); });
        auto script = std::make_shared<FakeScript>();
        WindowDriver d(script);
        FrmMain& w = d.window();
        Events events(w);
        QVERIFY(d.show());

        // Chosen on the bar itself, before any connection and after one.
        QTest::mouseClick(w.menuBar, Qt::LeftButton, {}, w.menuBar->actionGeometry(w.menu_show).center());
        QTest::mouseClick(w.menuBar, Qt::LeftButton, {}, w.menuBar->actionGeometry(w.menu_about).center());
        QCOMPARE(events.take(), (QStringList{"menu_show_Click", "menu_about_Click"}));
        QCOMPARE(script->liveClients, 0);

        QVERIFY(!w.Cnn().open({}).isError());
        w.menu_show_Click();
        w.menu_about_Click();
        QVERIFY(script->open);
        QCOMPARE(script->log, QStringList{"OPEN "});

        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 4);
        for (int i : {0, 2}) {
            QCOMPARE(shown[i].kind, MessageBox::Notice);
            QCOMPARE(shown[i].text, QStringLiteral("该工具用于删除存在于系统管理中的空帐套或删除整个帐套!\n\n"
                                                   "撤销脚本保存在: /srv/acctset-undo\n"
                                                   "删除记录: /srv/acctset-undo/deletions.log"));
        }
        QVERIFY(!QFileInfo::exists(QStringLiteral("/srv/acctset-undo")));
        static const QRegularExpression contact(
            QStringLiteral("^mail:[A-Za-z0-9._-]+@example\\.com {6}tel:\\([0-9]+\\)[0-9]+-[0-9]+$"));
        for (int i : {1, 3}) {
            QCOMPARE(shown[i].kind, MessageBox::Notice);
            QVERIFY2(contact.match(shown[i].text).hasMatch(), qPrintable(shown[i].text));
        }
        QVERIFY(w.isVisible());
        QVERIFY(!w.txtSaPwd->isEnabled());
    }

    void menuExitReleasesTheConnectionThenCloses() {
        auto script = std::make_shared<FakeScript>();
        WindowDriver d(script);
        FrmMain& w = d.window();
        Events events(w);
        QVERIFY(d.show());
        QVERIFY(!w.Cnn().open({}).isError());
        QCOMPARE(script->liveClients, 1);

        QTest::mouseClick(w.menuBar, Qt::LeftButton, {}, w.menuBar->actionGeometry(w.menu_exit).center());
        QCOMPARE(events.take(), QStringList{"menu_exit_Click"});
        QVERIFY(!w.isVisible());
        QCOMPARE(script->liveClients, 0);
        QVERIFY(!script->open);
        // Nothing was sent to the server first, and nothing asked.
        QCOMPARE(script->log, QStringList{"OPEN "});
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    void exitButtonAndFrameCloseLeaveTheConnectionToTheProgramsEnd() {
        auto script = std::make_shared<FakeScript>();
        {
            WindowDriver d(script);
            FrmMain& w = d.window();
            QVERIFY(d.show());
            QVERIFY(!w.Cnn().open({}).isError());
            QTest::mouseClick(w.cmdexit, Qt::LeftButton);
            QVERIFY(!w.isVisible());
            QCOMPARE(script->liveClients, 1);
            QVERIFY(script->open);
        }
        QCOMPARE(script->liveClients, 0);
        QVERIFY(!script->open);

        // The frame's close box, as the window manager asks for it.
        WindowDriver d(script);
        FrmMain& w = d.window();
        QVERIFY(d.show());
        d.closeFromWindowManager();
        QTRY_VERIFY(!w.isVisible());
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    // Typed, pasted, composed or set by a rule: every change of the text counts.
    void textChangedRunsOnEveryChange() {
        WindowDriver d;
        FrmMain& w = d.window();
        Events events(w);
        QVERIFY(d.show());
        QTest::keyClicks(w.txtSqlSrvName, "db");
        typeText(w.txtSqlSrvName, QStringLiteral("删"));
        commitFromInputMethod(w.txtSqlSrvName, QStringLiteral("除库"));
        QTest::keyClick(w.txtSqlSrvName, Qt::Key_Backspace);
        QCOMPARE(w.txtSqlSrvName->text(), QStringLiteral("db删除"));
        QCOMPARE(events.take(), QStringList(5, QStringLiteral("txtSqlSrvName_Change")));

        w.TxtAccNo->setText(QStringLiteral("001"));
        w.TxtAccNo->clear();
        QCOMPARE(events.take(), QStringList(2, QStringLiteral("TxtAccNo_Change")));
    }

    void lostFocusOnlyToAnotherControlOfTheWindow() {
        WindowDriver d;
        FrmMain& w = d.window();
        Events events(w);
        QVERIFY(d.show());
        w.setBoxEnabled(w.TxtAccNo, true);
        w.TxtAccNo->setFocus();
        QCOMPARE(QApplication::focusWidget(), w.TxtAccNo);
        events.take();

        // A message box takes the focus and gives it back.
        {
            QMessageBox box(QMessageBox::NoIcon, MessageBox::appTitle(), QStringLiteral("x"),
                            QMessageBox::Ok);
            box.open();
            box.activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), &box);
            QVERIFY(QApplication::focusWidget() != w.TxtAccNo);
            box.close();
        }
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), w.TxtAccNo);

        // Another window of the program.
        {
            QWidget other;
            auto* edit = new QLineEdit(&other);
            showActive(other);
            edit->setFocus();
            QCOMPARE(QApplication::focusWidget(), edit);
        }
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));

        // The list's popup, opened while the box keeps the focus.
        w.ComAccList->addItems({QStringLiteral("001(A)"), QStringLiteral("002(B)")});
        w.ComAccList->showPopup();
        QTRY_VERIFY(w.ComAccList->view()->isVisible());
        w.ComAccList->hidePopup();
        QTRY_VERIFY(!w.ComAccList->view()->isVisible());
        QCOMPARE(QApplication::focusWidget(), w.TxtAccNo);
        const QStringList beforeMove = events.take();
        QVERIFY2(!beforeMove.contains(QStringLiteral("TxtAccNo_LostFocus")),
                 qPrintable(beforeMove.join(',')));

        // Now the focus goes to another control: by Tab, then by a click.
        QTest::keyClick(w.TxtAccNo, Qt::Key_Tab);
        QCOMPARE(events.take(), QStringList{"TxtAccNo_LostFocus"});
        w.TxtAccNo->setFocus();
        QTest::mouseClick(w.txtSqlSrvName, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), w.txtSqlSrvName);
        QCOMPARE(events.take(), QStringList{"TxtAccNo_LostFocus"});
    }

    // The rule runs first, whatever opens the list, and also when there is nothing to show.
    void dropDownRunsBeforeTheListOpens() {
        WindowDriver d;
        FrmMain& w = d.window();
        QVERIFY(d.show());
        QStringList seen;
        connect(&w, &FrmMain::eventRaised, &w, [&](const QString& rule) {
            if (rule == QLatin1String("ComAccList_DropDown"))
                seen << (w.ComAccList->view()->isVisible() ? "open" : "closed");
        });

        QTest::mouseClick(w.ComAccList, Qt::LeftButton);
        QCOMPARE(seen, QStringList{"closed"});

        w.ComAccList->addItems({QStringLiteral("001(A)"), QStringLiteral("002(B)")});
        w.ComAccList->setFocus();
        for (const auto& [key, modifiers] :
             {std::pair{Qt::Key_F4, Qt::NoModifier}, std::pair{Qt::Key_Down, Qt::AltModifier}}) {
            seen.clear();
            QTest::keyClick(w.ComAccList, key, modifiers);
            QCOMPARE(seen, QStringList{"closed"});
            QTRY_VERIFY(w.ComAccList->view()->isVisible());
            w.ComAccList->hidePopup();
            QTRY_VERIFY(!w.ComAccList->view()->isVisible());
        }
        seen.clear();
        QTest::mouseClick(w.ComAccList, Qt::LeftButton);
        QCOMPARE(seen, QStringList{"closed"});
        QTRY_VERIFY(w.ComAccList->view()->isVisible());
        // The list opens below the field, not over it.
        const int fieldBottom = w.ComAccList->mapToGlobal(QPoint(0, w.ComAccList->height())).y();
        QVERIFY(w.ComAccList->view()->window()->geometry().top() >= fieldBottom - 1);
        w.ComAccList->hidePopup();
    }

    void itemChosenOnlyByTheOperatorAlsoTheSameAgain() {
        WindowDriver d;
        FrmMain& w = d.window();
        Events events(w);
        QVERIFY(d.show());

        // A rule filling, selecting and clearing the list chooses nothing.
        w.ComAccList->addItems({QStringLiteral("001(A)"), QStringLiteral("002(B)")});
        w.ComAccList->setCurrentIndex(1);
        w.ComAccList->clear();
        w.ComAccList->addItems({QStringLiteral("001(A)"), QStringLiteral("002(B)")});
        w.ComAccList->setCurrentIndex(-1);
        QVERIFY(events.take().isEmpty());

        QVERIFY(d.choose(1));
        QCOMPARE(w.ComAccList->currentText(), QStringLiteral("002(B)"));
        QVERIFY(d.choose(1));
        QCOMPARE(events.take().count(QStringLiteral("ComAccList_Click")), 2);
    }

    // Clicked or set by a rule, the tick runs the rule.
    void checkBoxRunsOnEveryToggle() {
        WindowDriver d;
        FrmMain& w = d.window();
        Events events(w);
        QVERIFY(d.show());
        QTest::mouseClick(w.ChkDelDB, Qt::LeftButton, {}, QPoint(5, w.ChkDelDB->height() / 2));
        QVERIFY(w.ChkDelDB->isChecked());
        w.ChkDelDB->setChecked(false);
        QCOMPARE(events.take(), QStringList(2, QStringLiteral("ChkDelDB_Click")));
    }

    void messageBoxes() {
        // A notice: one OK button, no icon, the application title.
        auto notice = MessageBox::build(nullptr, MessageBox::Notice, QStringLiteral("提示"), {});
        QCOMPARE(notice->windowTitle(), QStringLiteral("帐套删除工具"));
        QCOMPARE(notice->icon(), QMessageBox::NoIcon);
        QVERIFY(notice->iconPixmap().isNull());
        QCOMPARE(notice->buttons().size(), 1);
        QCOMPARE(notice->buttons()[0]->text(), QStringLiteral("确定"));
        QCOMPARE(notice->windowModality(), Qt::ApplicationModal);

        // A confirmation: OK the default; Esc and the close box answer Cancel.
        const auto confirmation = [] {
            return MessageBox::build(nullptr, MessageBox::Confirmation, QStringLiteral("确认?"), {});
        };
        auto box = confirmation();
        QStringList captions;
        for (QAbstractButton* b : box->buttons())
            captions << b->text();
        captions.sort();
        QCOMPARE(captions, (QStringList{QStringLiteral("取消"), QStringLiteral("确定")}));
        QCOMPARE(box->defaultButton()->text(), QStringLiteral("确定"));

        box->open();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        QTest::keyClick(box.get(), Qt::Key_Return);
        QTRY_VERIFY(!box->isVisible());
        QCOMPARE(MessageBox::answerOf(*box), MessageBox::Ok);

        box = confirmation();
        box->open();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        QTest::keyClick(box.get(), Qt::Key_Escape);
        QTRY_VERIFY(!box->isVisible());
        QCOMPARE(MessageBox::answerOf(*box), MessageBox::Cancel);

        box = confirmation();
        box->open();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        box->close();
        QTRY_VERIFY(!box->isVisible());
        QCOMPARE(MessageBox::answerOf(*box), MessageBox::Cancel);

        // A caution: the same buttons, and Enter answers 取消.
        box = MessageBox::build(nullptr, MessageBox::Caution, QStringLiteral("不加密?"), {});
        QCOMPARE(box->buttons().size(), 2);
        box->open();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        QTest::keyClick(box.get(), Qt::Key_Return);
        QTRY_VERIFY(!box->isVisible());
        QCOMPARE(MessageBox::answerOf(*box), MessageBox::Cancel);

        // Details on demand, behind a button in Chinese both ways.
        auto detailed = MessageBox::build(nullptr, MessageBox::Notice, QStringLiteral("失败"),
                                          QStringLiteral("Login failed for user 'sa'."));
        QCOMPARE(detailed->detailedText(), QStringLiteral("Login failed for user 'sa'."));
        detailed->open();
        QVERIFY(QTest::qWaitForWindowExposed(detailed.get()));
        QPushButton* details = nullptr;
        for (QAbstractButton* b : detailed->buttons())
            if (b->text() != QStringLiteral("确定"))
                details = qobject_cast<QPushButton*>(b);
        QVERIFY(details);
        QCOMPARE(details->text(), QStringLiteral("显示详细信息…"));
        QTest::mouseClick(details, Qt::LeftButton);
        QCOMPARE(details->text(), QStringLiteral("隐藏详细信息…"));
        detailed->close();
    }

    // A notice with one more button: 确定 stays the default and what Esc and the close box answer.
    void noticeWithAnAction() {
        const auto build = [] {
            return MessageBox::build(nullptr, MessageBox::Notice, QStringLiteral("恢复失败"), {},
                                     QStringLiteral("立即恢复"));
        };
        auto box = build();
        QStringList captions;
        for (QAbstractButton* b : box->buttons())
            captions << b->text();
        captions.sort();
        QCOMPARE(captions, (QStringList{QStringLiteral("确定"), QStringLiteral("立即恢复")}));
        QCOMPARE(box->defaultButton()->text(), QStringLiteral("确定"));

        const auto answered = [&](const std::function<void(QMessageBox&)>& act) {
            box = build();
            box->open();
            if (!QTest::qWaitForWindowExposed(box.get()))
                return MessageBox::Cancel;
            act(*box);
            if (!QTest::qWaitFor([&] { return !box->isVisible(); }))
                return MessageBox::Cancel;
            return MessageBox::answerOf(*box);
        };
        QCOMPARE(answered([](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); }), MessageBox::Ok);
        QCOMPARE(answered([](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); }), MessageBox::Ok);
        QCOMPARE(answered([](QMessageBox& b) { b.close(); }), MessageBox::Ok);
        QCOMPARE(answered([](QMessageBox& b) {
                     QTest::mouseClick(b.findChild<QPushButton*>(QStringLiteral("action")), Qt::LeftButton);
                 }),
                 MessageBox::Action);

        // Through the seam: the action only when queued; a plain notice takes no answer.
        MessageBox::queueAnswers({MessageBox::Action, MessageBox::Cancel});
        MessageBox::notice(nullptr, QStringLiteral("a"));
        QCOMPARE(MessageBox::noticeWithAction(nullptr, QStringLiteral("b"), {}, QStringLiteral("立即恢复")),
                 MessageBox::Action);
        QCOMPARE(MessageBox::noticeWithAction(nullptr, QStringLiteral("c"), {}, QStringLiteral("立即恢复")),
                 MessageBox::Ok);
        QCOMPARE(MessageBox::noticeWithAction(nullptr, QStringLiteral("d"), {}, QStringLiteral("立即恢复")),
                 MessageBox::Ok);
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 4);
        QCOMPARE(shown[0].actionText, QString());
        QCOMPARE(shown[1].kind, MessageBox::Notice);
        QCOMPARE(shown[1].actionText, QStringLiteral("立即恢复"));
    }

    // One font for the program, set at start; no control sets its own.
    void programFont() {
        const QFont before = QApplication::font();
        setUpApplication(*qApp);
        const QFont font = QApplication::font();
        if (QFontDatabase::hasFamily(QStringLiteral("WenQuanYi Zen Hei Sharp"))) {
            QCOMPARE(font.family(), QStringLiteral("WenQuanYi Zen Hei Sharp"));
            QCOMPARE(font.pointSize(), 9);
        }
        QVERIFY(!QApplication::windowIcon().isNull());
        // A display name would be appended to every window title by the platform.
        QCOMPARE(QApplication::applicationDisplayName(), QApplication::applicationName());
        {
            FrmMain w;
            for (QWidget* c : w.findChildren<QWidget*>()) {
                QVERIFY2(c->font().family() == font.family() && c->font().pointSizeF() == font.pointSizeF(),
                         qPrintable(c->objectName()));
            }
        }
        QApplication::setFont(before);
    }

    void messageSeamRecordsAndAnswersInOrder() {
        MessageBox::queueAnswers({MessageBox::Cancel});
        MessageBox::notice(nullptr, QStringLiteral("a"), QStringLiteral("d"));
        QCOMPARE(MessageBox::confirm(nullptr, QStringLiteral("b")), MessageBox::Cancel);
        QCOMPARE(MessageBox::confirm(nullptr, QStringLiteral("c")), MessageBox::Ok);
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown[0].details, QStringLiteral("d"));
        QCOMPARE(shown[1].kind, MessageBox::Confirmation);
        QVERIFY(MessageBox::takeShown().isEmpty());
    }
};

ACCTSET_TEST_CLASS(MainWindowTest)
#include "main_window_test.moc"
