#pragma once
// RPC request: a procedure called by name or by number, with its parameters; reader and writer.

#include <cstdint>
#include <string>
#include <vector>

#include "sandbox/tds/Dialect.h"

namespace sandbox::tds {

// One parameter; integers and text are read, the types clients send to the cursor procedures.
struct RpcParam {
    std::string name = {};
    bool output = false;
    bool isInt = false;
    bool null = true;
    int64_t i = 0;
    std::string text = {};  // UTF-8
};

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
