#pragma once
// The token stream of a response: token and status codes, and the writer of every token the server sends.

#include <cstdint>
#include <string>
#include <vector>

#include "sandbox/Engine.h"
#include "sandbox/tds/Bytes.h"
#include "sandbox/tds/Dialect.h"

namespace sandbox::tds {

// Chinese_PRC_CI_AS: LCID 0x0804, case- and kana-insensitive, width-insensitive.
extern const uint8_t kCollation[5];
extern const char kServerName[];

// Types of the values the server sends and reads ([MS-TDS] 2.2.5.4).
enum DataType : uint8_t {
    kIntN = 0x26,
    kBitN = 0x68,
    kFltN = 0x6D,
    kDecimalN = 0x6A,
    kMoneyN = 0x6E,
    kDateTimeN = 0x6F,
    kNVarChar = 0xE7,
    kSsVariant = 0x62,
    kBigVarBinary = 0xA5,
    kGuid = 0x24,
    kBigChar = 0xAF,
};

enum Token : uint8_t {
    kReturnStatus = 0x79,
    kColMetadata = 0x81,
    kError = 0xAA,
    kInfo = 0xAB,
    kReturnValue = 0xAC,
    kLoginAck = 0xAD,
    kFeatureExtAck = 0xAE,
    kRow = 0xD1,
    kNbcRow = 0xD2,
    kEnvChange = 0xE3,
    kDone = 0xFD,
    kDoneProc = 0xFE,
    kDoneInProc = 0xFF,
};
enum DoneStatus : uint16_t {
    kDoneFinal = 0x00,
    kDoneMore = 0x01,
    kDoneError = 0x02,
    kDoneCount = 0x10,
    kDoneAttn = 0x20,
};
enum EnvType : uint8_t {
    kEnvDatabase = 1,
    kEnvLanguage = 2,
    kEnvPacketSize = 4,
    kEnvCollation = 7,
    kEnvBeginTran = 8,
    kEnvCommitTran = 9,
    kEnvRollbackTran = 10,
};

class TokenWriter {
public:
    explicit TokenWriter(Dialect d) : d_(d) {}
    // Everything a login that succeeded is answered with, in the order SQL Server sends it.
    // progVersion: the product version, major.minor.build as LOGINACK writes it (15.0.2000 here).
    void loginAccepted(const std::string& database, size_t packetSize, bool utf8Feature,
                       uint32_t progVersion = 0x0F0007D0);
    void loginAck(uint32_t progVersion = 0x0F0007D0);
    void featureExtAckUtf8();
    void envChange(EnvType type, const std::string& newValue, const std::string& oldValue);
    void envChangeBytes(EnvType type, const std::vector<uint8_t>& newValue,
                        const std::vector<uint8_t>& oldValue);
    void tranChange(EnvType type, uint64_t descriptor);  // begin: new value; commit/rollback: old
    void message(const Message& m, const std::string& procName = {});
    void done(Token token, uint16_t status, uint16_t curCmd, uint64_t rows);
    void colMetadata(const std::vector<Column>& cols);
    void row(const std::vector<Column>& cols, const std::vector<Value>& values);
    void returnStatus(int32_t v);
    void returnValueInt(uint16_t ordinal, const std::string& name, int32_t v);
    // Every piece of one batch, ending in a DONE without the "more" flag. tranDescriptor is the
    // session's open transaction before the batch, for the commit and rollback changes.
    // insideProc: the statements of a procedure call, each ending in DONEINPROC with "more" set,
    // for the caller to end with DONEPROC.
    void batch(const BatchResult& r, uint64_t tranDescriptor, const std::string& databaseBefore,
               bool insideProc = false);
    std::vector<uint8_t>& data() { return w_.data(); }

private:
    void typeInfo(const Column& c);
    void value(const Column& c, const Value& v);
    void variantValue(const Column& c, const Value& v);  // c.variant: base type NVARCHAR only
    Dialect d_;
    Writer w_;
};

}  // namespace sandbox::tds
