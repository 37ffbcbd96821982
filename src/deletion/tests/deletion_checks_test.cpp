// The checks before the first drop, without a window: sessions using a database, its state and hazards,
// and a lock another session holds, each stopping or failing the run with the holder named.
#include "RunFixture.h"
#include "support/TestMain.h"

using namespace runtest;

class DeletionChecksTest : public QObject, public RunFixture {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(setUpOnce()); }
    void init() { setUp(); }

    // One line per session, however many lock rows (parallel workers) and databases it has.
    void databaseInUseIsNamedWithItsSessions() {
        const QVariantList report{53, "sa", "PC-ACCT01", "报表工具"};
        inst.sessions["tqdata_001_2003"] = {report, report, {61, "li", "PC-2", "tsql"}};
        inst.sessions["tqdata_001_2002"] = {report};
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Stopped);
        QVERIFY(host->previewDetails.contains("tqdata_001_2003: 20.0 MB, ONLINE, 2 个连接"));
        QCOMPARE(host->shown.last(),
                 "以下数据库正在被其他连接使用,删除操作已停止,没有删除任何数据!\n"
                 "会话53(登录名 sa, 主机 PC-ACCT01, 程序 报表工具) "
                 "正在使用数据库tqdata_001_2002、tqdata_001_2003\n"
                 "会话61(登录名 li, 主机 PC-2, 程序 tsql) 正在使用数据库tqdata_001_2003\n"
                 "请断开这些连接后重试。");
        verifyUntouched();
    }

    // Someone comes in between the sessions' check and the claims: the claim fails at once, the
    // databases already claimed are given back, nothing is dropped, and the sessions are named.
    void failedClaimGivesBackAndDropsNothing() {
        const QString claim2003 = "alter database [tqdata_001_2003] set single_user with no_wait";
        script->onStatement = [&](const QString& sql) {
            if (sql == claim2003) {
                inst.sessions["tqdata_001_2003"] = {{64, "wang", "PC-3", "报表工具"}};
                inst.failures[claim2003] =
                    FakeInstallation::serverError(5061,
                                                  "ALTER DATABASE failed because a lock could not be placed "
                                                  "on database 'tqdata_001_2003'.");
            }
            script->answer(sql, inst.answer(sql), 1);
        };
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Stopped);
        const QStringList log = script->log;
        QCOMPARE(log.mid(log.indexOf(claim2003) + 1, 1),
                 QStringList{"alter database [tqdata_001_2002] set multi_user"});
        QVERIFY(!log.join('\n').contains("drop database"));
        QCOMPARE(host->shown.last(),
                 "无法独占数据库tqdata_001_2003,删除操作已停止,没有删除任何数据!\n正在使用的连接:\n"
                 "会话64(登录名 wang, 主机 PC-3, 程序 报表工具) "
                 "正在使用数据库tqdata_001_2003\n请断开这些连接后重试。");
        QVERIFY(host->lastDetails.contains("(5061)"));
        verifyUntouched();
    }

    // Every hazard found in the one check before the first drop stops the run, each database
    // named with its reasons, the server's values in the details.
    void hazardsStopBeforeAnyDrop_data() {
        QTest::addColumn<QString>("hazard");
        QTest::addColumn<QString>("reason");
        QTest::newRow("snapshot") << "snapshot"
                                  << "是数据库快照tqdata_001_2003_snap的源数据库,须先删除快照";
        QTest::newRow("published") << "published"
                                   << "已发布用于复制";
        QTest::newRow("merge") << "merge"
                               << "已发布用于合并复制";
        QTest::newRow("subscribed") << "subscribed"
                                    << "是复制的订阅数据库";
        QTest::newRow("mirrored") << "mirrored"
                                  << "已配置数据库镜像(PRINCIPAL)";
        QTest::newRow("availability group") << "ag"
                                            << "属于可用性组";
        QTest::newRow("restoring") << "RESTORING"
                                   << "正在还原(RESTORING)";
        QTest::newRow("recovering") << "RECOVERING"
                                    << "正在恢复(RECOVERING)";
        QTest::newRow("suspect") << "SUSPECT"
                                 << "置疑(SUSPECT)";
        QTest::newRow("emergency") << "EMERGENCY"
                                   << "紧急模式(EMERGENCY)";
        QTest::newRow("single user, taken") << "single"
                                            << "单用户模式(SINGLE_USER),已被其他会话占用: 会话70";
        QTest::newRow("gone since the existence check") << "gone"
                                                        << "服务器上已找不到该数据库";
    }
    void hazardsStopBeforeAnyDrop() {
        QFETCH(QString, hazard);
        QFETCH(QString, reason);
        const QString db = "tqdata_001_2003";
        if (hazard == "snapshot")
            inst.snapshots[db + "_snap"] = db;
        else if (hazard == "published")
            inst.published << db;
        else if (hazard == "merge")
            inst.mergePublished << db;
        else if (hazard == "subscribed")
            inst.subscribed << db;
        else if (hazard == "mirrored")
            inst.mirrored << db;
        else if (hazard == "ag")
            inst.inAvailabilityGroup << db;
        else if (hazard == "single") {
            inst.singleUser << db;
            inst.sessions[db] = {{70, "sa", "DBA-PC", "Management Studio"}};
        } else if (hazard == "gone") {
            script->onStatement = [&](const QString& sql) {
                if (sql.startsWith(kVersion))
                    inst.databases.removeAll(db);
                script->answer(sql, inst.answer(sql), 1);
            };
        } else
            inst.states[db] = hazard;
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Stopped);
        const QString notice = host->shown.last();
        QVERIFY2(notice.startsWith("以下年度数据库目前不能删除,删除操作已停止,没有删除任何数据!\n数据库" +
                                   db + ": ") &&
                     notice.contains(reason) && !notice.contains("tqdata_001_2002"),
                 qPrintable(notice));
        if (hazard != "gone")
            QVERIFY2(host->lastDetails.startsWith(db + ": state_desc="), qPrintable(host->lastDetails));
        verifyUntouched();
    }

    // 2008 R2 has no replica_id: the check must not name it there.
    void availabilityGroupsAreAskedOfThoseThatHaveThem_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("asked");
        QTest::newRow("2008 R2") << "10.50.6000.34" << false;
        QTest::newRow("2012") << "11.0.7001.0" << true;
        QTest::newRow("2022") << "16.0.1000.6" << true;
        QTest::newRow("unreadable") << "" << true;
    }
    void availabilityGroupsAreAskedOfThoseThatHaveThem() {
        QFETCH(QString, version);
        QFETCH(bool, asked);
        inst.version = version;
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Succeeded);
        QVERIFY(script->log.contains(
            checksOf({"tqdata_001_2002", "tqdata_001_2003"}, asked).split(";\n").first()));
    }

    // OFFLINE is flagged before the first confirmation, which says it cannot be backed up and its
    // files would stay; with backups chosen the run stops before the first backup, without them its
    // files are named after the drop. A single-user database nobody else holds is no hazard.
    void offlineDatabaseIsFlaggedAndItsFilesNamed() {
        inst.states["tqdata_001_2003"] = "OFFLINE";
        inst.singleUser << "tqdata_001_2002";
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Stopped);
        QVERIFY2(host->previewDetails.contains(
                     "tqdata_001_2003: 20.0 MB, OFFLINE(注意: 数据库未联机), 无其他连接"),
                 qPrintable(host->previewDetails));
        QVERIFY(host->previewDetails.contains(
            "注意: 以下数据库处于脱机状态(OFFLINE),无法备份;删除后其数据文件仍留在"
            "服务器的磁盘上:\n    tqdata_001_2003"));
        QCOMPARE(
            host->shown.last(),
            "以下数据库处于脱机状态(OFFLINE),无法备份,删除操作已停止,没有删除任何数据!\ntqdata_001_2003\n"
            "请先在服务器上使其联机(ONLINE),或不选择备份后重试。");
        QVERIFY(!script->log.join('\n').contains("BACKUP DATABASE"));
        QVERIFY(inst.accounts.contains("001"));

        host->backupsChosen = false;
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Succeeded);
        // Only the database someone could be in is claimed.
        QVERIFY(script->log.contains("alter database [tqdata_001_2002] set single_user with no_wait"));
        QVERIFY(!script->log.join('\n').contains("alter database [tqdata_001_2003]"));
        QCOMPARE(host->shown.last(),
                 "帐套001(2002;2003年)已成功删除!\n注意: 以下数据库删除时处于脱机状态(OFFLINE),"
                 "其数据文件仍留在服务器的磁盘上,需要手工删除:\ntqdata_001_2003:\n"
                 "    D:\\Data\\tqdata_001_2003.mdf\n    E:\\Log\\tqdata_001_2003_log.ldf");
        // Read while the server still listed it, before any drop.
        const qsizetype files = script->log.indexOf(QRegularExpression(".*from sys\\.master_files.*"));
        QVERIFY(files >= 0);
        QVERIFY(files < script->log.indexOf("drop database [tqdata_001_2002]"));
        const QString filesQuery = script->log.at(files);
        QVERIFY(!filesQuery.contains("tqdata_001_2002"));

        // Paths that cannot be read still leave the database named.
        init();
        host->backupsChosen = false;
        inst.states["tqdata_001_2003"] = "OFFLINE";
        inst.failures[filesQuery] = FakeInstallation::serverError(229, "The SELECT permission was denied.");
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Succeeded);
        QVERIFY2(host->shown.last().endsWith("需要手工删除:\ntqdata_001_2003(未能读取其文件路径)"),
                 qPrintable(host->shown.last()));
    }

    // A preview or a check that waits out a lock stops before anything changes, naming who held
    // it; a purge that does is rolled back and reported, never claimed.
    void lockTimeOuts_data() {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("holder");  // "lock", "transaction" or none
        const QString count = "select count(*) from UA_log where cacc_id='001'";
        const QString purge = "DELETE FROM UA_log WHERE cacc_id = '001'";
        QTest::newRow("preview count") << count << "lock";
        QTest::newRow("existence check")
            << "select * from master.dbo.sysdatabases where name='tqdata_001_2002'"
            << "lock";
        QTest::newRow("purge") << purge << "lock";
        QTest::newRow("purge, lock rows not listed") << purge << "transaction";
        QTest::newRow("purge, holder gone") << purge << "";
    }
    void lockTimeOuts() {
        QFETCH(QString, failing);
        QFETCH(QString, holder);
        inst.failures[failing] =
            FakeInstallation::serverError(1222, "Lock request time out period exceeded.");
        const QVariantList session{58, "sa", "PC-FIN3", "帐务处理"};
        inst.openTransactions = {{60, "sa", "PC-X", "x"}};
        if (holder == "lock")
            inst.lockHolders = {session};
        else if (holder == "transaction")
            inst.openTransactions << session;
        else
            inst.openTransactions.clear();
        const bool purge = failing.startsWith("DELETE");
        QCOMPARE(run(request("001", "2002")), purge ? Outcome::Failed : Outcome::Stopped);
        const QString named = holder == "lock"
                                  ? "占用锁的会话:\n会话58(登录名 sa, 主机 PC-FIN3, 程序 帐务处理)"
                              : holder == "transaction"
                                  ? "持有未提交事务的会话(占用锁的会话在其中):\n会话60(登录名 sa, 主机 PC-X, "
                                    "程序 x)\n会话58(登录名 sa, 主机 PC-FIN3, 程序 帐务处理)"
                                  : "占用锁的会话在查询时已经结束,无法查明是哪个会话。";
        const QString notice = host->shown.last();
        // The purge failed after the way back was kept: its details name the script and backups too.
        QVERIFY2(host->lastDetails.startsWith("Lock request time out period exceeded. (1222)"),
                 qPrintable(host->lastDetails));
        QVERIFY(inst.accounts.contains("001"));
        if (!purge) {
            QCOMPARE(notice, "等待其他会话释放锁超时,删除操作已停止,没有删除任何数据!\n" + named);
            QCOMPARE(host->confirmations, failing.startsWith("select count") ? 0 : 2);
            verifyUntouched();
            return;
        }
        QVERIFY2(
            notice.startsWith(kDeleteFailed + "\n等待其他会话释放锁超时,系统数据库中的删除已全部撤销。\n" +
                              named + "\n以下年度数据库已删除,可以用它们的备份和撤销脚本恢复(撤销脚本: "),
            qPrintable(notice));
        // The holders are asked for at once, before anything else is sent. The rollback settles
        // the catalogue, so nothing of it is read again (that would wait out the same lock once
        // more): only whether the dropped database is gone.
        const qsizetype failed = script->log.indexOf(failing);
        QVERIFY(script->log.at(failed + 1).contains("open_tran>0"));
        QVERIFY(script->log.at(failed + 2).contains("sys.dm_tran_locks"));
        QCOMPARE(script->log.at(failed + 3), "ROLLBACK TRANSACTION");
        QCOMPARE(script->log.mid(failed + 4, 1),
                 QStringList{"select name from master.dbo.sysdatabases where name in ('tqdata_001_2002')"});
    }
};

ACCTSET_TEST_CLASS(DeletionChecksTest)
#include "deletion_checks_test.moc"
