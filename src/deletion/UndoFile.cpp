// Reading an undo script back: its parts, then the script written again from them, line for line.
#include "deletion/UndoFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include "deletion/DeletionSql.h"

namespace deletion::undo {

namespace {

const QString kTitle = QStringLiteral("-- 帐套删除工具 撤销脚本 (undo script)");
const QString kServer = QStringLiteral("-- 服务器 (server): ");
const QString kServerName = QStringLiteral("-- @@SERVERNAME: ");
const QString kAccount = QStringLiteral("-- 帐套号 (account set): ");
const QString kYears = QStringLiteral("-- 年度 (years): ");
const QString kMade = QStringLiteral("-- 生成时间 (made): ");
const QString kGuard = QStringLiteral("IF ISNULL(@@SERVERNAME, N'') <> ");
const QString kRestore = QStringLiteral("        RESTORE DATABASE ");
const QString kInsert = QStringLiteral("    INSERT INTO ");
const QString kIdentity = QStringLiteral("    SET IDENTITY_INSERT ");
const QString kSummary = QStringLiteral("-- 记录 (rows): ");

QString cutShort() {
    return QStringLiteral("文件在此结束, 脚本不完整 (the script was cut short here)");
}

// A cursor over one line: each take*() consumes what it recognises and says whether it did.
class Cursor {
public:
    explicit Cursor(const QString& s, qsizetype at = 0) : s_(s), i_(at) {}

    bool atEnd() const { return i_ >= s_.size(); }
    qsizetype pos() const { return i_; }

    bool take(const QString& word) {
        if (!QStringView(s_).mid(i_).startsWith(word))
            return false;
        i_ += word.size();
        return true;
    }

    // [name] with ]] for ]; *raw gets it as written, *name without the brackets.
    bool takeBracketed(QString* raw, QString* name = nullptr) {
        const qsizetype from = i_;
        if (!take(QStringLiteral("[")))
            return false;
        QString n;
        while (i_ < s_.size()) {
            if (s_[i_] == QLatin1Char(']')) {
                if (i_ + 1 < s_.size() && s_[i_ + 1] == QLatin1Char(']')) {
                    n += QLatin1Char(']');
                    i_ += 2;
                    continue;
                }
                ++i_;
                if (raw)
                    *raw = s_.mid(from, i_ - from);
                if (name)
                    *name = n;
                return true;
            }
            n += s_[i_++];
        }
        i_ = from;
        return false;
    }

    // One part of a text expression: N'…', NCHAR(n) or CONVERT(nvarchar(max), part).
    bool takeTextPart(QString* value) {
        const qsizetype from = i_;
        if (take(QStringLiteral("N'"))) {
            while (i_ < s_.size()) {
                const QChar c = s_[i_];
                if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                    break;
                if (c == QLatin1Char('\'')) {
                    if (i_ + 1 < s_.size() && s_[i_ + 1] == QLatin1Char('\'')) {
                        *value += c;
                        i_ += 2;
                        continue;
                    }
                    ++i_;
                    return true;
                }
                *value += c;
                ++i_;
            }
        } else if (take(QStringLiteral("NCHAR("))) {
            const qsizetype digits = i_;
            while (i_ < s_.size() && s_[i_].isDigit() && s_[i_].unicode() < 0x80)
                ++i_;
            bool ok = false;
            const uint n = s_.mid(digits, i_ - digits).toUInt(&ok);
            if (ok && n <= 0xFFFF && i_ - digits <= 5 && take(QStringLiteral(")"))) {
                *value += QChar(char16_t(n));
                return true;
            }
        } else if (take(QStringLiteral("CONVERT(nvarchar(max), "))) {
            if (takeTextPart(value) && take(QStringLiteral(")")))
                return true;
        }
        i_ = from;
        return false;
    }

    bool takeText(QString* value) {
        QString v;
        if (!takeTextPart(&v))
            return false;
        while (true) {
            const qsizetype before = i_;
            if (!take(QStringLiteral(" + ")))
                break;
            if (!takeTextPart(&v)) {
                i_ = before;
                break;
            }
        }
        *value = v;
        return true;
    }

    // One literal as literal() writes it; *raw gets it as written.
    bool takeLiteral(QString* raw) {
        const qsizetype from = i_;
        QString ignored;
        static const QRegularExpression number(QStringLiteral(R"(-?\d+(\.\d+)?([eE][-+]?\d+)?)"));
        static const QRegularExpression binary(QStringLiteral("0x[0-9A-F]*"));
        static const QRegularExpression stamp(QStringLiteral(R"('[0-9T:.+\- Z]*')"));
        bool ok = take(QStringLiteral("NULL")) || takeMatch(binary) || takeMatch(number) ||
                  takeMatch(stamp) || takeText(&ignored);
        if (ok)
            *raw = s_.mid(from, i_ - from);
        return ok;
    }

private:
    bool takeMatch(const QRegularExpression& re) {
        const QRegularExpressionMatch m =
            re.match(s_, i_, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
        if (!m.hasMatch() || m.capturedLength() == 0)
            return false;
        i_ += m.capturedLength();
        return true;
    }

    const QString& s_;
    qsizetype i_;
};

struct Fault {
    int line;
    QString reason;
};

QString unknownLine() {
    return QStringLiteral("内容不是本工具写出的 (not as this tool writes it)");
}

class Reader {
public:
    explicit Reader(const QStringList& lines) : lines_(lines) {}

    bool read(Script* out, Fault* fault) {
        Header& h = out->header;
        h.server = field(kServer);
        h.accountNo = field(kAccount);
        h.years = field(kYears).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        h.madeAt = QDateTime::fromString(field(kMade), Qt::ISODate);
        if (!h.madeAt.isValid() || h.accountNo.trimmed().isEmpty()) {
            *fault = {lineOf(h.madeAt.isValid() ? kAccount : kMade), unknownLine()};
            return false;
        }
        for (int i = 0; i < lines_.size(); ++i) {
            const QString& line = lines_[i];
            bool ok = true;
            if (line.startsWith(kSummary))
                ok = summary(line, out);
            else if (line.startsWith(kGuard))
                ok = decodeText(line.mid(kGuard.size()), &h.serverName);
            else if (line.startsWith(kRestore))
                ok = restore(line, h, out);
            else if (line.startsWith(kInsert))
                ok = insert(line, out);
            else if (line.startsWith(kIdentity))
                ok = identity(line, out);
            if (!ok) {
                *fault = {i + 1, reason_.isEmpty() ? unknownLine() : reason_};
                return false;
            }
        }
        return true;
    }

private:
    int lineOf(const QString& prefix) const {
        for (int i = 0; i < lines_.size(); ++i) {
            if (lines_[i].startsWith(prefix))
                return i + 1;
        }
        return 1;
    }

    QString field(const QString& prefix) const {
        for (const QString& line : lines_) {
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        }
        return {};
    }

    Rows* table(const QString& name, Script* out) {
        for (Rows& r : out->tables) {
            if (r.name == name)
                return &r;
        }
        reason_ = QStringLiteral("表 %1 不在脚本开头的记录清单中 (not listed in the header)").arg(name);
        return nullptr;
    }

    bool summary(const QString& line, Script* out) {
        static const QRegularExpression re(QRegularExpression::anchoredPattern(
            QStringLiteral(R"(-- 记录 \(rows\): (\S+) (\d+) \(checksum (-?\d+|NULL)\))")));
        const QRegularExpressionMatch m = re.match(line);
        if (!m.hasMatch())
            return false;
        Rows r;
        r.name = m.captured(1);
        for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(out->header.accountNo)) {
            if (p.table == r.name)
                r.condition = p.condition;
        }
        if (r.condition.isEmpty()) {
            reason_ =
                QStringLiteral("%1 不是帐套的系统库表 (not a catalogue table of an account set)").arg(r.name);
            return false;
        }
        if (m.captured(3) != QLatin1String("NULL"))
            r.checksum = m.captured(3).toLongLong();
        out->tables << r;
        return true;
    }

    bool restore(const QString& line, const Header& h, Script* out) {
        Cursor c(line, kRestore.size());
        Backup b;
        if (!c.takeBracketed(nullptr, &b.database) || !c.take(QStringLiteral(" FROM DISK = ")) ||
            !c.takeText(&b.file))
            return false;
        b.filesLeft = c.take(QStringLiteral(" WITH REPLACE, RECOVERY;"));
        if (!b.filesLeft && !c.take(QStringLiteral(" WITH RECOVERY;")))
            return false;
        if (!c.atEnd())
            return false;
        bool known = false;
        for (const QString& year : h.years)
            known =
                known ||
                DeletionSql::databaseName(h.accountNo, year).compare(b.database, Qt::CaseInsensitive) == 0;
        if (!known) {
            reason_ =
                QStringLiteral("数据库 %1 不是帐套%2的年度数据库 (not a yearly database of the account set)")
                    .arg(b.database, h.accountNo);
            return false;
        }
        out->backups << b;
        return true;
    }

    bool identity(const QString& line, Script* out) {
        Cursor c(line, kIdentity.size());
        QString name;
        if (!c.takeBracketed(nullptr) || !c.take(QStringLiteral(".[dbo].")) ||
            !c.takeBracketed(nullptr, &name))
            return false;
        Rows* t = table(name, out);
        if (!t)
            return false;
        t->identity = true;
        return c.take(QStringLiteral(" ON;")) || c.take(QStringLiteral(" OFF;"));
    }

    bool insert(const QString& line, Script* out) {
        Cursor c(line, kInsert.size());
        QString catalogue;
        QString name;
        if (!c.takeBracketed(nullptr, &catalogue) || !c.take(QStringLiteral(".[dbo].")) ||
            !c.takeBracketed(nullptr, &name) || !c.take(QStringLiteral(" (")))
            return false;
        out->header.catalogue = catalogue;
        QStringList columns;
        do {
            QString raw;
            if (!c.takeBracketed(&raw))
                return false;
            columns << raw;
        } while (c.take(QStringLiteral(", ")));
        if (!c.take(QStringLiteral(") VALUES (")))
            return false;
        QStringList values;
        do {
            QString raw;
            if (!c.takeLiteral(&raw)) {
                reason_ = QStringLiteral("第%1个值不是本工具写出的值 (a value not as this tool writes it)")
                              .arg(values.size() + 1);
                return false;
            }
            values << raw;
        } while (c.take(QStringLiteral(", ")));
        if (!c.take(QStringLiteral(");")) || !c.atEnd() || values.size() != columns.size())
            return false;
        Rows* t = table(name, out);
        if (!t)
            return false;
        if (t->values.isEmpty())
            t->columns = columns;
        t->values << values;
        return true;
    }

    const QStringList& lines_;
    QString reason_;
};

// Where a file stops being UTF-8: the line of its first malformed sequence, 0 when it is all UTF-8.
int firstMalformedLine(const QByteArray& bytes) {
    int line = 1;
    for (qsizetype from = 0; from <= bytes.size();) {
        qsizetype end = bytes.indexOf('\n', from);
        if (end < 0)
            end = bytes.size();
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = utf8.decode(bytes.mid(from, end - from));
        if (utf8.hasError() || bytes.mid(from, end - from).contains('\0'))
            return line;
        from = end + 1;
        ++line;
    }
    return 0;
}

}  // namespace

qsizetype Script::rowCount() const {
    qsizetype n = 0;
    for (const Rows& t : tables)
        n += t.values.size();
    return n;
}

QString ReadError::text() const {
    return line > 0 ? QStringLiteral("第 %1 行: %2").arg(line).arg(reason) : reason;
}

bool decodeText(const QString& expression, QString* value) {
    Cursor c(expression);
    return c.takeText(value) && c.atEnd();
}

bool parse(const QByteArray& raw, Script* out, ReadError* error) {
    QByteArray bytes = raw;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        *error = {1, QStringLiteral("文件是 UTF-16 编码, 本工具写出的脚本是 UTF-8 (UTF-16, not UTF-8)")};
        return false;
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    if (const int bad = firstMalformedLine(bytes); bad > 0) {
        *error = {bad, QStringLiteral("不是 UTF-8 编码的文本 (not UTF-8 text)")};
        return false;
    }
    // An editor may have turned the line ends into CR LF; no value of the script holds either.
    const QString text = QString::fromUtf8(bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.isEmpty() || lines[0] != kTitle) {
        *error = {1, QStringLiteral("不是本工具生成的撤销脚本 (not an undo script of this tool)")};
        return false;
    }
    // The writer ends every script with its checksum line and a line break: a file that does not
    // was cut short, at its last line.
    const bool ended = lines.last().isEmpty();
    const QString last = lines.size() > 1 ? lines[lines.size() - (ended ? 2 : 1)] : QString();
    if (!ended || !last.startsWith(kChecksumPrefix)) {
        bool summaries = false;
        for (const QString& line : lines)
            summaries = summaries || line.startsWith(kSummary) || line.startsWith(kChecksumPrefix);
        if (!summaries)
            *error = {0, QStringLiteral("此脚本由本工具的早期版本生成, 不能从窗口恢复; 请用 sqlcmd 或 tsql "
                                        "运行它 (made by an earlier version: run it with sqlcmd or tsql)")};
        else
            *error = {int(lines.size()), cutShort()};
        return false;
    }
    Script s;
    Fault fault{0, {}};
    if (!Reader(lines).read(&s, &fault)) {
        *error = {fault.line, fault.reason};
        return false;
    }
    const QStringList again = compose(s.header, s.backups, s.tables).split(QLatin1Char('\n'));
    for (int i = 0; i < again.size(); ++i) {
        if (i >= lines.size()) {
            *error = {int(lines.size()), cutShort()};
            return false;
        }
        if (lines[i] == again[i])
            continue;
        if (again[i].startsWith(kChecksumPrefix) && lines[i].startsWith(kChecksumPrefix))
            *error = {i + 1,
                      QStringLiteral("校验和不符: 脚本在生成后被修改或损坏 (the checksum does not match: "
                                     "the script was changed after it was made)")};
        else
            *error = {i + 1,
                      QStringLiteral("与本工具写出的脚本不符, 脚本被修改或损坏 (not as this tool wrote "
                                     "it: edited or damaged)")};
        return false;
    }
    if (lines.size() > again.size()) {
        *error = {int(again.size()) + 1,
                  QStringLiteral("脚本结束后还有内容 (text after the end of the script)")};
        return false;
    }
    *out = s;
    return true;
}

bool read(const QString& path, Script* out, ReadError* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = {0, QStringLiteral("无法打开文件: %1").arg(file.errorString())};
        return false;
    }
    // No script of an account set comes near this; a larger file is no script of ours.
    constexpr qint64 kLargest = 512LL * 1024 * 1024;
    if (file.size() > kLargest) {
        *error = {0, QStringLiteral("文件太大, 不是本工具生成的撤销脚本 (too large for an undo script)")};
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = {0, QStringLiteral("无法读取文件: %1").arg(file.errorString())};
        return false;
    }
    if (!parse(bytes, out, error))
        return false;
    out->path = path;
    return true;
}

}  // namespace deletion::undo
