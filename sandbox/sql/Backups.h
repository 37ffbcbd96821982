#pragma once
// What BACKUP and RESTORE share: their messages and the operating system's words for a failure.

#include <cstdint>
#include <string>

#include "sandbox/sql/BackupFile.h"
#include "sandbox/sql/Errors.h"

namespace sandbox::sql {

// "3(The system cannot find the path specified.)" for an errno, as the server quotes Windows.
std::string osErrorText(int err);
// The error, then 3013 "<verb> is terminating abnormally."
SqlError abnormal(Message first, const std::string& verb);
// 3021 with 3013 inside a user transaction.
void outsideTransaction(const Session& s, const std::string& verb);
// 3014 "<verb> successfully processed N pages in S seconds (R MB/sec)."
Message processed(const std::string& verb, int64_t pages, double seconds);
// 4035 "Processed N pages for database 'db', file 'f' on file 1."
Message filePages(const std::string& database, const BackupImage::File& f);

}  // namespace sandbox::sql
