// The parser's statements: the batch, each statement kind, table references and select lists.
#include "sandbox/sql/Parser.h"

#include <algorithm>
#include <set>

#include "sandbox/Text.h"

namespace sandbox::sql {

[[noreturn]] void Parser::fail() const {
    size_t at = k_;
    if (t_[at].kind == Token::Kind::End && at > 0)
        --at;
    const Token& t = t_[at];
    if (isReserved(t))
        throw ParseError{Message{.number = 156,
                                 .state = 1,
                                 .severity = 15,
                                 .text = "Incorrect syntax near the keyword '" + t.value + "'.",
                                 .line = t.line},
                         {}};
    std::string near = t.kind == Token::Kind::String || t.kind == Token::Kind::NString ? t.value : t.text;
    if (t.kind == Token::Kind::End)
        near = "";
    throw ParseError{Message{.number = 102,
                             .state = 1,
                             .severity = 15,
                             .text = "Incorrect syntax near '" + near + "'.",
                             .line = t.line},
                     {}};
}

std::vector<Statement> Parser::run() {
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

bool Parser::isOp(const char* op, size_t ahead) const {
    const Token& t = peek(ahead);
    return t.kind == Token::Kind::Op && t.value == op;
}

bool Parser::isWord(const char* w, size_t ahead) const {
    const Token& t = peek(ahead);
    return t.kind == Token::Kind::Ident && lower(t.value) == w;
}

bool Parser::isReserved(const Token& t) const {
    return t.kind == Token::Kind::Ident && isReservedWord(lower(t.value));
}

bool Parser::acceptWord(const char* w) {
    if (!isWord(w))
        return false;
    ++k_;
    return true;
}

bool Parser::acceptOp(const char* op) {
    if (!isOp(op))
        return false;
    ++k_;
    return true;
}

void Parser::expectWord(const char* w) {
    if (!acceptWord(w))
        fail();
}

void Parser::expectOp(const char* op) {
    if (!acceptOp(op))
        fail();
}

std::string Parser::name() {
    const Token& t = peek();
    if (t.kind == Token::Kind::QuotedIdent || (t.kind == Token::Kind::Ident && !isReserved(t))) {
        ++k_;
        return t.value;
    }
    fail();
}

Statement Parser::statement(bool first) {
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
    } else if (acceptWord("insert")) {
        insertBody(st);
    } else if (acceptWord("backup")) {
        backupBody(st);
    } else if (acceptWord("restore")) {
        restoreBody(st);
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
        if (acceptWord("try")) {
            st.kind = Statement::Kind::Try;
            st.body = statementsUntil("try");
            expectWord("begin");
            expectWord("catch");
            st.orElse = statementsUntil("catch");
        } else if (acceptWord("tran") || acceptWord("transaction")) {
            st.kind = Statement::Kind::BeginTran;
            tranName();
        } else {
            st.kind = Statement::Kind::Block;
            st.body = statementsUntil(nullptr);
        }
    } else if (acceptWord("if")) {
        st.kind = Statement::Kind::If;
        st.where = expr();
        st.body.push_back(inner());
        if (isOp(";") && isWord("else", 1))
            ++k_;
        if (acceptWord("else"))
            st.orElse.push_back(inner());
    } else if (acceptWord("return")) {
        st.kind = Statement::Kind::Return;
    } else if (acceptWord("print")) {
        st.kind = Statement::Kind::Print;
        st.procArgs.push_back(expr());
    } else if (acceptWord("raiserror")) {
        st.kind = Statement::Kind::Raiserror;
        expectOp("(");
        do
            st.procArgs.push_back(expr());
        while (acceptOp(","));
        expectOp(")");
        if (acceptWord("with")) {
            do
                st.with.push_back(upper(name()));
            while (acceptOp(","));
        }
    } else if (acceptWord("alter")) {
        expectWord("database");
        st.kind = Statement::Kind::AlterDatabase;
        st.names.push_back(name());
        expectWord("set");
        st.option = upper(name());
        if (acceptWord("with")) {
            st.with.push_back(upper(name()));
            if (st.with.back() == "ROLLBACK") {
                st.with.back() += " " + upper(name());
                if (peek().kind == Token::Kind::Number) {
                    ++k_;
                    acceptWord("seconds");
                }
            }
        }
    } else if (isWord("commit") || isWord("rollback")) {
        st.kind = isWord("commit") ? Statement::Kind::CommitTran : Statement::Kind::RollbackTran;
        ++k_;
        if (acceptWord("tran") || acceptWord("transaction"))
            tranName();
        else
            acceptWord("work");
    } else if (acceptWord("kill")) {
        st.kind = Statement::Kind::Kill;
        if (peek().kind != Token::Kind::Number)
            fail();
        st.killSpid = std::stoll(peek().value);
        ++k_;
    } else if (acceptWord("exec") || acceptWord("execute")) {
        execBody(st);
    } else if (first && t.kind == Token::Kind::Ident && !isReserved(t) && isProcedureLike(t.value)) {
        execBody(st);
    } else {
        fail();
    }
    return st;
}

// The statements of BEGIN ... END (kind null), END TRY or END CATCH.
std::vector<Statement> Parser::statementsUntil(const char* kind) {
    std::vector<Statement> out;
    for (;;) {
        while (isOp(";"))
            ++k_;
        if (isWord("end") || peek().kind == Token::Kind::End)
            break;
        out.push_back(inner());
    }
    expectWord("end");
    if (kind)
        expectWord(kind);
    return out;
}

// A statement inside IF, a block or TRY...CATCH, with its text and line as at the top.
Statement Parser::inner() {
    size_t startTok = k_;
    Statement st = statement(false);
    st.line = t_[startTok].line;
    st.text = sql_.substr(t_[startTok].pos, t_[k_ - 1].end - t_[startTok].pos);
    return st;
}

std::string Parser::upper(std::string w) {
    for (auto& c : w)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return w;
}

// A bare word at the start of a batch is a procedure call; only names of procedures are taken
// as such, so that a mistyped keyword reads as the syntax error it is.
bool Parser::isProcedureLike(const std::string& w) {
    std::string l = lower(w);
    return l.rfind("sp_", 0) == 0 || l.rfind("xp_", 0) == 0;
}

void Parser::tranName() {
    const Token& t = peek();
    if ((t.kind == Token::Kind::Ident && !isReserved(t) && !isStatementWord(t)) ||
        t.kind == Token::Kind::Variable)
        ++k_;
}

bool Parser::isStatementWord(const Token& t) const {
    static const std::set<std::string> w = {"tran", "work"};
    return w.count(lower(t.value)) > 0;
}

void Parser::execBody(Statement& st) {
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

void Parser::setBody(Statement& st) {
    st.kind = Statement::Kind::Set;
    const Token& t = peek();
    if (t.kind == Token::Kind::Variable) {
        ++k_;
        throw ParseError{{.number = 137,
                          .state = 1,
                          .severity = 15,
                          .text = "Must declare the scalar variable \"@" + t.value + "\".",
                          .line = t.line},
                         {}};
    }
    if (acceptWord("transaction")) {
        isolationLevel(st);
        return;
    }
    if (acceptWord("identity_insert")) {
        identityInsert(st);
        return;
    }
    if (t.kind != Token::Kind::Ident)
        fail();
    st.option = t.value;
    for (auto& c : st.option)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ++k_;
    if (!optionValue(st))
        throw ParseError{{.number = 195,
                          .state = 5,
                          .severity = 15,
                          .text = "'" + t.value + "' is not a recognized SET option.",
                          .line = t.line},
                         {}};
}

void Parser::isolationLevel(Statement& st) {
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
}

// The value of a SET option this server knows: ON/OFF, or a number or word. False: not an option.
bool Parser::optionValue(Statement& st) {
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
    static const std::set<std::string> valued = {
        "TEXTSIZE", "LOCK_TIMEOUT", "ROWCOUNT", "DATEFIRST", "DATEFORMAT", "LANGUAGE", "DEADLOCK_PRIORITY"};
    if (onOff.count(st.option)) {
        if (st.option == "STATISTICS")
            name();  // IO / TIME / PROFILE / XML
        if (acceptWord("on"))
            st.optionValue = "ON";
        else if (acceptWord("off"))
            st.optionValue = "OFF";
        else
            fail();
        return true;
    }
    if (!valued.count(st.option))
        return false;
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
    return true;
}

void Parser::joins(Statement& st) {
    for (;;) {
        JoinClause j;
        bool kind = false;  // a word that must be followed by JOIN
        if (acceptWord("left")) {
            j.left = kind = true;
            acceptWord("outer");
        } else {
            kind = acceptWord("inner");
        }
        if (!acceptWord("join")) {
            if (kind)
                fail();
            return;
        }
        j.table = tableRef(true);
        expectWord("on");
        j.on = expr();
        st.joins.push_back(std::move(j));
    }
}

TableRef Parser::tableRef(bool allowAlias) {
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
        // Table hints: UPDLOCK is what the sandbox acts on; HOLDLOCK, ROWLOCK and the like are
        // what its table locks do anyway.
        if (isWord("with") && isOp("(", 1)) {
            k_ += 2;
            do
                r.updLock = upper(name()) == "UPDLOCK" || r.updLock;
            while (acceptOp(","));
            expectOp(")");
        }
    }
    return r;
}

// One item of a select list: *, t.*, alias = expression, or an expression [[AS] alias].
SelectItem Parser::selectItem() {
    SelectItem item;
    if (acceptOp("*"))
        return item;
    if ((peek().kind == Token::Kind::Ident || peek().kind == Token::Kind::QuotedIdent) && isOp(".", 1) &&
        isOp("*", 2)) {
        item.starQualifier = peek().value;
        k_ += 3;
        return item;
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
    return item;
}

void Parser::selectBody(Statement& st) {
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
        st.items.push_back(selectItem());
    } while (acceptOp(","));
    if (acceptWord("from")) {
        st.from = tableRef(true);
        joins(st);
    }
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

}  // namespace sandbox::sql
