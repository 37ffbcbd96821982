// RESTORE HEADERONLY and RESTORE FILELISTONLY: what a backup file holds, as the server's result sets.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sandbox/sql/Executor.h"

// The columns, in order, with their types, and the releases that added them:
// https://learn.microsoft.com/en-us/sql/t-sql/statements/restore-statements-headeronly-transact-sql
// https://learn.microsoft.com/en-us/sql/t-sql/statements/restore-statements-filelistonly-transact-sql
// (SQL Server 2008 R2: .../previous-versions/sql/sql-server-2008-r2/ms178536(v=sql.105), where
// Compressed is a BYTE(1)).

namespace sandbox::sql {

namespace {

Column column(const char* name, ColType t, int maxChars = 0, bool nullable = true) {
    return col(name, t, maxChars, nullable);
}

Column numeric(const char* name, int precision) {
    Column c = col(name, ColType::Decimal, 0, true);
    c.precision = precision;
    c.scale = 0;
    return c;
}

Column tinyint(const char* name) {
    Column c = col(name, ColType::SmallInt, 0, true);
    c.wire = Column::Wire::TinyInt;
    return c;
}

Column guid(const char* name) {
    Column c = col(name, ColType::NVarChar, 36, true);
    c.wire = Column::Wire::Guid;
    return c;
}

Value text(const std::string& s) {
    return s.empty() ? Value::ofNull() : Value::ofText(s);
}

Value number(int64_t n) {
    return Value::ofText(std::to_string(n));
}

Value bit(bool b) {
    return Value::ofInt(b ? 1 : 0);
}

Value guidOf(const std::string& seed) {
    return Value::ofText(guidText(seed));
}

// "15.0.2000.5": the major, minor and build numbers; Null when the file did not record them.
Value versionPart(const std::string& version, int part) {
    if (version.empty())
        return Value::ofNull();
    const char* p = version.c_str();
    for (int i = 0; i < part && p; ++i) {
        p = std::strchr(p, '.');
        p = p ? p + 1 : nullptr;
    }
    return p ? Value::ofInt(std::atoll(p)) : Value::ofNull();
}

// Log sequence numbers are not kept; these stand for a full backup of a database at rest.
const int64_t kFirstLsn = 37000000016000001, kLastLsn = 37000000017600001;

}  // namespace

void Executor::listBackup(const Statement& st, const Session& s, const BackupImage& m, Piece& p) {
    const int major = product.major();
    ResultSet rs;
    const std::string setSeed = m.db.name + "|" + m.started;
    if (st.option == "HEADERONLY") {
        rs.columns = {column("BackupName", ColType::NVarChar, 128),
                      column("BackupDescription", ColType::NVarChar, 255),
                      column("BackupType", ColType::SmallInt),
                      column("ExpirationDate", ColType::DateTime),
                      major >= 11 ? column("Compressed", ColType::Bit) : tinyint("Compressed"),
                      column("Position", ColType::SmallInt),
                      tinyint("DeviceType"),
                      column("UserName", ColType::NVarChar, 128),
                      column("ServerName", ColType::NVarChar, 128),
                      column("DatabaseName", ColType::NVarChar, 128),
                      column("DatabaseVersion", ColType::Int),
                      column("DatabaseCreationDate", ColType::DateTime),
                      numeric("BackupSize", 20),
                      numeric("FirstLSN", 25),
                      numeric("LastLSN", 25),
                      numeric("CheckpointLSN", 25),
                      numeric("DatabaseBackupLSN", 25),
                      column("BackupStartDate", ColType::DateTime),
                      column("BackupFinishDate", ColType::DateTime),
                      column("SortOrder", ColType::SmallInt),
                      column("CodePage", ColType::SmallInt),
                      column("UnicodeLocaleId", ColType::Int),
                      column("UnicodeComparisonStyle", ColType::Int),
                      tinyint("CompatibilityLevel"),
                      column("SoftwareVendorId", ColType::Int),
                      column("SoftwareVersionMajor", ColType::Int),
                      column("SoftwareVersionMinor", ColType::Int),
                      column("SoftwareVersionBuild", ColType::Int),
                      column("MachineName", ColType::NVarChar, 128),
                      column("Flags", ColType::Int),
                      guid("BindingID"),
                      guid("RecoveryForkID"),
                      column("Collation", ColType::NVarChar, 128),
                      guid("FamilyGUID"),
                      column("HasBulkLoggedData", ColType::Bit),
                      column("IsSnapshot", ColType::Bit),
                      column("IsReadOnly", ColType::Bit),
                      column("IsSingleUser", ColType::Bit),
                      column("HasBackupChecksums", ColType::Bit),
                      column("IsDamaged", ColType::Bit),
                      column("BeginsLogChain", ColType::Bit),
                      column("HasIncompleteMetaData", ColType::Bit),
                      column("IsForceOffline", ColType::Bit),
                      column("IsCopyOnly", ColType::Bit),
                      guid("FirstRecoveryForkID"),
                      numeric("ForkPointLSN", 25),
                      column("RecoveryModel", ColType::NVarChar, 60),
                      numeric("DifferentialBaseLSN", 25),
                      guid("DifferentialBaseGUID"),
                      column("BackupTypeDescription", ColType::NVarChar, 60),
                      guid("BackupSetGUID"),
                      column("CompressedBackupSize", ColType::BigInt)};
        const bool singleUser = m.db.userAccess == "SINGLE_USER";
        const Value fork = guidOf(m.db.name + "|fork");
        // Flags: 4 read-only, 8 single-user, 16 backup checksums.
        const int64_t flags = (m.db.readOnly ? 4 : 0) | (singleUser ? 8 : 0) | (m.checksum ? 16 : 0);
        std::vector<Value> row = {Value::ofNull(),
                                  Value::ofNull(),
                                  Value::ofInt(1),  // database
                                  Value::ofNull(),
                                  Value::ofInt(0),
                                  Value::ofInt(1),
                                  Value::ofInt(2),  // disk
                                  text(m.userName),
                                  text(m.serverName),
                                  Value::ofText(m.db.name),
                                  m.databaseVersion ? Value::ofInt(m.databaseVersion) : Value::ofNull(),
                                  text(m.db.crdate),
                                  number(m.fileBytes),
                                  number(kFirstLsn),
                                  number(kLastLsn),
                                  number(kFirstLsn),
                                  number(kFirstLsn),
                                  text(m.started),
                                  text(m.finished),
                                  Value::ofInt(0),     // a Windows collation has no sort order
                                  Value::ofInt(936),   // Chinese_PRC_CI_AS
                                  Value::ofInt(2052),  // zh-CN
                                  Value::ofInt(196609),
                                  Value::ofInt(m.db.cmptlevel),
                                  Value::ofInt(4608),
                                  versionPart(m.softwareVersion, 0),
                                  versionPart(m.softwareVersion, 1),
                                  versionPart(m.softwareVersion, 2),
                                  text(m.serverName),
                                  Value::ofInt(flags),
                                  guidOf(m.db.name + "|binding"),
                                  fork,
                                  Value::ofText("Chinese_PRC_CI_AS"),
                                  Value::ofText(familyGuid(m.db)),
                                  bit(false),
                                  bit(false),
                                  bit(m.db.readOnly),
                                  bit(singleUser),
                                  bit(m.checksum),
                                  bit(false),
                                  bit(false),
                                  bit(false),
                                  bit(false),
                                  bit(m.copyOnly),
                                  fork,
                                  Value::ofNull(),
                                  Value::ofText(m.db.dbid <= 4 ? "SIMPLE" : "FULL"),
                                  Value::ofNull(),
                                  Value::ofNull(),
                                  Value::ofText("DATABASE"),
                                  guidOf(setSeed),
                                  Value::ofInt(m.fileBytes)};
        if (major >= 11) {  // SQL Server 2012
            rs.columns.push_back(tinyint("containment"));
            row.push_back(Value::ofInt(0));
        }
        if (major >= 12) {  // SQL Server 2014 CU1; Null: not encrypted
            rs.columns.push_back(column("KeyAlgorithm", ColType::NVarChar, 32));
            rs.columns.push_back(column("EncryptorThumbprint", ColType::VarBinary, 20));
            rs.columns.push_back(column("EncryptorType", ColType::NVarChar, 32));
            row.insert(row.end(), {Value::ofNull(), Value::ofNull(), Value::ofNull()});
        }
        rs.rows.push_back(std::move(row));
    } else {
        Column type = col("Type", ColType::NVarChar, 1, true);
        type.wire = Column::Wire::Char;
        rs.columns = {column("LogicalName", ColType::NVarChar, 128),
                      column("PhysicalName", ColType::NVarChar, 260),
                      type,
                      column("FileGroupName", ColType::NVarChar, 128),
                      numeric("Size", 20),
                      numeric("MaxSize", 20),
                      column("FileID", ColType::BigInt),
                      numeric("CreateLSN", 25),
                      numeric("DropLSN", 25),
                      guid("UniqueID"),
                      numeric("ReadOnlyLSN", 25),
                      numeric("ReadWriteLSN", 25),
                      column("BackupSizeInBytes", ColType::BigInt),
                      column("SourceBlockSize", ColType::Int),
                      column("FileGroupID", ColType::Int),
                      guid("LogGroupGUID"),
                      numeric("DifferentialBaseLSN", 25),
                      guid("DifferentialBaseGUID"),
                      column("IsReadOnly", ColType::Bit),
                      column("IsPresent", ColType::Bit),
                      column("TDEThumbprint", ColType::VarBinary, 32)};
        if (major >= 13)  // SQL Server 2016
            rs.columns.push_back(column("SnapshotURL", ColType::NVarChar, 360));
        for (const auto& f : m.files) {
            const bool log = f.fileid == 2;  // as sys.master_files has it
            const int64_t bytes = f.size * 8192;
            // Unlimited growth: a data file's ceiling is 16 TB less a page's worth, a log's 2 TB.
            std::vector<Value> row = {Value::ofText(f.name),
                                      Value::ofText(f.filename),
                                      Value::ofText(log ? "L" : "D"),
                                      log ? Value::ofNull() : Value::ofText("PRIMARY"),
                                      number(bytes),
                                      number(log ? 2199023255552 : 35184372080640),
                                      Value::ofInt(f.fileid),
                                      number(0),
                                      Value::ofNull(),
                                      guidOf(m.db.name + "|file|" + std::to_string(f.fileid)),
                                      number(0),
                                      number(0),
                                      Value::ofInt(log ? 0 : bytes),
                                      Value::ofInt(512),
                                      Value::ofInt(log ? 0 : 1),
                                      Value::ofNull(),
                                      Value::ofNull(),
                                      Value::ofNull(),
                                      bit(false),
                                      bit(true),
                                      Value::ofNull()};
            if (major >= 13)
                row.push_back(Value::ofNull());
            rs.rows.push_back(std::move(row));
        }
    }
    p.rowCount = s.noCount ? -1 : static_cast<int64_t>(rs.rows.size());
    p.result = std::move(rs);
}

}  // namespace sandbox::sql
