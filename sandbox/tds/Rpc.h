#pragma once
// RPC request: a procedure called by name or by number, with its parameters; reader and writer.

#include <cstdint>
#include <string>
#include <vector>

#include "sandbox/tds/Dialect.h"

namespace sandbox::tds {

// One parameter as its TYPE_INFO describes it ([MS-TDS] 2.2.6.6 RPC Request, 2.2.5.4 data types):
// integers, bits, floats, decimals, datetimes, binary and character data.
struct RpcParam {
    enum class Kind { Int, Text, Float, Decimal, DateTime, Binary };
    std::string name = {};
    bool output = false;
    bool isInt = false;  // kind Int
    bool null = true;
    int64_t i = 0;
    std::string text = {};  // UTF-8; a decimal's digits, a datetime as 'yyyy-mm-dd hh:mi:ss.mmm', raw bytes
    Kind kind = Kind::Text;
    bool wide = true;  // N'...' rather than '...'
    double f = 0;

    // The value as a T-SQL literal of its type: 12, N'a''b', 0x0A, NULL.
    std::string sqlLiteral() const;
};

// The statement with each parameter it names replaced by its value, as the server binds them:
// declaration is sp_executesql's "@a int, @b nvarchar(10)"; values come by name (@a) or, when
// unnamed, in the declared order. Names are matched without regard to case; text inside quotes,
// brackets and comments is left alone; a name without a value stays, for the server to refuse.
std::string bindParameters(const std::string& statement, const std::string& declaration,
                           const std::vector<RpcParam>& values);

struct RpcRequest {
    std::string name;  // a procedure called by number gets its name (sp_cursoropen, ...)
    uint16_t options = 0;
    std::vector<RpcParam> params;
    bool paramsRead = true;  // false: a parameter of a type not offered; params holds those before it

    // Throws ProtocolError when the procedure's name cannot be read. Of several calls in one
    // request (after a separator byte) only the first is read.
    static RpcRequest decode(const std::vector<uint8_t>& payload, Dialect d);
    // Parameters as INTN (isInt) or NVARCHAR; the procedure by name.
    std::vector<uint8_t> encode(Dialect d, uint64_t transaction = 0) const;
};

}  // namespace sandbox::tds
