// BACKUP DATABASE, RESTORE VERIFYONLY, HEADERONLY, FILELISTONLY and RESTORE DATABASE: files, messages,
// progress, cancel, history.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <thread>

#include "sandbox/Sandbox.h"
#include "support/TestMain.h"

using namespace sandbox;

namespace {

QStringList messages(const BatchResult& r) {
    QStringList out;
    for (const auto& p : r.pieces)
        for (const auto& m : p.messages)
            out << QString("%1|%2").arg(m.number).arg(QString::fromStdString(m.text));
    return out;
}

std::vector<std::string> rowsOf(Engine& e, const std::string& db) {
    return e.queryRaw(
        "SELECT "
        "d.dbid||'|'||d.name||'|'||d.status||'|'||d.crdate||'|'||d.filename||'|'||d.state||'|'||f.fileid||'|'"
        "||"
        "f.name||'|'||f.filename||'|'||f.size FROM sandbox_databases d JOIN sandbox_files f ON f.dbid = "
        "d.dbid "
        "WHERE d.name = '" +
        db + "' ORDER BY f.fileid");
}

// The named column of the first result set's first row, as text ("NULL" for Null).
QString cell(const BatchResult& r, const char* column, size_t row = 0) {
    for (const auto& p : r.pieces) {
        if (!p.result)
            continue;
        for (size_t i = 0; i < p.result->columns.size(); ++i) {
            if (p.result->columns[i].name != column)
                continue;
            if (row >= p.result->rows.size())
                return "no row";
            const Value& v = p.result->rows[row][i];
            const ColType t = p.result->columns[i].type;
            if (v.null)
                return "NULL";
            if (t == ColType::NVarChar || t == ColType::DateTime || t == ColType::Decimal)
                return QString::fromStdString(v.text);
            return QString::number(v.i);
        }
        return "no column";
    }
    return "no result";
}

QStringList columnNames(const BatchResult& r) {
    QStringList out;
    for (const auto& p : r.pieces)
        if (p.result)
            for (const auto& c : p.result->columns)
                out << QString::fromStdString(c.name);
    return out;
}

uint64_t fnv64(const QByteArray& s) {
    uint64_t h = 14695981039346656037ull;
    for (char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return h;
}

struct Fixture {
    QTemporaryDir dir;
    Engine engine;
    std::unique_ptr<Session> s;
    Fixture() {
        engine.seedDemo();
        engine.setBackupDirectory(dir.path().toStdString());
        s = engine.openSession("master");
    }
    BatchResult run(const std::string& sql) { return engine.execBatch(*s, sql); }
    std::string file(const char* name) { return dir.filePath(name).toStdString(); }
    std::string state(const std::string& db) {
        auto r = run("select state_desc from sys.databases where name = '" + db + "'");
        return r.pieces[0].result->rows.empty() ? "gone" : r.pieces[0].result->rows[0][0].text;
    }
    BatchResult backup(const std::string& path, const std::string& db = "tqdata_001_2002") {
        return run("BACKUP DATABASE [" + db + "] TO DISK = N'" + path + "' WITH COPY_ONLY, CHECKSUM, INIT");
    }
};

}  // namespace

class SandboxBackupTest : public QObject {
    Q_OBJECT

private slots:
    // The cycle the tool and its undo script go through: each step's messages, and the rows as they were.
    // A name as a DBA types it on Windows lands beneath the backup directory, never beside the
    // server nor outside that directory, and RESTORE finds it again by the same name.
    void windowsDeviceNamesMapBeneathTheBackupDirectory_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("mkdir");  // folders that exist beneath the backup directory
        QTest::addColumn<QString>("file");   // where it lands, relative to it
        QTest::newRow("drive") << R"(C:\Backup\x.bak)"
                               << "C/Backup"
                               << "C/Backup/x.bak";
        QTest::newRow("drive root, lower case") << R"(d:\x.bak)"
                                                << ""
                                                << "D/x.bak";
        QTest::newRow("share") << R"(\\nas\sql\x.bak)"
                               << ""
                               << "UNC/nas/sql/x.bak";
        QTest::newRow("relative") << R"(old\x.bak)"
                                  << "old"
                                  << "old/x.bak";
        QTest::newRow("dot-dot stays inside") << R"(C:\..\..\x.bak)"
                                              << ""
                                              << "C/x.bak";
    }
    void windowsDeviceNamesMapBeneathTheBackupDirectory() {
        QFETCH(QString, device);
        QFETCH(QString, mkdir);
        QFETCH(QString, file);
        Fixture f;
        if (!mkdir.isEmpty())
            QVERIFY(QDir(f.dir.path()).mkpath(mkdir));
        QCOMPARE(messages(f.backup(device.toStdString())).size(), 3);
        QVERIFY2(QFile::exists(f.dir.filePath(file)), qPrintable(file));
        QCOMPARE(messages(f.run("RESTORE VERIFYONLY FROM DISK = N'" + device.toStdString() + "'")),
                 QStringList({"3262|The backup set on file 1 is valid."}));
        QCOMPARE(QDir::current().entryList({"*x.bak"}), QStringList());
    }

    // A folder beneath the drive that does not exist is an error, as on a server.
    void missingWindowsFolderFails() {
        Fixture f;
        QVERIFY(
            messages(f.backup(R"(C:\NoSuch\x.bak)")).value(0).startsWith("3201|Cannot open backup device"));
    }

    void backupVerifyDropRestore() {
        Fixture f;
        const auto before = rowsOf(f.engine, "tqdata_001_2002");
        const std::string path = f.file("tqdata_001_2002_20260101.bak");
        QStringList m = messages(f.backup(path));
        QCOMPARE(m.size(), 3);
        QCOMPARE(m[0],
                 "4035|Processed 1408 pages for database 'tqdata_001_2002', file 'tqdata_001_2002_Data' on "
                 "file 1.");
        QVERIFY(m[2].startsWith("3014|BACKUP DATABASE successfully processed 1664 pages in "));
        QVERIFY(m[2].endsWith(" MB/sec)."));
        QCOMPARE(messages(f.run("RESTORE VERIFYONLY FROM DISK = N'" + path + "' WITH CHECKSUM")),
                 QStringList({"3262|The backup set on file 1 is valid."}));
        QVERIFY(messages(f.run("DROP DATABASE tqdata_001_2002")).isEmpty());
        QVERIFY(rowsOf(f.engine, "tqdata_001_2002").empty());
        m = messages(f.run("RESTORE DATABASE [tqdata_001_2002] FROM DISK = N'" + path + "' WITH RECOVERY"));
        QVERIFY(m.last().startsWith("3014|RESTORE DATABASE successfully processed 1664 pages in "));
        QCOMPARE(rowsOf(f.engine, "tqdata_001_2002"), before);
        // Over an existing database only WITH REPLACE; a bare name goes into the backup directory.
        m = messages(f.run("RESTORE DATABASE [tqdata_001_2002] FROM DISK = N'" + path + "'"));
        QVERIFY(m[0].startsWith(
            "3159|The tail of the log for the database \"tqdata_001_2002\" has not been backed up."));
        QCOMPARE(m[1], "3013|RESTORE DATABASE is terminating abnormally.");
        QVERIFY(messages(f.backup("bare.bak", "tqdata_001_2003"))[0].startsWith("4035|"));
        QVERIFY(QFile::exists(f.dir.filePath("bare.bak")));
        QCOMPARE(messages(f.run("RESTORE DATABASE [tqdata_001_2002] FROM DISK = N'bare.bak'"))[0],
                 "3154|The backup set holds a backup of a database other than the existing 'tqdata_001_2002' "
                 "database.");
        QVERIFY(messages(f.run("RESTORE DATABASE [tqdata_001_2002] FROM DISK = N'" + path + "' WITH REPLACE"))
                    .last()
                    .startsWith("3014|"));
        QCOMPARE(rowsOf(f.engine, "tqdata_001_2002"), before);
    }

    void failuresLeaveNoFile() {
        Fixture f;
        const std::string missing = f.file("no/such/dir/x.bak");
        QCOMPARE(
            messages(f.backup(missing)),
            QStringList({QString::fromStdString("3201|Cannot open backup device '" + missing +
                                                "'. Operating system error 3(The system cannot find the path "
                                                "specified.)."),
                         "3013|BACKUP DATABASE is terminating abnormally."}));
        QVERIFY(!QFile::exists(QString::fromStdString(missing)));
        QCOMPARE(messages(f.backup(f.file("x.bak"), "nosuchdb"))[0],
                 "911|Database 'nosuchdb' does not exist. Make sure that the name is entered correctly.");
        QCOMPARE(messages(f.run("BEGIN TRAN BACKUP DATABASE tqdata_001_2002 TO DISK = N'y.bak'"))[0],
                 "3021|Cannot perform a backup or restore operation within a transaction.");
        f.run("ROLLBACK");
        QVERIFY(!QFile::exists(f.dir.filePath("y.bak")));
        // A verify of a file that is not there.
        QCOMPARE(messages(f.run("RESTORE VERIFYONLY FROM DISK = N'" + f.file("gone.bak") + "'")).last(),
                 "3013|VERIFY DATABASE is terminating abnormally.");
    }

    // A byte changed anywhere, or the end cut off, fails the checksum; a file of another kind is no backup.
    void damagedFilesFailVerify() {
        Fixture f;
        const std::string path = f.file("d.bak");
        f.backup(path);
        QFile file(QString::fromStdString(path));
        QVERIFY(file.open(QIODevice::ReadWrite));
        const QByteArray good = file.readAll();
        for (qsizetype at : {qsizetype(40), good.size() / 2, good.size() - 5}) {
            QByteArray bad = good;
            bad[at] = static_cast<char>(bad[at] ^ 0x5A);
            file.seek(0);
            file.write(bad);
            file.flush();
            QCOMPARE(messages(f.run("RESTORE VERIFYONLY FROM DISK = N'" + path + "' WITH CHECKSUM")),
                     QStringList({"3189|Damage to the backup set was detected.",
                                  "3013|VERIFY DATABASE is terminating abnormally."}));
        }
        file.resize(good.size() - 100);
        QCOMPARE(messages(f.run("RESTORE DATABASE tqdata_009 FROM DISK = N'" + path + "'"))[0],
                 "3189|Damage to the backup set was detected.");
        QVERIFY(!f.engine.databaseExists("tqdata_009"));
        file.resize(0);
        file.write("not a backup");
        file.close();
        QVERIFY(messages(f.run("RESTORE VERIFYONLY FROM DISK = N'" + path + "'"))[0].startsWith("3241|"));
    }

    // percent_complete of the backing-up session, read by another, rises while the backup runs.
    void progressRisesAndCancelLeavesNoFile() {
        Fixture f;
        f.engine.setBackupSpeed(3000);  // 1536 pages: about half a second
        auto watcher = f.engine.openSession("master");
        const std::string path = f.file("slow.bak");
        std::atomic<bool> done{false};
        std::thread t([&] {
            f.backup(path);
            done = true;
        });
        QList<double> seen;
        const std::string q = "select percent_complete from sys.dm_exec_requests where session_id = " +
                              std::to_string(f.s->spid);
        while (!done) {
            auto r = f.engine.execBatch(*watcher, q);
            if (!r.pieces[0].result->rows.empty())
                seen << r.pieces[0].result->rows[0][0].f;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        t.join();
        QVERIFY2(seen.size() >= 3, "the backup was seen running");
        QVERIFY(seen.last() > seen.first());
        QVERIFY(QFile::exists(QString::fromStdString(path)));

        // Cancelled half-way, by the client (Attention) or by KILL: no file left.
        for (int how = 0; how < 2; ++how) {
            const std::string cut = f.file(how ? "killed.bak" : "attention.bak");
            std::atomic<bool> stop{false};
            f.s->interrupted = [&] { return how == 0 && stop.load(); };
            BatchResult r;
            std::thread b([&] { r = f.backup(cut); });
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            QVERIFY(QFile::exists(QString::fromStdString(cut)));  // being written
            if (how == 0)
                stop = true;
            else
                f.engine.cancelRunning(f.s->spid);
            b.join();
            QVERIFY(how == 0 ? r.cancelled : r.killed);
            QVERIFY(!QFile::exists(QString::fromStdString(cut)));
        }
        f.s->interrupted = nullptr;
    }

    // What HEADERONLY and FILELISTONLY report, for the release played: its documented columns in
    // their order, and the facts of the backup and of its database.
    void headerAndFileListDescribeTheBackup_data() {
        QTest::addColumn<bool>("r2008");
        QTest::addColumn<int>("headerColumns");
        QTest::addColumn<int>("fileColumns");
        QTest::newRow("2019") << false << 56 << 22;
        QTest::newRow("2008 R2") << true << 52 << 21;
    }
    void headerAndFileListDescribeTheBackup() {
        QFETCH(bool, r2008);
        QFETCH(int, headerColumns);
        QFETCH(int, fileColumns);
        Fixture f;
        if (r2008) {
            Product p;
            p.version = "10.50.6542.0";
            p.databaseVersion = 661;
            f.engine.setProduct(p);
        }
        auto op = f.engine.openSession("master", "backup_operator");
        const std::string path = f.file("h.bak");
        f.engine.execBatch(*op, "BACKUP DATABASE [tqdata_001_2003] TO DISK = N'" + path +
                                    "' WITH COPY_ONLY, CHECKSUM, INIT");
        auto h = f.run("RESTORE HEADERONLY FROM DISK = N'" + path + "' WITH NOUNLOAD");
        QCOMPARE(columnNames(h).size(), headerColumns);
        QCOMPARE(columnNames(h).mid(0, 13),
                 QStringList({"BackupName", "BackupDescription", "BackupType", "ExpirationDate", "Compressed",
                              "Position", "DeviceType", "UserName", "ServerName", "DatabaseName",
                              "DatabaseVersion", "DatabaseCreationDate", "BackupSize"}));
        QCOMPARE(h.pieces[0].result->rows.size(), size_t(1));
        const auto raw = [&](const std::string& column) {
            return QString::fromStdString(
                f.engine
                    .queryRaw("SELECT " + column + " FROM sandbox_databases WHERE name = 'tqdata_001_2003'")
                    .at(0));
        };
        auto history = f.run("select backup_start_date, backup_finish_date from msdb.dbo.backupset");
        const QStringList facts = {
            "BackupType=1",
            "Position=1",
            "DeviceType=2",
            "UserName=backup_operator",
            "ServerName=SANDBOX",
            "DatabaseName=tqdata_001_2003",
            QString("DatabaseVersion=") + (r2008 ? "661" : "904"),
            "DatabaseCreationDate=" + raw("crdate"),
            "BackupSize=" + QString::number(QFileInfo(QString::fromStdString(path)).size()),
            "BackupStartDate=" + QString::fromStdString(history.pieces[0].result->rows[0][0].text),
            "BackupFinishDate=" + QString::fromStdString(history.pieces[0].result->rows[0][1].text),
            "CompatibilityLevel=" + raw("cmptlevel"),
            "Collation=Chinese_PRC_CI_AS",
            "IsCopyOnly=1",
            "HasBackupChecksums=1",
            "RecoveryModel=FULL",
            QString("SoftwareVersionMajor=") + (r2008 ? "10" : "15")};
        QStringList seen;
        for (const QString& fact : facts) {
            const QString name = fact.section('=', 0, 0);
            seen << name + "=" + cell(h, name.toUtf8().constData());
        }
        QCOMPARE(seen, facts);
        // The wire types the documentation gives, where the engine holds another.
        const auto& cols = h.pieces[0].result->columns;
        QCOMPARE(cols[6].wire, Column::Wire::TinyInt);  // DeviceType
        QCOMPARE(cols[12].type, ColType::Decimal);      // BackupSize numeric(20,0)
        QCOMPARE(cols[12].precision, 20);
        QCOMPARE(cols[30].name + (cols[30].wire == Column::Wire::Guid ? " guid" : ""), "BindingID guid");

        f.run("BACKUP DATABASE [tqdata_001_2003] TO DISK = N'plain.bak'");
        auto plain = f.run("RESTORE HEADERONLY FROM DISK = N'plain.bak'");
        QCOMPARE(cell(plain, "UserName") + cell(plain, "IsCopyOnly") + cell(plain, "HasBackupChecksums"),
                 "sa00");

        auto l = f.run("RESTORE FILELISTONLY FROM DISK = N'" + path + "' WITH FILE = 1");
        QCOMPARE(columnNames(l).size(), fileColumns);
        QCOMPARE(columnNames(l).mid(0, 7), QStringList({"LogicalName", "PhysicalName", "Type",
                                                        "FileGroupName", "Size", "MaxSize", "FileID"}));
        QStringList files;
        for (size_t i = 0; i < l.pieces[0].result->rows.size(); ++i)
            files << QStringList({cell(l, "LogicalName", i), cell(l, "PhysicalName", i), cell(l, "Type", i),
                                  cell(l, "FileGroupName", i), cell(l, "Size", i), cell(l, "FileID", i)})
                         .join('|');
        QStringList expected;
        for (const auto& row : f.engine.queryRaw(
                 "SELECT f.name||'|'||f.filename||'|'||(CASE f.fileid WHEN 2 THEN 'L|NULL' ELSE 'D|PRIMARY' "
                 "END)||'|'||(f.size * 8192)||'|'||f.fileid FROM sandbox_files f JOIN sandbox_databases d ON "
                 "d.dbid = f.dbid WHERE d.name = 'tqdata_001_2003' ORDER BY f.fileid"))
            expected << QString::fromStdString(row);
        QCOMPARE(files, expected);
        QCOMPARE(expected.size(), 2);
        QCOMPARE(l.pieces[0].result->columns[2].wire, Column::Wire::Char);  // Type char(1)
    }

    // A file written before the backup recorded who made it still reads: those facts are Null.
    void olderBackupFileStillReads() {
        Fixture f;
        const std::string path = f.file("old.bak");
        f.backup(path);
        QFile file(QString::fromStdString(path));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray body = file.readAll();
        body.truncate(body.lastIndexOf("\nchecksum "));
        const qsizetype at = body.indexOf("\norigin\t") + 1;
        QVERIFY(at > 0);
        body.remove(at, body.indexOf('\n', at) - at + 1);
        file.resize(0);
        file.write(body + "\nchecksum " +
                   QByteArray::number(qulonglong(fnv64(body)), 16).rightJustified(16, '0') + "\n");
        file.close();
        QCOMPARE(messages(f.run("RESTORE VERIFYONLY FROM DISK = N'" + path + "'")),
                 QStringList({"3262|The backup set on file 1 is valid."}));
        auto h = f.run("RESTORE HEADERONLY FROM DISK = N'" + path + "'");
        QCOMPARE(cell(h, "DatabaseName") + "|" + cell(h, "UserName") + "|" + cell(h, "ServerName"),
                 "tqdata_001_2002|NULL|NULL");
        QVERIFY(messages(f.run("RESTORE DATABASE [tqdata_001_2002] FROM DISK = N'" + path + "' WITH REPLACE"))
                    .last()
                    .startsWith("3014|"));
    }

    // Both listings fail as VERIFYONLY does on a file they cannot use. They only read the file, and
    // answer inside a transaction, which stays open; RESTORE DATABASE there is refused.
    void listingsFailAsVerifyDoes() {
        Fixture f;
        const std::string path = f.file("l.bak");
        f.backup(path);
        QFile file(QString::fromStdString(path));
        QVERIFY(file.open(QIODevice::ReadWrite));
        const QByteArray good = file.readAll();
        const std::string gone = f.file("gone.bak");
        for (const std::string verb : {"HEADERONLY", "FILELISTONLY"}) {
            const QString end =
                QString::fromStdString("3013|RESTORE " + verb + " is terminating abnormally.");
            const std::string sql = "RESTORE " + verb + " FROM DISK = N'" + path + "'";
            QCOMPARE(messages(f.run("RESTORE " + verb + " FROM DISK = N'" + gone + "'")),
                     QStringList({QString::fromStdString("3201|Cannot open backup device '" + gone +
                                                         "'. Operating system error 2(The system cannot find "
                                                         "the file specified.)."),
                                  end}));
            QByteArray bad = good;
            bad[good.size() / 2] = static_cast<char>(bad[good.size() / 2] ^ 0x5A);
            file.seek(0);
            file.write(bad);
            file.flush();
            QCOMPARE(messages(f.run(sql)), QStringList({"3189|Damage to the backup set was detected.", end}));
            file.resize(0);
            file.write("not a backup");
            file.flush();
            auto m = messages(f.run(sql));
            QVERIFY(m.value(0).startsWith("3241|The media family on device"));
            QCOMPARE(m.value(1), end);
            file.resize(0);
            file.write(good);
            file.flush();
            QCOMPARE(messages(f.run(sql + " WITH FILE = 2")).value(0),
                     QString::fromStdString("4038|Cannot find file ID 2 on device '" + path + "'."));
        }
        f.run("BEGIN TRAN");
        auto h = f.run("RESTORE HEADERONLY FROM DISK = N'" + path + "'");
        QCOMPARE(messages(h), QStringList());
        QCOMPARE(cell(h, "DatabaseName"), "tqdata_001_2002");
        QCOMPARE(f.run("select @@TRANCOUNT").pieces[0].result->rows[0][0].i, 1);
        QCOMPARE(messages(f.run("RESTORE DATABASE [tqdata_009] FROM DISK = N'" + path + "'")).value(0),
                 "3021|Cannot perform a backup or restore operation within a transaction.");
        f.run("ROLLBACK");
        QVERIFY(!f.engine.databaseExists("tqdata_009"));
    }

    // While a restore runs, another session sees it RESTORING, its progress rise and its command; it
    // cannot drop the database meanwhile. Stopped part-way, by the client or by KILL, the restore
    // leaves the database RESTORING with its files, not usable (927), until it is restored again
    // (no REPLACE needed: it has no tail of the log to keep) or dropped, files and all.
    void cancelledRestoreLeavesTheDatabaseRestoring() {
        Fixture f;
        const std::string db = "tqdata_001_2002";
        const std::string path = f.file("r.bak");
        f.backup(path);
        const auto before = rowsOf(f.engine, db);
        f.engine.setBackupSpeed(3000);  // 1664 pages: about half a second
        auto watcher = f.engine.openSession("master");
        const auto watch = [&](const std::string& sql) { return f.engine.execBatch(*watcher, sql); };
        const std::string restore =
            "RESTORE DATABASE [" + db + "] FROM DISK = N'" + path + "' WITH REPLACE, RECOVERY";
        std::atomic<bool> done{false};
        std::thread t([&] {
            f.run(restore);
            done = true;
        });
        QList<double> seen;
        QStringList commands, drop;
        while (!done) {
            auto r = watch("select percent_complete, command from sys.dm_exec_requests where session_id = " +
                           std::to_string(f.s->spid));
            if (!r.pieces[0].result->rows.empty()) {
                seen << r.pieces[0].result->rows[0][0].f;
                commands << QString::fromStdString(r.pieces[0].result->rows[0][1].text);
            }
            if (drop.isEmpty() && seen.size() > 2)
                drop = messages(watch("DROP DATABASE [" + db + "]"));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        t.join();
        QVERIFY2(seen.size() >= 3, "the restore was seen running");
        QVERIFY(seen.last() > seen.first());
        commands.removeDuplicates();
        QCOMPARE(commands, QStringList({"RESTORE DATABASE"}));
        QCOMPARE(drop.value(0), "3702|Cannot drop database \"" + QString::fromStdString(db) +
                                    "\" because it is currently in use.");
        QCOMPARE(f.state(db), std::string("ONLINE"));
        QCOMPARE(rowsOf(f.engine, db), before);

        // The state another session sees half-way, and how the batch ended.
        const auto cut = [&](bool kill) {
            std::atomic<bool> stop{false};
            f.s->interrupted = [&] { return !kill && stop.load(); };
            BatchResult r;
            std::thread b([&] { r = f.run(restore); });
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            auto rows = watch("select state_desc from sys.databases where name = '" + db + "'")
                            .pieces[0]
                            .result->rows;
            if (kill)
                f.engine.cancelRunning(f.s->spid);
            else
                stop = true;
            b.join();
            f.s->interrupted = nullptr;
            return QString::fromStdString(rows.empty() ? "gone" : rows[0][0].text) + (r.killed ? " killed"
                                                                                      : r.cancelled
                                                                                          ? " cancelled"
                                                                                          : " ran");
        };
        for (bool kill : {false, true}) {
            QCOMPARE(cut(kill), kill ? "RESTORING killed" : "RESTORING cancelled");
            if (kill)  // that connection is closed
                f.s = f.engine.openSession("master");
            QCOMPARE(f.state(db), std::string("RESTORING"));
            QCOMPARE(messages(f.run("USE [" + db + "]")).value(0),
                     "927|Database '" + QString::fromStdString(db) +
                         "' cannot be opened. It is in the middle of a restore.");
            auto files =
                f.run("select state_desc from sys.master_files where database_id = db_id('" + db + "')");
            QCOMPARE(files.pieces[0].result->rows.size(), size_t(2));
            QCOMPARE(files.pieces[0].result->rows[0][0].text, std::string("RESTORING"));
        }
        f.engine.setBackupSpeed(0);
        QVERIFY(messages(f.run("RESTORE DATABASE [" + db + "] FROM DISK = N'" + path + "' WITH RECOVERY"))
                    .last()
                    .startsWith("3014|RESTORE DATABASE successfully processed"));
        QCOMPARE(f.state(db), std::string("ONLINE"));
        QCOMPARE(rowsOf(f.engine, db), before);

        f.engine.setBackupSpeed(3000);
        QCOMPARE(cut(false), "RESTORING cancelled");
        QCOMPARE(messages(f.run("DROP DATABASE [" + db + "]")), QStringList());
        QCOMPARE(f.state(db), std::string("gone"));
        QVERIFY(rowsOf(f.engine, db).empty());
        QVERIFY(f.engine.orphanedFiles().empty());
    }

    // A restore while another session's writing transaction is open waits for it: its rows never
    // join that transaction, and that session's ROLLBACK leaves the restored database in place.
    void restoreWaitsForAnotherWritersTransaction() {
        Fixture f;
        const std::string path = f.file("w.bak");
        f.backup(path);
        const auto before = rowsOf(f.engine, "tqdata_001_2002");
        f.run("DROP DATABASE [tqdata_001_2002]");
        auto other = f.engine.openSession("TQSystem");
        QCOMPARE(messages(f.engine.execBatch(*other, "BEGIN TRAN DELETE FROM UA_account_sub WHERE 1 = 0")),
                 QStringList());
        BatchResult r;
        std::thread t([&] { r = f.run("RESTORE DATABASE [tqdata_001_2002] FROM DISK = N'" + path + "'"); });
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        f.engine.execBatch(*other, "ROLLBACK");
        t.join();
        QVERIFY(messages(r).last().startsWith("3014|RESTORE DATABASE successfully processed"));
        QCOMPARE(rowsOf(f.engine, "tqdata_001_2002"), before);
        QCOMPARE(f.state("tqdata_001_2002"), std::string("ONLINE"));
        const auto waits = f.engine.lockWaits();
        QCOMPARE(waits.size(), size_t(1));
        QCOMPARE(waits[0].spid, f.s->spid);
    }

    void historyAndBackupDirectory() {
        Fixture f;
        f.backup(f.file("h1.bak"));
        f.run("BACKUP DATABASE tqdata_001_2003 TO DISK = N'h2.bak' WITH INIT");
        auto r = f.run(
            "select database_name, type, is_copy_only, media_set_id from msdb.dbo.backupset order by "
            "backup_set_id");
        const auto& rows = r.pieces[0].result->rows;
        QCOMPARE(rows.size(), size_t(2));
        QCOMPARE(rows[0][0].text + rows[0][1].text, std::string("tqdata_001_2002D"));
        QCOMPARE(rows[0][2].i, 1);
        QCOMPARE(rows[1][2].i, 0);
        auto m = f.run("select physical_device_name from msdb.dbo.backupmediafamily where media_set_id = 2");
        QCOMPARE(m.pieces[0].result->rows[0][0].text, f.file("h2.bak"));
        // Not in another database.
        QVERIFY(f.run("select * from TQSystem.dbo.backupset").pieces[0].result->rows.empty());
        auto reg = f.run(
            "EXEC master.dbo.xp_instance_regread N'HKEY_LOCAL_MACHINE', "
            "N'Software\\Microsoft\\MSSQLServer\\MSSQLServer', N'BackupDirectory'");
        QCOMPARE(reg.pieces[0].result->columns[0].name + "|" + reg.pieces[0].result->columns[1].name,
                 std::string("Value|Data"));
        QCOMPARE(reg.pieces[0].result->rows[0][1].text, f.dir.path().toStdString());
        auto prop = f.run("select SERVERPROPERTY('InstanceDefaultBackupPath')");
        QCOMPARE(prop.pieces[0].result->rows[0][0].text, f.dir.path().toStdString());
    }

    // Through tsql against a server started with its options: the messages as a client prints them.
    void throughTsql() {
        const QString exe = QStandardPaths::findExecutable(QStringLiteral("tsql"));
        if (exe.isEmpty())
            QSKIP("tsql not installed (freetds-bin)");
        QTemporaryDir dir;
        Options o;
        o.backupDir = dir.filePath("backups").toStdString();
        Server server(o);
        server.engine().seedDemo();
        QVERIFY(server.start());
        QVERIFY(QDir(dir.filePath("backups")).exists());
        QProcess p;
        p.start(exe, {"-H", "127.0.0.1", "-p", QString::number(server.port()), "-U", "sa", "-P", "sandbox"});
        p.write(
            "BACKUP DATABASE [tqdata_001_2004] TO DISK = N'y.bak' WITH COPY_ONLY, CHECKSUM, INIT\nGO\n"
            "RESTORE VERIFYONLY FROM DISK = N'y.bak' WITH CHECKSUM\nGO\n"
            "RESTORE HEADERONLY FROM DISK = N'y.bak'\nGO\n"
            "RESTORE FILELISTONLY FROM DISK = N'y.bak'\nGO\n"
            "DROP DATABASE [tqdata_001_2004]\nGO\n"
            "RESTORE DATABASE [tqdata_001_2004] FROM DISK = N'y.bak' WITH RECOVERY\nGO\n"
            "select name from master.dbo.sysdatabases where name = 'tqdata_001_2004'\nGO\n");
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(20000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(err.contains("BACKUP DATABASE successfully processed"), qPrintable(err));
        QVERIFY(err.contains("The backup set on file 1 is valid."));
        QVERIFY(err.contains("RESTORE DATABASE successfully processed"));
        QVERIFY(!err.contains("severity 16"));
        QVERIFY(out.contains("tqdata_001_2004\n"));
        // The listings as a client prints them: the columns' names, then the values, tab-separated.
        QVERIFY2(
            out.contains("BackupName\tBackupDescription\tBackupType\tExpirationDate\tCompressed\tPosition\t"
                         "DeviceType\tUserName\tServerName\tDatabaseName\tDatabaseVersion\t"),
            qPrintable(out));
        QVERIFY(out.contains("NULL\tNULL\t1\tNULL\t0\t1\t2\tsa\tSANDBOX\ttqdata_001_2004\t904\t"));
        QVERIFY(out.contains("\tIsCopyOnly\t"));
        QVERIFY(out.contains("LogicalName\tPhysicalName\tType\tFileGroupName\tSize\tMaxSize\tFileID\t"));
        QVERIFY(
            out.contains("tqdata_001_2004_Data\tC:\\SQLDATA\\MSSQL\\Data\\tqdata_001_2004.mdf\tD\tPRIMARY\t"
                         "13631488\t"));
        QVERIFY(out.contains(
            "tqdata_001_2004_Log\tC:\\SQLDATA\\MSSQL\\Data\\tqdata_001_2004_log.ldf\tL\tNULL\t"));
    }
};

ACCTSET_TEST_CLASS(SandboxBackupTest)
#include "sandbox_backup_test.moc"
