// A close asked for by the window manager (Alt+F4, the frame's close box) while the window waits
// for the server or runs a deletion: carried out once that work has ended and its boxes are
// answered. The boxes are put up modal, as shown boxes block the window the close is for.
#include <QtTest>

#include <QLineEdit>

#include "app/FrmMain.h"
#include "app/FrmShowDel.h"
#include "app/MessageBox.h"
#include "sandbox/Sandbox.h"
#include "support/ExpectedText.h"
#include "support/FakeSqlClient.h"
#include "support/TestMain.h"
#include "support/WindowDriver.h"

using namespace Expected;

class CloseRequestTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        MessageBox::setTestMode(true);
        MessageBox::setTestModal(true);
    }
    void cleanup() {
        MessageBox::setTestMode(false);
        FrmShowDel::Close();
    }

    // Asked for while the catalogue is purged: the deletion runs once, its outcome is shown,
    // then the window goes.
    void duringTheDeletion() {
        QTemporaryDir undoDir;  // the undo script goes here, not into the Documents folder
        qputenv("ACCTSET_UNDO_DIR", undoDir.path().toUtf8());
        auto script = std::make_shared<FakeScript>();
        WindowDriver d(script);
        FrmMain& w = d.window();
        QVERIFY(d.show());

        QList<QVariantList> tables;
        for (const QString& t : kPurgeTables)
            tables << QVariantList{t};
        script->answer(kTables, FakeScript::rows({"name"}, tables));
        script->answer(kList, FakeScript::rows({"cacc_id", "cacc_name"}, {{"001", "甲"}}));
        // What the undo script reads before anything changes: one column, no rows.
        script->answerMatching(".* from sys\\.columns .*",
                               FakeScript::rows({"name", "type", "is_identity", "is_computed"},
                                                {{"cacc_id", "nvarchar", 0, 0}}));
        script->answerMatching("select \\* from \\w+ where .*", FakeScript::rows({"cacc_id"}, {}));
        static const QRegularExpression lookup001(
            QStringLiteral("(?i)^select \\* from ua_account where cacc_id='001'$"));
        bool purged = false;
        bool asked = false;
        script->onStatement = [&](const QString& sql) {
            if (FrmShowDel::current() && !asked) {
                asked = true;
                d.closeFromWindowManager();
            }
            if (sql.startsWith(QLatin1String("DELETE FROM UA_account "), Qt::CaseInsensitive))
                purged = true;
            if (lookup001.match(sql).hasMatch()) {
                const QList<QVariantList> row{{"001", "甲"}};
                script->answer(
                    sql, FakeScript::rows({"cacc_id", "cacc_name"}, purged ? QList<QVariantList>{} : row), 1);
            }
        };

        d.connectAs(QStringLiteral("srv"));
        d.prepareDelete(QStringLiteral("001"));
        QVERIFY(MessageBox::takeShown().isEmpty());
        d.pressDelete();
        QVERIFY(asked);
        const auto shown = MessageBox::takeShown();
        QVERIFY(!shown.isEmpty());
        QCOMPARE(shown.last().text, QStringLiteral("空帐套号001已成功删除!"));
        QCOMPARE(
            script->log.filter(QRegularExpression(QStringLiteral("(?i)^delete from ua_account "))).size(), 1);
        QCOMPARE(script->log.last(), kList);
        QTRY_VERIFY(!w.isVisible());
        QVERIFY(!FrmShowDel::current());
    }

    // Asked for while the connect waits for a slow or silent server.
    void duringTheConnect_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<bool>("connects");
        QTest::newRow("slow, refused") << "wrong" << false << false;
        QTest::newRow("slow, accepted") << "sandbox" << false << true;
        QTest::newRow("silent") << "sandbox" << true << false;
    }
    void duringTheConnect() {
        QFETCH(QString, password);
        QFETCH(bool, silent);
        QFETCH(bool, connects);
        sandbox::Server server;
        std::string error;
        QVERIFY2(server.start(&error), error.c_str());
        server.engine().seedDemo();
        server.setRoundTripDelay(std::chrono::milliseconds(100));
        server.setNeverAnswer(silent);

        WindowDriver d;
        FrmMain& w = d.window();
        QVERIFY(d.show());
        // Asked for as soon as the connect waits for the server.
        connect(&w, &FrmMain::eventRaised, &w, [&d](const QString& rule) {
            if (rule == QLatin1String("CmdLink_Click"))
                QTimer::singleShot(0, [&d] { d.closeFromWindowManager(); });
        });
        d.connectAs(QString::fromStdString(server.serverName()), password);

        const auto shown = MessageBox::takeShown();
        if (connects) {
            QVERIFY(shown.isEmpty());
            QCOMPARE(w.ComAccList->count(), 4);
        } else {
            QCOMPARE(shown.size(), 1);
            QCOMPARE(shown[0].text, kConnectFailed);
        }
        QTRY_VERIFY(!w.isVisible());
    }
};

ACCTSET_TEST_CLASS(CloseRequestTest)
#include "close_request_test.moc"
