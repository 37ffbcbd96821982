// The deletions journal on disk: its format, the append-only rule, the line a crash leaves open and
// a journal that cannot be written.
#include <QtTest>

#include "deletion/Journal.h"
#include "support/TestMain.h"

using deletion::Journal;

namespace {

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Journal::Entry entry(const QString& accountNo, const QStringList& years = {}) {
    return {QDateTime::currentDateTime(), "SRV01\\INST", "sa", accountNo, years};
}

}  // namespace

class JournalTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString path() const { return dir.filePath("undo/deletions.log"); }

private slots:
    void init() {
        QVERIFY(dir.isValid());
        QFile::remove(path());
    }

    // The offset written out, a half hour and west of Greenwich too; never "Z".
    void timeFieldCarriesTheOffset() {
        for (const char* t :
             {"2026-12-08T10:15:02+08:00", "2026-12-07T22:45:02-03:30", "2026-12-08T02:15:02+00:00"})
            QCOMPARE(Journal::timeField(QDateTime::fromString(t, Qt::ISODate)), QString(t));
        QCOMPARE(Journal::timeField(QDateTime::fromString("2026-12-08T02:15:02Z", Qt::ISODate)),
                 "2026-12-08T02:15:02+00:00");
        // The run's own clock: local time, and the offset it has here.
        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime read = QDateTime::fromString(Journal::timeField(now), Qt::ISODate);
        QCOMPARE(read.offsetFromUtc(), now.offsetFromUtc());
        QCOMPARE(read.toSecsSinceEpoch(), now.toSecsSinceEpoch());
    }

    // Eight tab-separated fields a line, UTF-8 without a byte-order mark; an odd character in a
    // field cannot split the line or its fields, and every run only adds to the end.
    void linesAreAppendedInTheirFormat() {
        Journal first(path());
        QString error;
        const QDateTime at = QDateTime::currentDateTime();
        QVERIFY2(first.begin({at, "SRV01", "sa", "0\t0\n1", {"2002", "2003"}}, &error), qPrintable(error));
        // The first five fields are on the disk before the run changes anything.
        const QByteArray begun = bytesOf(path());
        QCOMPARE(begun, (Journal::timeField(at) + "\tSRV01\tsa\t0 0 1\t2002;2003\t").toUtf8());
        QVERIFY(first.complete(Journal::Outcome::Succeeded, "/undo/SRV01_001.sql",
                               {"D:\\Backup\\a.bak", "D:\\Backup\\b\r\n\x01\u2028.bak"}, &error));
        const QByteArray once = bytesOf(path());
        QCOMPARE(once, begun + "succeeded\t/undo/SRV01_001.sql\tD:\\Backup\\a.bak;D:\\Backup\\b    .bak\n");

        Journal second(path());
        QVERIFY(second.begin(entry("帐套"), &error));
        QVERIFY(second.complete(Journal::Outcome::RestoreStopped, {}, {}, &error));
        const QByteArray twice = bytesOf(path());
        QVERIFY(twice.startsWith(once));
        QVERIFY(!twice.startsWith("\xEF\xBB\xBF"));
        const QStringList line = QString::fromUtf8(twice.mid(once.size())).split('\t');
        QCOMPARE(line.mid(1), (QStringList{"SRV01\\INST", "sa", "帐套", "",
                                           "restore stopped before any change", "", "\n"}));

        // Once per begin.
        QVERIFY(!second.complete(Journal::Outcome::Failed, {}, {}, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(bytesOf(path()), twice);
    }

    void outcomeWords() {
        using O = Journal::Outcome;
        QStringList words;
        for (O o : {O::Succeeded, O::Partly, O::Failed, O::Stopped, O::Restored, O::RestoreFailed,
                    O::RestoreStopped})
            words << Journal::word(o);
        QCOMPARE(words, (QStringList{"succeeded", "partly", "failed", "stopped before any change", "restored",
                                     "restore failed", "restore stopped before any change"}));
    }

    // A run that never reached its outcome leaves its line open; the next one closes it as
    // interrupted, without touching a byte before it.
    void lineLeftOpenIsClosedAsInterrupted() {
        QString error;
        {
            Journal crashed(path());
            QVERIFY(crashed.begin(entry("001", {"2002"}), &error));
        }
        const QByteArray open = bytesOf(path());
        Journal next(path());
        QVERIFY(next.begin(entry("002"), &error));
        QVERIFY(next.complete(Journal::Outcome::Failed, "s.sql", {}, &error));
        const QByteArray now = bytesOf(path());
        QVERIFY(now.startsWith(open + "interrupted\t\t\n"));
        const QList<QByteArray> lines = now.split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0].split('\t').size(), 8);
        QCOMPARE(lines[1].split('\t').mid(3), (QList<QByteArray>{"002", "", "failed", "s.sql", ""}));
        QVERIFY(lines[2].isEmpty());

        // A file of whole lines, or an empty one, gets no extra outcome.
        QFile::resize(path(), 0);
        QVERIFY(Journal(path()).begin(entry("003"), &error));
        QVERIFY(!bytesOf(path()).contains("interrupted"));
    }

    // A second copy of the tool neither closes a line still under way nor writes into it.
    void lineUnderWayIsLockedFromOthers() {
        QString error;
        Journal running(path());
        QVERIFY(running.begin(entry("001"), &error));
        const QByteArray begun = bytesOf(path());
        Journal other(path());
        QVERIFY(!other.begin(entry("002"), &error));
        QVERIFY2(error.contains(QString::number(QCoreApplication::applicationPid())), qPrintable(error));
        QCOMPARE(bytesOf(path()), begun);
        QVERIFY(running.complete(Journal::Outcome::Succeeded, {}, {}, &error));
        QVERIFY2(other.begin(entry("002"), &error), qPrintable(error));
        QVERIFY(other.complete(Journal::Outcome::Failed, {}, {}, &error));
        QCOMPARE(bytesOf(path()).count('\n'), 2);
        QVERIFY(!bytesOf(path()).contains("interrupted"));
    }

    // Errors come back as values in the file system's words, and nothing is written.
    void unwritableJournal() {
        QString error;
        // A directory where the file should be.
        QVERIFY(QDir().mkpath(path()));
        QVERIFY(!Journal(path()).begin(entry("001"), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QFileInfo(path()).isDir());
        QVERIFY(QDir().rmdir(path()));

        // A file where the folder should be.
        QFile blocker(dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        error.clear();
        Journal blocked(dir.filePath("blocker/acctset-remover/deletions.log"));
        QVERIFY(!blocked.begin(entry("001"), &error));
        QVERIFY2(error.contains(dir.filePath("blocker/acctset-remover")), qPrintable(error));
        QVERIFY(!blocked.complete(Journal::Outcome::Succeeded, {}, {}, &error));
        QCOMPARE(QFileInfo(blocker).size(), 0);
    }

    void defaultPathIsBesideTheUndoScripts() {
        const QByteArray old = qgetenv("ACCTSET_UNDO_DIR");
        qputenv("ACCTSET_UNDO_DIR", "/srv/undo");
        const QString p = Journal::defaultPath();
        qputenv("ACCTSET_UNDO_DIR", old);
        QCOMPARE(p, "/srv/undo/deletions.log");
    }
};

ACCTSET_TEST_CLASS(JournalTest)
#include "journal_test.moc"
