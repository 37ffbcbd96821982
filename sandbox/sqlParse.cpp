#include "sandbox/sqlParse.h"

#include "sandbox/Text.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace sandbox::sql {

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && lower(a) == lower(b);
}

namespace {

struct Token {
    enum class Kind { Ident, QuotedIdent, Number, String, NString, Variable, Global, Op, End };
    Kind kind = Kind::End;
    std::string text;   // as written
    std::string value;  // identifier without brackets, string without quotes
    size_t pos = 0, end = 0;
    int line = 1;
};

const std::set<std::string>& reserved() {
    static const std::set<std::string> words = {
        "add",      "all",     "alter",   "and",    "any",       "as",     "asc",         "begin",
        "between",  "by",      "case",    "check",  "commit",    "create", "cross",       "database",
        "declare",  "default", "delete",  "desc",   "distinct",  "drop",   "else",        "end",
        "escape",   "exec",    "execute", "exists", "from",      "full",   "function",    "grant",
        "group",    "having",  "if",      "in",     "index",     "inner",  "insert",      "into",
        "is",       "join",    "left",    "like",   "not",       "null",   "on",          "or",
        "order",    "outer",   "percent", "print",  "procedure", "proc",   "return",      "right",
        "rollback", "select",  "set",     "table",  "then",      "top",    "transaction", "truncate",
        "union",    "update",  "use",     "values", "view",      "when",   "where",       "while",
        "with"};
    return words;
}

bool isIdentStart(unsigned char c) {
    return std::isalpha(c) || c == '_' || c == '#' || c >= 0x80;
}
bool isIdentChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '#' || c == '@' || c == '$' || c >= 0x80;
}

struct ParseError {
    Message message;
    std::vector<Message> more;
};

Message syntaxMessage(int number, int state, std::string text, int line) {
    Message m;
    m.number = number;
    m.state = state;
    m.severity = 15;
    m.text = std::move(text);
    m.line = line;
    return m;
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
            unsigned char c = s_[i_];
            if ((c == 'N' || c == 'n') && i_ + 1 < s_.size() && s_[i_ + 1] == '\'') {
                ++i_;
                t.kind = Token::Kind::NString;
                t.value = quoted('\'', t);
            } else if (c == '\'') {
                t.kind = Token::Kind::String;
                t.value = quoted('\'', t);
            } else if (c == '[') {
                t.kind = Token::Kind::QuotedIdent;
                t.value = quoted(']', t);
            } else if (c == '"') {
                t.kind = Token::Kind::QuotedIdent;
                t.value = quoted('"', t);
            } else if (c == '@') {
                size_t j = i_ + 1;
                bool global = j < s_.size() && s_[j] == '@';
                if (global)
                    ++j;
                while (j < s_.size() && isIdentChar(s_[j]))
                    ++j;
                t.kind = global ? Token::Kind::Global : Token::Kind::Variable;
                t.value = s_.substr(i_ + (global ? 2 : 1), j - i_ - (global ? 2 : 1));
                i_ = j;
            } else if (isIdentStart(c)) {
                size_t j = i_;
                while (j < s_.size() && isIdentChar(s_[j]))
                    ++j;
                t.kind = Token::Kind::Ident;
                t.value = s_.substr(i_, j - i_);
                i_ = j;
            } else if (std::isdigit(c) || (c == '.' && i_ + 1 < s_.size() &&
                                           std::isdigit(static_cast<unsigned char>(s_[i_ + 1])))) {
                size_t j = i_;
                while (j < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[j])) || s_[j] == '.'))
                    ++j;
                t.kind = Token::Kind::Number;
                t.value = s_.substr(i_, j - i_);
                i_ = j;
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
            t.end = i_;
            t.text = s_.substr(t.pos, t.end - t.pos);
            out.push_back(t);
        }
    }

private:
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
                    throw ParseError{syntaxMessage(113, 1, "Missing end comment mark '*/'.", line_), {}};
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
                Message m105 = syntaxMessage(
                    105, 1, "Unclosed quotation mark after the character string '" + head + "'.", t.line);
                Message m102 = syntaxMessage(102, 1, "Incorrect syntax near '" + head + "'.", t.line);
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

class Parser {
public:
    Parser(const std::string& sql, std::vector<Token> toks) : sql_(sql), t_(std::move(toks)) {}

    std::vector<Statement> run() {
        std::vector<Statement> out;
        bool first = true;
        for (;;) {
            while (isOp(";"))
                ++k_;
            if (peek().kind == Token::Kind::End)
                break;
            size_t startTok = k_;
            Statement st = statement(first);
            st.line = t_[startTok].line;
            size_t endPos = t_[k_ - 1].end;
            st.text = sql_.substr(t_[startTok].pos, endPos - t_[startTok].pos);
            out.push_back(std::move(st));
            first = false;
        }
        return out;
    }

private:
    const Token& peek(size_t ahead = 0) const { return t_[std::min(k_ + ahead, t_.size() - 1)]; }
    bool isOp(const char* op, size_t ahead = 0) const {
        const Token& t = peek(ahead);
        return t.kind == Token::Kind::Op && t.value == op;
    }
    bool isWord(const char* w, size_t ahead = 0) const {
        const Token& t = peek(ahead);
        return t.kind == Token::Kind::Ident && lower(t.value) == w;
    }
    bool isReserved(const Token& t) const {
        return t.kind == Token::Kind::Ident && reserved().count(lower(t.value));
    }
    bool acceptWord(const char* w) {
        if (!isWord(w))
            return false;
        ++k_;
        return true;
    }
    bool acceptOp(const char* op) {
        if (!isOp(op))
            return false;
        ++k_;
        return true;
    }

    [[noreturn]] void fail() const {
        size_t at = k_;
        if (t_[at].kind == Token::Kind::End && at > 0)
            --at;
        const Token& t = t_[at];
        if (isReserved(t))
            throw ParseError{
                syntaxMessage(156, 1, "Incorrect syntax near the keyword '" + t.value + "'.", t.line), {}};
        std::string near = t.kind == Token::Kind::String || t.kind == Token::Kind::NString ? t.value : t.text;
        if (t.kind == Token::Kind::End)
            near = "";
        throw ParseError{syntaxMessage(102, 1, "Incorrect syntax near '" + near + "'.", t.line), {}};
    }
    void expectWord(const char* w) {
        if (!acceptWord(w))
            fail();
    }
    void expectOp(const char* op) {
        if (!acceptOp(op))
            fail();
    }
    std::string name() {
        const Token& t = peek();
        if (t.kind == Token::Kind::QuotedIdent || (t.kind == Token::Kind::Ident && !isReserved(t))) {
            ++k_;
            return t.value;
        }
        fail();
    }

    Statement statement(bool first) {
        Statement st;
        const Token& t = peek();
        if (acceptWord("select")) {
            st.kind = Statement::Kind::Select;
            selectBody(st);
        } else if (acceptWord("delete")) {
            st.kind = Statement::Kind::Delete;
            acceptWord("from");
            st.from = tableRef(false);
            if (acceptWord("where"))
                st.where = expr();
        } else if (acceptWord("drop")) {
            if (acceptWord("database")) {
                st.kind = Statement::Kind::DropDatabase;
                do
                    st.names.push_back(name());
                while (acceptOp(","));
            } else {
                std::string kind = lower(peek().value);
                if (kind != "table" && kind != "view" && kind != "procedure" && kind != "proc" &&
                    kind != "function")
                    fail();
                ++k_;
                st.kind = Statement::Kind::DropOther;
                TableRef r = tableRef(false);
                st.names = {r.parts.back(), kind == "proc" ? "procedure" : kind};
            }
        } else if (acceptWord("use")) {
            st.kind = Statement::Kind::Use;
            st.names.push_back(name());
        } else if (acceptWord("set")) {
            setBody(st);
        } else if (acceptWord("begin")) {
            if (!acceptWord("tran") && !acceptWord("transaction"))
                fail();
            st.kind = Statement::Kind::BeginTran;
            tranName();
        } else if (isWord("commit") || isWord("rollback")) {
            st.kind = isWord("commit") ? Statement::Kind::CommitTran : Statement::Kind::RollbackTran;
            ++k_;
            if (acceptWord("tran") || acceptWord("transaction"))
                tranName();
            else
                acceptWord("work");
        } else if (acceptWord("exec") || acceptWord("execute")) {
            execBody(st);
        } else if (first && t.kind == Token::Kind::Ident && !isReserved(t) && isProcedureLike(t.value)) {
            execBody(st);
        } else {
            fail();
        }
        return st;
    }

    // A bare word at the start of a batch is a procedure call; only names of procedures are taken
    // as such, so that a mistyped keyword reads as the syntax error it is.
    static bool isProcedureLike(const std::string& w) {
        std::string l = lower(w);
        return l.rfind("sp_", 0) == 0 || l.rfind("xp_", 0) == 0;
    }

    void tranName() {
        const Token& t = peek();
        if ((t.kind == Token::Kind::Ident && !isReserved(t) && !isStatementWord(t)) ||
            t.kind == Token::Kind::Variable)
            ++k_;
    }
    bool isStatementWord(const Token& t) const {
        static const std::set<std::string> w = {"tran", "work"};
        return w.count(lower(t.value)) > 0;
    }

    void execBody(Statement& st) {
        st.kind = Statement::Kind::Exec;
        TableRef r = tableRef(false);
        st.proc = r.written;
        if (peek().kind == Token::Kind::End || isOp(";") || isReserved(peek()))
            return;
        do {
            if (peek().kind == Token::Kind::Variable && isOp("=", 1))
                k_ += 2;
            st.procArgs.push_back(unary());
        } while (acceptOp(","));
    }

    void setBody(Statement& st) {
        st.kind = Statement::Kind::Set;
        const Token& t = peek();
        if (t.kind == Token::Kind::Variable) {
            ++k_;
            Message m;
            m.number = 137;
            m.state = 1;
            m.severity = 15;
            m.text = "Must declare the scalar variable \"@" + t.value + "\".";
            m.line = t.line;
            throw ParseError{m, {}};
        }
        if (acceptWord("transaction")) {
            expectWord("isolation");
            expectWord("level");
            std::string level;
            while (peek().kind == Token::Kind::Ident && !isOp(";") &&
                   (isWord("read") || isWord("uncommitted") || isWord("committed") || isWord("repeatable") ||
                    isWord("serializable") || isWord("snapshot"))) {
                level += (level.empty() ? "" : " ") + peek().value;
                ++k_;
            }
            if (level.empty())
                fail();
            st.option = "TRANSACTION ISOLATION LEVEL";
            st.optionValue = level;
            return;
        }
        if (t.kind != Token::Kind::Ident)
            fail();
        st.option = t.value;
        for (auto& c : st.option)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ++k_;
        static const std::set<std::string> onOff = {"XACT_ABORT",
                                                    "NOCOUNT",
                                                    "ANSI_NULLS",
                                                    "ANSI_WARNINGS",
                                                    "ANSI_PADDING",
                                                    "ANSI_NULL_DFLT_ON",
                                                    "ANSI_DEFAULTS",
                                                    "QUOTED_IDENTIFIER",
                                                    "CONCAT_NULL_YIELDS_NULL",
                                                    "ARITHABORT",
                                                    "NUMERIC_ROUNDABORT",
                                                    "IMPLICIT_TRANSACTIONS",
                                                    "CURSOR_CLOSE_ON_COMMIT",
                                                    "FMTONLY",
                                                    "NOEXEC",
                                                    "PARSEONLY",
                                                    "SHOWPLAN_ALL",
                                                    "STATISTICS"};
        static const std::set<std::string> valued = {"TEXTSIZE",         "LOCK_TIMEOUT", "ROWCOUNT",
                                                     "DATEFIRST",        "DATEFORMAT",   "LANGUAGE",
                                                     "DEADLOCK_PRIORITY"};
        if (onOff.count(st.option)) {
            if (st.option == "STATISTICS") {
                name();  // IO / TIME / PROFILE / XML
            }
            if (acceptWord("on"))
                st.optionValue = "ON";
            else if (acceptWord("off"))
                st.optionValue = "OFF";
            else
                fail();
        } else if (valued.count(st.option)) {
            const Token& v = peek();
            if (v.kind == Token::Kind::Op && v.value == "-" && peek(1).kind == Token::Kind::Number) {
                st.optionValue = "-" + peek(1).value;
                k_ += 2;
            } else if (v.kind == Token::Kind::Number || v.kind == Token::Kind::Ident ||
                       v.kind == Token::Kind::String || v.kind == Token::Kind::NString) {
                st.optionValue = v.value;
                ++k_;
            } else {
                fail();
            }
        } else {
            Message m;
            m.number = 195;
            m.state = 5;
            m.severity = 15;
            m.text = "'" + t.value + "' is not a recognized SET option.";
            m.line = t.line;
            throw ParseError{m, {}};
        }
    }

    TableRef tableRef(bool allowAlias) {
        TableRef r;
        r.parts.push_back(name());
        while (acceptOp(".")) {
            if (isOp(".")) {
                r.parts.push_back("");  // db..table
                continue;
            }
            r.parts.push_back(name());
        }
        if (r.parts.size() > 4)
            fail();
        for (size_t i = 0; i < r.parts.size(); ++i)
            r.written += (i ? "." : "") + r.parts[i];
        if (allowAlias) {
            if (acceptWord("as"))
                r.alias = name();
            else if (peek().kind == Token::Kind::QuotedIdent ||
                     (peek().kind == Token::Kind::Ident && !isReserved(peek())))
                r.alias = name();
        }
        return r;
    }

    void selectBody(Statement& st) {
        if (acceptWord("distinct"))
            st.distinct = true;
        else
            acceptWord("all");
        if (acceptWord("top")) {
            bool paren = acceptOp("(");
            if (peek().kind != Token::Kind::Number)
                fail();
            st.top = std::stoll(peek().value);
            ++k_;
            if (paren)
                expectOp(")");
        }
        do {
            SelectItem item;
            if (acceptOp("*")) {
                st.items.push_back(std::move(item));
                continue;
            }
            if ((peek().kind == Token::Kind::Ident || peek().kind == Token::Kind::QuotedIdent) &&
                isOp(".", 1) && isOp("*", 2)) {
                item.starQualifier = peek().value;
                k_ += 3;
                st.items.push_back(std::move(item));
                continue;
            }
            if ((peek().kind == Token::Kind::QuotedIdent ||
                 (peek().kind == Token::Kind::Ident && !isReserved(peek()))) &&
                isOp("=", 1)) {
                item.alias = peek().value;
                k_ += 2;
                item.expr = expr();
            } else {
                item.expr = expr();
                if (acceptWord("as")) {
                    if (peek().kind == Token::Kind::String || peek().kind == Token::Kind::NString) {
                        item.alias = peek().value;
                        ++k_;
                    } else {
                        item.alias = name();
                    }
                } else if (peek().kind == Token::Kind::QuotedIdent || peek().kind == Token::Kind::String ||
                           (peek().kind == Token::Kind::Ident && !isReserved(peek()))) {
                    item.alias = peek().value;
                    ++k_;
                }
            }
            st.items.push_back(std::move(item));
        } while (acceptOp(","));
        if (acceptWord("from"))
            st.from = tableRef(true);
        if (acceptWord("where"))
            st.where = expr();
        if (acceptWord("order")) {
            expectWord("by");
            do {
                OrderItem o;
                o.expr = expr();
                if (acceptWord("desc"))
                    o.desc = true;
                else
                    acceptWord("asc");
                st.order.push_back(std::move(o));
            } while (acceptOp(","));
        }
    }

    static ExprPtr make(Expr::Kind k) {
        auto e = std::make_unique<Expr>();
        e->kind = k;
        return e;
    }

    ExprPtr expr() {
        ExprPtr left = andExpr();
        while (acceptWord("or")) {
            ExprPtr e = make(Expr::Kind::Or);
            e->args.push_back(std::move(left));
            e->args.push_back(andExpr());
            left = std::move(e);
        }
        return left;
    }
    ExprPtr andExpr() {
        ExprPtr left = notExpr();
        while (acceptWord("and")) {
            ExprPtr e = make(Expr::Kind::And);
            e->args.push_back(std::move(left));
            e->args.push_back(notExpr());
            left = std::move(e);
        }
        return left;
    }
    ExprPtr notExpr() {
        if (acceptWord("not")) {
            ExprPtr e = make(Expr::Kind::Not);
            e->args.push_back(notExpr());
            return e;
        }
        return predicate();
    }
    ExprPtr predicate() {
        ExprPtr left = additive();
        static const char* cmp[] = {"=", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"};
        for (const char* op : cmp) {
            if (isOp(op)) {
                ++k_;
                ExprPtr e = make(Expr::Kind::Compare);
                std::string o = op;
                e->op = o == "!=" ? "<>" : o == "!<" ? ">=" : o == "!>" ? "<=" : o;
                e->args.push_back(std::move(left));
                e->args.push_back(additive());
                return e;
            }
        }
        bool negated = false;
        if (isWord("not") && (isWord("like", 1) || isWord("in", 1) || isWord("between", 1))) {
            negated = true;
            ++k_;
        }
        if (acceptWord("like")) {
            ExprPtr e = make(Expr::Kind::Like);
            e->negated = negated;
            e->args.push_back(std::move(left));
            e->args.push_back(additive());
            if (acceptWord("escape"))
                e->args.push_back(additive());
            return e;
        }
        if (acceptWord("in")) {
            ExprPtr e = make(Expr::Kind::In);
            e->negated = negated;
            e->args.push_back(std::move(left));
            expectOp("(");
            do
                e->args.push_back(additive());
            while (acceptOp(","));
            expectOp(")");
            return e;
        }
        if (acceptWord("between")) {
            ExprPtr e = make(Expr::Kind::Between);
            e->negated = negated;
            e->args.push_back(std::move(left));
            e->args.push_back(additive());
            expectWord("and");
            e->args.push_back(additive());
            return e;
        }
        if (negated)
            fail();
        if (acceptWord("is")) {
            ExprPtr e = make(Expr::Kind::IsNull);
            e->negated = acceptWord("not");
            expectWord("null");
            e->args.push_back(std::move(left));
            return e;
        }
        return left;
    }
    ExprPtr additive() {
        ExprPtr left = multiplicative();
        while (isOp("+") || isOp("-")) {
            ExprPtr e = make(Expr::Kind::Arith);
            e->op = peek().value;
            ++k_;
            e->args.push_back(std::move(left));
            e->args.push_back(multiplicative());
            left = std::move(e);
        }
        return left;
    }
    ExprPtr multiplicative() {
        ExprPtr left = unary();
        while (isOp("*") || isOp("/") || isOp("%")) {
            ExprPtr e = make(Expr::Kind::Arith);
            e->op = peek().value;
            ++k_;
            e->args.push_back(std::move(left));
            e->args.push_back(unary());
            left = std::move(e);
        }
        return left;
    }
    ExprPtr unary() {
        if (acceptOp("-")) {
            ExprPtr e = make(Expr::Kind::Neg);
            e->args.push_back(unary());
            return e;
        }
        if (acceptOp("+"))
            return unary();
        return primary();
    }
    ExprPtr primary() {
        const Token& t = peek();
        switch (t.kind) {
            case Token::Kind::Number: {
                ++k_;
                if (t.value.find('.') != std::string::npos) {
                    ExprPtr e = make(Expr::Kind::Float);
                    e->f = std::stod(t.value);
                    return e;
                }
                ExprPtr e = make(Expr::Kind::Int);
                try {
                    e->i = std::stoll(t.value);
                } catch (...) {
                    e->kind = Expr::Kind::Float;
                    e->f = std::stod(t.value);
                }
                return e;
            }
            case Token::Kind::String:
            case Token::Kind::NString: {
                ++k_;
                ExprPtr e = make(Expr::Kind::String);
                e->s = t.value;
                e->unicode = t.kind == Token::Kind::NString;
                return e;
            }
            case Token::Kind::Global: {
                ++k_;
                ExprPtr e = make(Expr::Kind::Global);
                e->s = lower(t.value);
                return e;
            }
            case Token::Kind::Variable: {
                ++k_;
                ExprPtr e = make(Expr::Kind::Variable);
                e->s = t.value;
                return e;
            }
            case Token::Kind::Op:
                if (acceptOp("(")) {
                    ExprPtr e = expr();
                    expectOp(")");
                    return e;
                }
                fail();
            case Token::Kind::Ident:
                if (acceptWord("null"))
                    return make(Expr::Kind::Null);
                if (isOp("(", 1) && !isReserved(t))
                    return function();
                [[fallthrough]];
            case Token::Kind::QuotedIdent: {
                ExprPtr e = make(Expr::Kind::Column);
                e->parts.push_back(name());
                while (acceptOp("."))
                    e->parts.push_back(name());
                if (e->parts.size() > 4)
                    fail();
                return e;
            }
            case Token::Kind::End:
                fail();
        }
        fail();
    }
    ExprPtr function() {
        ExprPtr e = make(Expr::Kind::Func);
        e->s = lower(peek().value);
        k_ += 2;  // name (
        if (acceptOp(")"))
            return e;
        if (e->s == "count" && acceptOp("*")) {
            e->args.push_back(make(Expr::Kind::Star));
            expectOp(")");
            return e;
        }
        if (acceptWord("distinct"))
            e->distinctArg = true;
        else
            acceptWord("all");
        do
            e->args.push_back(expr());
        while (acceptOp(","));
        expectOp(")");
        return e;
    }

    const std::string& sql_;
    std::vector<Token> t_;
    size_t k_ = 0;
};

}  // namespace

ParseResult parseBatch(const std::string& sql) {
    ParseResult r;
    try {
        std::vector<Token> toks = Lexer(sql).run();
        r.statements = Parser(sql, std::move(toks)).run();
    } catch (const ParseError& e) {
        r.statements.clear();
        r.errors.push_back(e.message);
        for (const auto& m : e.more)
            r.errors.push_back(m);
    }
    return r;
}

}  // namespace sandbox::sql
