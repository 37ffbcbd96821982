#include "deletion/Journal.h"

#include <cerrno>
#include <cstdlib>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include "deletion/UndoCapture.h"

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace deletion {

namespace {

const QChar kTab = QLatin1Char('\t');
const QChar kSemicolon = QLatin1Char(';');

QString clean(QString value) {
    for (QChar& c : value) {
        const QChar::Category kind = c.category();
        if (kind == QChar::Other_Control || kind == QChar::Separator_Line ||
            kind == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    }
    return value;
}

QString joined(const QStringList& values) {
    QStringList out;
    for (const QString& v : values)
        out << clean(v);
    return out.join(kSemicolon);
}

// A descriptor of our own, so that the bytes can be pushed through to the disk: Qt offers no
// sync for a plain QFile, and its handle() is no descriptor on Windows.
int openForAppend(const QString& path) {
#ifdef Q_OS_WIN
    return _wopen(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                  _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
#else
    return ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
#endif
}

bool syncToDisk(int fd) {
#ifdef Q_OS_WIN
    return _commit(fd) == 0;
#else
    return ::fsync(fd) == 0;
#endif
}

bool append(const QString& path, const QByteArray& bytes, QString* error) {
    const int fd = openForAppend(path);
    if (fd < 0) {
        *error = qt_error_string(errno);
        return false;
    }
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        *error = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        *error = file.errorString();
        return false;
    }
    if (!syncToDisk(fd)) {
        *error = qt_error_string(errno);
        return false;
    }
    return true;
}

// Whether the last line lacks its end: a run that stopped between its two appends.
bool lineLeftOpen(const QString& path, bool* open, QString* error) {
    *open = false;
    if (!QFileInfo::exists(path))
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    const qint64 size = file.size();
    if (size == 0)
        return true;
    char last = 0;
    if (!file.seek(size - 1) || !file.getChar(&last)) {
        *error = file.errorString();
        return false;
    }
    *open = last != '\n';
    return true;
}

}  // namespace

Journal::Journal(QString path) : path_(std::move(path)) {}
Journal::~Journal() = default;

QString Journal::defaultPath() {
    return QDir(undoFolder()).filePath(QStringLiteral("deletions.log"));
}

QString Journal::word(Outcome outcome) {
    switch (outcome) {
        case Outcome::Succeeded:
            return QStringLiteral("succeeded");
        case Outcome::Partly:
            return QStringLiteral("partly");
        case Outcome::Failed:
            return QStringLiteral("failed");
        case Outcome::Stopped:
            return QStringLiteral("stopped before any change");
        case Outcome::Restored:
            return QStringLiteral("restored");
        case Outcome::RestoreFailed:
            return QStringLiteral("restore failed");
        case Outcome::RestoreStopped:
            return QStringLiteral("restore stopped before any change");
    }
    return {};
}

QString Journal::timeField(const QDateTime& at) {
    const int offset = at.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return at.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")) + QLatin1Char(offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

bool Journal::begin(const Entry& entry, QString* error) {
    const QString folder = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("无法创建文件夹 %1").arg(folder);
        return false;
    }
    const QString lockPath = path_ + QStringLiteral(".lock");
    auto lock = std::make_unique<QLockFile>(lockPath);
    // A deletion holds it for minutes: only a holder that is gone makes a lock stale.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        qint64 pid = 0;
        QString host;
        QString app;
        *error = lock->error() == QLockFile::LockFailedError && lock->getLockInfo(&pid, &host, &app)
                     ? QStringLiteral("另一个程序(%1, 进程 %2, 主机 %3)正在删除或恢复帐套,请等它结束后重试")
                           .arg(app, QString::number(pid), host)
                     : QStringLiteral("无法创建锁文件 %1").arg(lockPath);
        return false;
    }
    bool leftOpen = false;
    if (!lineLeftOpen(path_, &leftOpen, error))
        return false;
    QString text;
    if (leftOpen)
        text = QStringLiteral("interrupted") + kTab + kTab + QLatin1Char('\n');
    for (const QString& f : {timeField(entry.at), clean(entry.server), clean(entry.login),
                             clean(entry.accountNo), joined(entry.years)})
        text += f + kTab;
    if (!append(path_, text.toUtf8(), error))
        return false;
    lock_ = std::move(lock);
    return true;
}

bool Journal::complete(Outcome outcome, const QString& script, const QStringList& backups, QString* error) {
    const std::unique_ptr<QLockFile> held = std::move(lock_);
    if (!held) {
        *error = QStringLiteral("没有待完成的记录");
        return false;
    }
    const QString text = word(outcome) + kTab + clean(script) + kTab + joined(backups) + QLatin1Char('\n');
    return append(path_, text.toUtf8(), error);
}

}  // namespace deletion
