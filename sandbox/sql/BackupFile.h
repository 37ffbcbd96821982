#pragma once
// The sandbox's backup file: what it holds, written and read with a checksum.

#include <cstdint>
#include <string>
#include <vector>

#include "sandbox/sql/Store.h"

namespace sandbox::sql {

// One database as BACKUP DATABASE saw it: its row, its files, and a payload standing in for its
// pages (8 bytes a page, so that a file's size follows the database's without filling a disk).
struct BackupImage {
    struct File {
        int64_t fileid = 0;
        std::string name, filename;
        int64_t size = 0;  // pages
    };
    DbRow db;
    std::vector<File> files;
    std::string started, finished;  // datetime text
    // Who made it, where, and how (RESTORE HEADERONLY). A file written before these were kept
    // reads with the server and login empty and the versions 0.
    std::string serverName, userName;
    std::string softwareVersion;  // the server's ProductVersion, "15.0.2000.5"
    int64_t databaseVersion = 0;
    bool copyOnly = false, checksum = false;
    std::string payload;
    int64_t fileBytes = 0;  // the file's size as read; not written into it

    int64_t pages() const;
};

constexpr int kPayloadBytesPerPage = 8;
std::string payloadFor(const std::string& database, int64_t pages);

// The file's bytes: a header line, the rows, the payload, and a checksum over all of them.
std::string encodeBackup(const BackupImage& image);

// A GUID's text that stays the same for the same seed.
std::string guidText(const std::string& seed);
// The database's FamilyGUID (HEADERONLY) and family_guid (sys.database_recovery_status): the same
// for the database and every restore of it, another for a database created anew under its name.
std::string familyGuid(const DbRow& d);

// FNV-1a, 64 bits: the file's checksum, and the seed of the stand-in numbers a backup reports.
uint64_t fnv64(const std::string& s);

enum class BackupRead { Ok, NotABackup, Damaged };
BackupRead decodeBackup(const std::string& bytes, BackupImage* out);

}  // namespace sandbox::sql
