// The tokenizer of T-SQL text: words, quoted names, numbers, strings, variables, operators.
#include "sandbox/sql/Lexer.h"

#include <cctype>
#include <set>

namespace sandbox::sql {

namespace {

const std::set<std::string>& reserved() {
    static const std::set<std::string> words = {
        "add",         "all",      "backup",   "restore", "alter",   "and",    "any",       "as",
        "asc",         "begin",    "between",  "by",      "case",    "check",  "commit",    "create",
        "cross",       "database", "declare",  "default", "delete",  "desc",   "distinct",  "drop",
        "else",        "end",      "escape",   "exec",    "execute", "exists", "from",      "full",
        "function",    "grant",    "group",    "having",  "if",      "in",     "index",     "inner",
        "insert",      "into",     "is",       "join",    "left",    "like",   "not",       "null",
        "on",          "or",       "order",    "outer",   "percent", "print",  "procedure", "proc",
        "return",      "right",    "rollback", "select",  "set",     "table",  "then",      "top",
        "transaction", "truncate", "union",    "update",  "use",     "values", "view",      "when",
        "where",       "while",    "with"};
    return words;
}

bool isIdentStart(unsigned char c) {
    return std::isalpha(c) || c == '_' || c == '#' || c >= 0x80;
}
bool isIdentChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '#' || c == '@' || c == '$' || c >= 0x80;
}

class Lexer {
public:
    explicit Lexer(const std::string& s) : s_(s) {}

    std::vector<Token> run() {
        std::vector<Token> out;
        for (;;) {
            skipSpace();
            Token t;
            t.pos = i_;
            t.line = line_;
            if (i_ >= s_.size()) {
                t.end = i_;
                out.push_back(t);
                return out;
            }
            read(t);
            t.end = i_;
            t.text = s_.substr(t.pos, t.end - t.pos);
            out.push_back(t);
        }
    }

private:
    void read(Token& t) {
        unsigned char c = s_[i_];
        if ((c == 'N' || c == 'n') && i_ + 1 < s_.size() && s_[i_ + 1] == '\'') {
            ++i_;
            t.kind = Token::Kind::NString;
            t.value = quoted('\'', t);
        } else if (c == '\'') {
            t.kind = Token::Kind::String;
            t.value = quoted('\'', t);
        } else if (c == '[' || c == '"') {
            t.kind = Token::Kind::QuotedIdent;
            t.value = quoted(c == '[' ? ']' : '"', t);
        } else if (c == '@') {
            variable(t);
        } else if (c == '0' && i_ + 1 < s_.size() && (s_[i_ + 1] == 'x' || s_[i_ + 1] == 'X')) {
            i_ += 2;
            t.kind = Token::Kind::Binary;
            t.value = take([](unsigned char x) { return std::isxdigit(x) != 0; });
        } else if (isIdentStart(c)) {
            t.kind = Token::Kind::Ident;
            t.value = take([](unsigned char x) { return isIdentChar(x); });
        } else if (std::isdigit(c) ||
                   (c == '.' && i_ + 1 < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_ + 1])))) {
            t.kind = Token::Kind::Number;
            t.value = take([](unsigned char x) { return std::isdigit(x) || x == '.'; });
            exponent(t);
        } else {
            static const char* two[] = {"<>", "!=", "<=", ">=", "!<", "!>"};
            t.kind = Token::Kind::Op;
            size_t len = 1;
            for (const char* op : two)
                if (s_.compare(i_, 2, op) == 0)
                    len = 2;
            t.value = s_.substr(i_, len);
            i_ += len;
        }
    }

    // 1.25E3, 1e-05: a float literal.
    void exponent(Token& t) {
        size_t j = i_;
        if (j >= s_.size() || (s_[j] != 'e' && s_[j] != 'E'))
            return;
        ++j;
        if (j < s_.size() && (s_[j] == '+' || s_[j] == '-'))
            ++j;
        if (j >= s_.size() || !std::isdigit(static_cast<unsigned char>(s_[j])))
            return;
        while (j < s_.size() && std::isdigit(static_cast<unsigned char>(s_[j])))
            ++j;
        t.value += s_.substr(i_, j - i_);
        i_ = j;
    }

    // The run of characters from i_ that belong, consumed.
    template <typename Belongs>
    std::string take(Belongs belongs) {
        size_t j = i_;
        while (j < s_.size() && belongs(static_cast<unsigned char>(s_[j])))
            ++j;
        std::string v = s_.substr(i_, j - i_);
        i_ = j;
        return v;
    }

    void variable(Token& t) {
        const bool global = i_ + 1 < s_.size() && s_[i_ + 1] == '@';
        i_ += global ? 2 : 1;
        t.kind = global ? Token::Kind::Global : Token::Kind::Variable;
        t.value = take([](unsigned char x) { return isIdentChar(x); });
    }

    void skipSpace() {
        for (;;) {
            while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) {
                if (s_[i_] == '\n')
                    ++line_;
                ++i_;
            }
            if (s_.compare(i_, 2, "--") == 0) {
                while (i_ < s_.size() && s_[i_] != '\n')
                    ++i_;
            } else if (s_.compare(i_, 2, "/*") == 0) {
                int depth = 0;
                while (i_ < s_.size()) {
                    if (s_.compare(i_, 2, "/*") == 0) {
                        ++depth;
                        i_ += 2;
                    } else if (s_.compare(i_, 2, "*/") == 0) {
                        i_ += 2;
                        if (--depth == 0)
                            break;
                    } else {
                        if (s_[i_] == '\n')
                            ++line_;
                        ++i_;
                    }
                }
                if (depth > 0)
                    throw ParseError{Message{.number = 113,
                                             .state = 1,
                                             .severity = 15,
                                             .text = "Missing end comment mark '*/'.",
                                             .line = line_},
                                     {}};
            } else {
                return;
            }
        }
    }

    // The text between the opening character at i_ and close; a doubled close stands for itself.
    std::string quoted(char close, const Token& t) {
        std::string v;
        size_t j = i_ + 1;
        for (;;) {
            if (j >= s_.size()) {
                // The real server reports both: the unclosed literal and the syntax error after it.
                std::string head = s_.substr(i_ + 1);
                Message m105 =
                    Message{.number = 105,
                            .state = 1,
                            .severity = 15,
                            .text = "Unclosed quotation mark after the character string '" + head + "'.",
                            .line = t.line};
                Message m102 = Message{.number = 102,
                                       .state = 1,
                                       .severity = 15,
                                       .text = "Incorrect syntax near '" + head + "'.",
                                       .line = t.line};
                throw ParseError{m105, {m102}};
            }
            if (s_[j] == close) {
                if (j + 1 < s_.size() && s_[j + 1] == close) {
                    v.push_back(close);
                    j += 2;
                    continue;
                }
                break;
            }
            if (s_[j] == '\n')
                ++line_;
            v.push_back(s_[j]);
            ++j;
        }
        i_ = j + 1;
        return v;
    }

    const std::string& s_;
    size_t i_ = 0;
    int line_ = 1;
};

}  // namespace

bool isReservedWord(const std::string& lowerCaseWord) {
    return reserved().count(lowerCaseWord) > 0;
}

std::vector<Token> tokenize(const std::string& sql) {
    return Lexer(sql).run();
}

}  // namespace sandbox::sql
