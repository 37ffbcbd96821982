#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QScreen>

#include "app/DesignUnits.h"
#include "app/FrmMain.h"
#include "app/FrmShowDel.h"
#include "app/MessageBox.h"
#include "support/TestMain.h"
#include "support/WindowDriver.h"

namespace {
int colourCount(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                colours.insert(image.pixel(x, y));
    return int(colours.size());
}
}  // namespace

class WaitWindowTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { FrmShowDel::Close(); }

    // Two deletions in a row: each Show builds the window afresh, in its design state.
    void shownTwiceInItsDesignState() {
        QPointer<FrmShowDel> first;
        for (int round = 0; round < 2; ++round) {
            FrmShowDel::Show();
            FrmShowDel* w = FrmShowDel::current();
            QVERIFY(w);
            QVERIFY(QTest::qWaitForWindowExposed(w));
            if (round == 0)
                first = w;
            else
                QVERIFY(!first);  // the first one was destroyed

            QVERIFY(w->isVisible());
            QVERIFY(!w->parentWidget());
            QCOMPARE(w->windowModality(), Qt::NonModal);
            QCOMPARE(w->windowTitle(), MessageBox::appTitle() + QStringLiteral("......"));
            QCOMPARE(w->windowTitle(), QStringLiteral("帐套删除工具......"));

            const int dx = w->logicalDpiX();
            const int dy = w->logicalDpiY();
            QCOMPARE(w->size(), QSize(twipsToPixels(FrmShowDel::kClientWidthTwips, dx),
                                      twipsToPixels(FrmShowDel::kClientHeightTwips, dy)));
            QCOMPARE(w->minimumSize(), w->maximumSize());
            QCOMPARE(w->palette().color(QPalette::Window), QColor(192, 192, 255));

            QLabel* label = w->Label1;
            QCOMPARE(label->text(), QStringLiteral("正在执行删除操作，请等待............"));
            QCOMPARE(label->geometry(), twipsRect(300, 150, 4200, 300, dx, dy));
            // Wider than the window: the client edge cuts it off.
            QVERIFY(label->geometry().right() > w->rect().right());
            QCOMPARE(label->palette().color(QPalette::Window), QColor(192, 192, 255));
            QCOMPARE(label->focusPolicy(), Qt::NoFocus);
            QCOMPARE(label->font().pointSizeF(), 10.8);
            QCOMPARE(label->font().weight(), QFont::Normal);
            QVERIFY(!label->font().italic() && !label->font().underline() && !label->font().strikeOut());
            QVERIFY(!FrmShowDel::captionFontFamily().isEmpty());
            QCOMPARE(QFontInfo(label->font()).family(), FrmShowDel::captionFontFamily());

            const QPoint centre = w->screen()->availableGeometry().center();
            QVERIFY(qAbs(w->frameGeometry().center().x() - centre.x()) <= 1);
            QVERIFY(qAbs(w->frameGeometry().center().y() - centre.y()) <= 1);

            const QIcon icon = w->windowIcon();
            for (int side : {16, 32}) {
                QVERIFY(icon.availableSizes().contains(QSize(side, side)));
                const int colours = colourCount(icon.pixmap(side, side).toImage());
                QVERIFY(colours <= 16 && colours >= 4);
            }

            FrmShowDel::Close();
            QVERIFY(!FrmShowDel::current());
        }
    }

    void showWhileShownKeepsOneWindow() {
        FrmShowDel::Show();
        FrmShowDel* w = FrmShowDel::current();
        FrmShowDel::Show();
        QCOMPARE(FrmShowDel::current(), w);
        QCOMPARE(QApplication::topLevelWidgets().count(w), 1);
    }

    // The operator closing it first leaves the deletion's own Close nothing to do.
    void closeIsHarmlessOnceGone() {
        FrmShowDel::Close();
        FrmShowDel::Show();
        QPointer<FrmShowDel> w = FrmShowDel::current();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->close();
        QTRY_VERIFY(!w);
        QVERIFY(!FrmShowDel::current());
        FrmShowDel::Close();
        FrmShowDel::Close();
    }

    // Not modal: the main window stays usable and can come to the front.
    void mainWindowStaysUsable() {
        WindowDriver d;
        FrmMain& main = d.window();
        QVERIFY(d.show());
        FrmShowDel::Show();
        QVERIFY(QTest::qWaitForWindowExposed(FrmShowDel::current()));
        main.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &main);
        QVERIFY(!QApplication::activeModalWidget());
        WindowInput::typeText(main.txtSqlSrvName, QStringLiteral("srv"));
        QCOMPARE(main.txtSqlSrvName->text(), QStringLiteral("srv"));
        QVERIFY(FrmShowDel::current()->isVisible());
    }
};

ACCTSET_TEST_CLASS(WaitWindowTest)
#include "wait_window_test.moc"
