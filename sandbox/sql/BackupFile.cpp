// The sandbox's backup file: what it holds, written and read with a checksum.
#include "sandbox/sql/BackupFile.h"

#include <cstdio>
#include <sstream>

namespace sandbox::sql {

namespace {

const char kMagic[] = "ACCTSET-SANDBOX-BACKUP 1\n";

// Fields are tab-separated on one line: a tab, line break or backslash in one is escaped.
std::string escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '\t' || c == '\n')
            out += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : "\\n";
        else
            out += c;
    }
    return out;
}

std::string unescaped(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char n = s[++i];
        out += n == 't' ? '\t' : n == 'n' ? '\n' : n;
    }
    return out;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == '\t')
            out.emplace_back();
        else
            out.back() += c;
    }
    for (auto& f : out)
        f = unescaped(f);
    return out;
}

std::string line(const std::vector<std::string>& f) {
    std::string out;
    for (size_t i = 0; i < f.size(); ++i)
        out += (i ? "\t" : "") + escaped(f[i]);
    return out + "\n";
}

bool readRows(std::istringstream& in, BackupImage* out) {
    std::string l;
    while (std::getline(in, l)) {
        auto f = fields(l);
        if (f[0] == "database" && f.size() == 8) {
            out->db = {.dbid = std::stoll(f[1]),
                       .name = f[2],
                       .state = f[3],
                       .crdate = f[4],
                       .filename = f[5],
                       .status = std::stoll(f[6]),
                       .cmptlevel = std::stoll(f[7])};
        } else if (f[0] == "file" && f.size() == 5) {
            out->files.push_back({std::stoll(f[1]), f[2], f[3], std::stoll(f[4])});
        } else if (f[0] == "time" && f.size() == 3) {
            out->started = f[1];
            out->finished = f[2];
        } else if (f[0] == "origin" && f.size() == 7) {
            out->serverName = f[1];
            out->userName = f[2];
            out->softwareVersion = f[3];
            out->databaseVersion = std::stoll(f[4]);
            out->copyOnly = f[5] == "1";
            out->checksum = f[6] == "1";
        } else if (f[0] == "payload" && f.size() == 2) {
            out->payload.resize(std::stoull(f[1]));
            return static_cast<bool>(
                in.read(out->payload.data(), static_cast<std::streamsize>(out->payload.size())));
        } else {
            return false;
        }
    }
    return false;
}

}  // namespace

int64_t BackupImage::pages() const {
    int64_t n = 0;
    for (const auto& f : files)
        n += f.size;
    return n;
}

std::string payloadFor(const std::string& database, int64_t pages) {
    std::string out(static_cast<size_t>(pages * kPayloadBytesPerPage), '\0');
    uint64_t x = fnv64(database);
    for (auto& c : out) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        c = static_cast<char>(x >> 56);
    }
    return out;
}

std::string encodeBackup(const BackupImage& m) {
    std::string body = kMagic;
    body += line({"database", std::to_string(m.db.dbid), m.db.name, m.db.state, m.db.crdate, m.db.filename,
                  std::to_string(m.db.status), std::to_string(m.db.cmptlevel)});
    for (const auto& f : m.files)
        body += line({"file", std::to_string(f.fileid), f.name, f.filename, std::to_string(f.size)});
    body += line({"time", m.started, m.finished});
    body += line({"origin", m.serverName, m.userName, m.softwareVersion, std::to_string(m.databaseVersion),
                  m.copyOnly ? "1" : "0", m.checksum ? "1" : "0"});
    body += line({"payload", std::to_string(m.payload.size())});
    body += m.payload;
    char sum[40];
    std::snprintf(sum, sizeof sum, "\nchecksum %016llx\n", static_cast<unsigned long long>(fnv64(body)));
    return body + sum;
}

BackupRead decodeBackup(const std::string& bytes, BackupImage* out) {
    if (bytes.compare(0, sizeof kMagic - 1, kMagic) != 0)
        return BackupRead::NotABackup;
    size_t at = bytes.rfind("\nchecksum ");
    if (at == std::string::npos || bytes.size() != at + 27)
        return BackupRead::Damaged;
    char sum[20];
    std::snprintf(sum, sizeof sum, "%016llx", static_cast<unsigned long long>(fnv64(bytes.substr(0, at))));
    if (bytes.compare(at + 10, 16, sum) != 0)
        return BackupRead::Damaged;
    std::istringstream in(bytes.substr(sizeof kMagic - 1, at - (sizeof kMagic - 1)));
    try {
        return readRows(in, out) ? BackupRead::Ok : BackupRead::Damaged;
    } catch (const std::exception&) {
        return BackupRead::Damaged;
    }
}

uint64_t fnv64(const std::string& s) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string guidText(const std::string& seed) {
    const uint64_t a = fnv64(seed), b = fnv64(seed + "#");
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-4%03X-8%03X-%012llX", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFF),
                  static_cast<unsigned>((b >> 48) & 0xFFF),
                  static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
    return buf;
}

// A restore keeps the creation date the backup holds, so name and date stand for the family.
std::string familyGuid(const DbRow& d) {
    return guidText(d.name + "|" + d.crdate + "|family");
}

}  // namespace sandbox::sql
