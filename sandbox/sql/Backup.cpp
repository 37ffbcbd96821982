// BACKUP DATABASE: the database's rows and a payload written to a file of the sandbox's format.
#include "sandbox/sql/Executor.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "sandbox/sql/BackupFile.h"
#include "sandbox/sql/Backups.h"
#include "sandbox/sql/Functions.h"
#include "sandbox/sql/Parse.h"

// Numbers, severities and texts of the messages (3013, 3014, 3021, 3201, 3202, 3009, 4035):
// https://learn.microsoft.com/en-us/sql/relational-databases/errors-events/database-engine-events-and-errors-3000-to-3999
// and .../database-engine-events-and-errors-4000-to-4999; the operating system's texts for errors 2, 3, 5
// and 112: https://learn.microsoft.com/en-us/windows/win32/debug/system-error-codes--0-499-

namespace sandbox::sql {

const char* const kHistorySchema =
    "CREATE TABLE IF NOT EXISTS sandbox_backupset (backup_set_id INTEGER PRIMARY KEY, media_set_id INTEGER, "
    "database_name TEXT, backup_start_date TEXT, backup_finish_date TEXT, type TEXT, is_copy_only INTEGER, "
    "backup_size INTEGER, has_backup_checksums INTEGER, user_name TEXT, server_name TEXT);"
    "CREATE TABLE IF NOT EXISTS sandbox_backupmediafamily (media_set_id INTEGER, family_sequence_number "
    "INTEGER, physical_device_name TEXT, device_type INTEGER);";

std::string osErrorText(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return "3(The system cannot find the path specified.)";
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return "5(Access is denied.)";
        case ENOSPC:
            return "112(There is not enough space on the disk.)";
        default:
            return "31(A device attached to the system is not functioning.)";
    }
}

SqlError abnormal(Message first, const std::string& verb) {
    SqlError e{std::move(first), SqlError::Kind::Runtime, {}, false};
    e.more.push_back(
        {.number = 3013, .state = 1, .severity = 16, .text = verb + " is terminating abnormally."});
    return e;
}

void outsideTransaction(const Session& s, const std::string& verb) {
    if (s.tranCount > 0)
        throw abnormal({.number = 3021,
                        .state = 0,
                        .severity = 16,
                        .text = "Cannot perform a backup or restore operation within a transaction."},
                       verb);
}

Message processed(const std::string& verb, int64_t pages, double seconds) {
    double mb = static_cast<double>(pages) * 8192.0 / 1048576.0;
    double rate = seconds > 0.0005 ? mb / seconds : mb / 0.001;
    char text[200];
    std::snprintf(text, sizeof text, "%s successfully processed %lld pages in %.3f seconds (%.3f MB/sec).",
                  verb.c_str(), static_cast<long long>(pages), seconds, rate);
    return {.number = 3014, .state = 1, .severity = 10, .text = text};
}

Message filePages(const std::string& database, const BackupImage::File& f) {
    return {.number = 4035,
            .state = 1,
            .severity = 10,
            .text = "Processed " + std::to_string(f.size) + " pages for database '" + database + "', file '" +
                    f.name + "' on file 1."};
}

// A device named without a directory, or relative, goes into the default backup directory, as on
// the server. A Windows form maps beneath it, predictably: C:\dir\x.bak to <dir>/C/dir/x.bak,
// \\host\share\x.bak to <dir>/UNC/host/share/x.bak; "." and ".." are dropped, so nothing lands outside
// it. The drive's or share's folder is made on first use; folders beneath must exist, as on a server.
// A POSIX absolute path (this machine's) is taken as it is.
std::string Executor::devicePath(const std::string& device) const {
    if (!device.empty() && device[0] == '/')
        return device;
    std::string rest = device;
    std::filesystem::path root = backupDir;
    bool windowsRoot = false;
    if (rest.size() >= 2 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':') {
        root /= std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0]))));
        rest = rest.substr(2);
        windowsRoot = true;
    } else if (rest.rfind("\\\\", 0) == 0 || rest.rfind("//", 0) == 0) {
        root /= "UNC";
        rest = rest.substr(2);
        windowsRoot = true;
    }
    std::filesystem::path out = root;
    size_t parts = 0;
    for (size_t k = 0; k <= rest.size();) {
        size_t end = rest.find_first_of("\\/", k);
        if (end == std::string::npos)
            end = rest.size();
        const std::string part = rest.substr(k, end - k);
        if (!part.empty() && part != "." && part != "..") {
            out /= part;
            // The share's host and name are one root, as the drive letter is.
            if (windowsRoot && root.filename() == "UNC" && ++parts == 2) {
                std::error_code ignored;
                std::filesystem::create_directories(out, ignored);
            }
        }
        k = end + 1;
    }
    if (windowsRoot && root.filename() != "UNC") {
        std::error_code ignored;
        std::filesystem::create_directories(root, ignored);
    }
    return out.string();
}

bool Executor::paced(Session& s, int64_t pages, const std::function<void(double)>& step) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    bool stopped = false;
    for (int i = 1; i <= 100 && !stopped; ++i) {
        const auto due =
            start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                        backupSpeed > 0 ? static_cast<double>(pages) * i / 100.0 / backupSpeed : 0));
        // Other batches set engineLock to their own while this one lets go.
        auto* mine = engineLock;
        mine->unlock();
        do {
            stopped = s.interrupted && s.interrupted();
            if (!stopped && Clock::now() < due)
                std::this_thread::sleep_for(
                    std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(20)));
        } while (!stopped && Clock::now() < due);
        mine->lock();
        engineLock = mine;
        stopped = stopped || killed.count(s.spid) > 0;
        if (!stopped) {
            step(i / 100.0);
            setPercentComplete(s.spid, i);
        }
    }
    setPercentComplete(s.spid, 0);
    return !stopped;
}

BackupImage Executor::imageOf(const DbRow& d) {
    BackupImage m;
    m.db = d;
    Query q(store.handle(),
            "SELECT fileid, name, filename, size FROM sandbox_files WHERE dbid = ? ORDER BY fileid");
    q.bind(1, d.dbid);
    while (q.step())
        m.files.push_back({q.i(0), q.s(1), q.s(2), q.i(3)});
    m.payload = payloadFor(d.name, m.pages());
    return m;
}

void Executor::backup(const Statement& st, Session& s, Piece& p) {
    const std::string verb = "BACKUP DATABASE";
    outsideTransaction(s, verb);
    auto d = store.findDatabase(st.names[0]);
    if (!d)
        throw abnormal({.number = 911,
                        .state = 11,
                        .severity = 16,
                        .text = "Database '" + st.names[0] +
                                "' does not exist. Make sure that the name is entered correctly."},
                       verb);
    refuseUnreadable(*d, verb);
    const std::string path = devicePath(st.device);
    BackupImage m = imageOf(*d);
    m.started = nowText();
    m.serverName = kServerName;
    m.userName = s.login;
    m.softwareVersion = product.version;
    m.databaseVersion = product.databaseVersion;
    for (const auto& w : st.with) {
        m.copyOnly = m.copyOnly || w == "COPY_ONLY";
        m.checksum = m.checksum || w == "CHECKSUM";
    }
    const auto t0 = std::chrono::steady_clock::now();
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        throw abnormal({.number = 3201,
                        .state = 1,
                        .severity = 16,
                        .text = "Cannot open backup device '" + path + "'. Operating system error " +
                                osErrorText(errno) + "."},
                       verb);
    // The payload goes out as the pages are processed; the whole file, with its checksum, at the end.
    size_t written = 0;
    bool ok = paced(s, m.pages(), [&](double done) {
        size_t upto = static_cast<size_t>(static_cast<double>(m.payload.size()) * done);
        if (upto > written)
            written += std::fwrite(m.payload.data() + written, 1, upto - written, out);
    });
    m.finished = nowText();
    std::string bytes = encodeBackup(m);
    std::fclose(out);
    bool full = false;
    if (ok && (out = std::fopen(path.c_str(), "wb")) != nullptr) {
        full = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
        full = std::fclose(out) == 0 && full;
    }
    int err = errno;
    if (!full) {
        std::remove(path.c_str());
        if (!ok)  // as a cancelled lock wait: no message, the client's Attention answered
            throw Interrupted{killed.count(s.spid) > 0};
        throw abnormal({.number = 3202,
                        .state = 1,
                        .severity = 16,
                        .text = "Write on \"" + path + "\" failed: " + osErrorText(err)},
                       verb);
    }
    for (const auto& f : m.files)
        p.messages.push_back(filePages(d->name, f));
    p.messages.push_back(processed(
        verb, m.pages(), std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count()));
    keepHistory(s, m, path, bytes.size(), p);
}

// A backup reads the database: it meets what opening it meets in each state that is not ONLINE,
// for sa too (BACKUP, Limitations and restrictions: an offline database cannot be backed up,
// learn.microsoft.com/sql/t-sql/statements/backup-transact-sql). EMERGENCY admits sa to read but is
// READ_ONLY with logging off; the sandbox refuses the backup there as well, with a number of its own
// (3007), so that no test takes an EMERGENCY database for one it can keep.
void Executor::refuseUnreadable(const DbRow& d, const std::string& verb) {
    if (d.state == "ONLINE")
        return;
    Session nobody;
    try {
        checkOpen(d, nobody);
    } catch (const SqlError& e) {
        throw abnormal(e.m, verb);
    }
    throw abnormal({.number = 3007,
                    .state = 1,
                    .severity = 16,
                    .text = "The backup of database '" + d.name + "' is not permitted because it is in the " +
                            d.state + " state."},
                   verb);
}

// The history msdb keeps. A store busy with another session's transaction cannot take it: the
// backup stands, with the warning the server gives then (3009).
void Executor::keepHistory(const Session& s, const BackupImage& m, const std::string& path, size_t size,
                           Piece& p) {
    if (txOwner != 0) {
        p.messages.push_back({.number = 3009,
                              .state = 1,
                              .severity = 16,
                              .text =
                                  "Could not insert a backup or restore history/detail record in the msdb "
                                  "database. This may indicate a problem with the msdb database. The "
                                  "backup/restore operation was still successful."});
        return;
    }
    Query set(
        store.handle(),
        "INSERT INTO sandbox_backupset (media_set_id, database_name, backup_start_date, backup_finish_date, "
        "type, is_copy_only, backup_size, has_backup_checksums, user_name, server_name) VALUES "
        "((SELECT coalesce(max(media_set_id), 0) + 1 FROM sandbox_backupset), ?, ?, ?, 'D', ?, ?, ?, ?, ?)");
    set.bind(1, m.db.name).bind(2, m.started).bind(3, m.finished).bind(4, int64_t{m.copyOnly});
    set.bind(5, static_cast<int64_t>(size))
        .bind(6, int64_t{m.checksum})
        .bind(7, s.login)
        .bind(8, m.serverName)
        .step();
    Query media(
        store.handle(),
        "INSERT INTO sandbox_backupmediafamily (media_set_id, family_sequence_number, "
        "physical_device_name, device_type) SELECT max(media_set_id), 1, ?, 2 FROM sandbox_backupset");
    media.bind(1, path).step();
}

}  // namespace sandbox::sql
