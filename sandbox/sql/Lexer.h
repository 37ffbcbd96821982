#pragma once
// Tokens of T-SQL text and the tokenizer; the syntax error both the tokenizer and the parser raise.

#include <string>
#include <vector>

#include "sandbox/Engine.h"

namespace sandbox::sql {

struct Token {
    enum class Kind { Ident, QuotedIdent, Number, Binary, String, NString, Variable, Global, Op, End };
    Kind kind = Kind::End;
    std::string text;   // as written
    std::string value;  // identifier without brackets, string without quotes, binary's hex digits
    size_t pos = 0, end = 0;
    int line = 1;
};

// Ends the parse of a batch: nothing of it runs.
struct ParseError {
    Message message;
    std::vector<Message> more;
};

bool isReservedWord(const std::string& lowerCaseWord);

// The tokens of the whole batch, ending in one of kind End. Throws ParseError.
std::vector<Token> tokenize(const std::string& sql);

}  // namespace sandbox::sql
