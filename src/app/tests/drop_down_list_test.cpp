// The account list open: as wide as its widest item within the screen, the closed box unchanged.
#include <QtTest>

#include <QAbstractItemView>
#include <QScreen>

#include "app/DropDownList.h"
#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "support/ExpectedText.h"
#include "support/FakeSqlClient.h"
#include "support/TestMain.h"
#include "support/WindowDriver.h"

namespace {

QWidget* openList(FrmMain& w) {
    w.ComAccList->setFocus();
    QTest::keyClick(w.ComAccList, Qt::Key_F4);
    QAbstractItemView* view = w.ComAccList->view();
    return QTest::qWaitFor([view] { return view->isVisible(); }) ? view->window() : nullptr;
}

// Drawn whole: the row is at least as wide as the item asks for, so nothing is elided.
bool drawnWhole(QAbstractItemView* view, int row) {
    const QModelIndex index = view->model()->index(row, 0);
    return view->visualRect(index).width() >= view->sizeHintForIndex(index).width();
}

}  // namespace

class DropDownListTest : public QObject {
    Q_OBJECT

    std::shared_ptr<FakeScript> script;
    std::unique_ptr<WindowDriver> drive;

    // A connected window listing these account sets.
    FrmMain& listing(const QList<QVariantList>& accounts) {
        script = std::make_shared<FakeScript>();
        script->answer(Expected::kList, FakeScript::rows({"cacc_id", "cacc_name"}, accounts));
        drive = std::make_unique<WindowDriver>(script);
        if (!drive->show())
            qWarning("window not active");
        drive->connectAs(QStringLiteral("srv"));
        return drive->window();
    }

private slots:
    void init() { MessageBox::setTestMode(true); }
    void cleanup() {
        drive.reset();
        MessageBox::setTestMode(false);
    }

    void longNamesAreShownWhole() {
        const QString longName = QStringLiteral("北京市海淀区中关村科技园区某某某某信息技术股份有限责任公司");
        FrmMain& w = listing({{"001", "甲"}, {"39991", longName}, {"002", "乙"}});
        const QRect closed = w.ComAccList->geometry();
        QWidget* popup = openList(w);
        QVERIFY(popup);
        QAbstractItemView* view = w.ComAccList->view();
        const int needed = view->fontMetrics().horizontalAdvance(QStringLiteral("39991(") + longName + ')');
        QVERIFY2(popup->width() > closed.width() && view->viewport()->width() >= needed,
                 qPrintable(QStringLiteral("%1 < %2").arg(view->viewport()->width()).arg(needed)));
        for (int row = 0; row < 3; ++row)
            QVERIFY(drawnWhole(view, row));
        // Under the field from where it starts, moved left only as far as the screen needs.
        const QRect screen = w.screen()->availableGeometry();
        QVERIFY(screen.contains(popup->geometry()));
        const int fieldLeft = w.ComAccList->mapToGlobal(QPoint(0, 0)).x();
        QCOMPARE(popup->geometry().left(), qMin(fieldLeft, screen.right() + 1 - popup->width()));

        // Chosen from the widened list, the item fills the field of the design size.
        w.ComAccList->hidePopup();
        QVERIFY(drive->choose(1));
        QCOMPARE(w.ComAccList->geometry(), closed);
        QCOMPARE(w.ComAccList->currentText(), QStringLiteral("39991(") + longName + ')');
    }

    // Wider than the screen: as wide as the screen, and on it.
    void neverBeyondTheScreen() {
        FrmMain& w = listing({{"001", QString(400, QChar(0x6D4B))}});
        const QRect screen = w.screen()->availableGeometry();
        QWidget* popup = openList(w);
        QVERIFY(popup);
        QCOMPARE(popup->width(), screen.width());
        QVERIFY(screen.contains(popup->geometry()));
        w.ComAccList->hidePopup();
    }

    // Short names keep the list as wide as the field.
    void shortNamesKeepTheFieldsWidth() {
        FrmMain& w = listing({{"001", "甲"}, {"002", "乙"}});
        const QRect closed = w.ComAccList->geometry();
        QWidget* popup = openList(w);
        QVERIFY(popup);
        QCOMPARE(popup->width(), closed.width());
        w.ComAccList->hidePopup();
        QCOMPARE(w.ComAccList->geometry(), closed);
    }
};

ACCTSET_TEST_CLASS(DropDownListTest)
#include "drop_down_list_test.moc"
