// The parser's expressions, by precedence from OR down to a primary; and parseBatch, its entry.
#include "sandbox/sql/Parser.h"

#include <algorithm>

#include "sandbox/Text.h"
#include "sandbox/sql/Parse.h"
#include "sandbox/sql/Value.h"

namespace sandbox::sql {

ExprPtr Parser::make(Expr::Kind k) {
    auto e = std::make_unique<Expr>();
    e->kind = k;
    return e;
}

ExprPtr Parser::expr() {
    ExprPtr left = andExpr();
    while (acceptWord("or")) {
        ExprPtr e = make(Expr::Kind::Or);
        e->args.push_back(std::move(left));
        e->args.push_back(andExpr());
        left = std::move(e);
    }
    return left;
}

ExprPtr Parser::andExpr() {
    ExprPtr left = notExpr();
    while (acceptWord("and")) {
        ExprPtr e = make(Expr::Kind::And);
        e->args.push_back(std::move(left));
        e->args.push_back(notExpr());
        left = std::move(e);
    }
    return left;
}

ExprPtr Parser::notExpr() {
    if (acceptWord("not")) {
        ExprPtr e = make(Expr::Kind::Not);
        e->args.push_back(notExpr());
        return e;
    }
    return predicate();
}

ExprPtr Parser::predicate() {
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

ExprPtr Parser::additive() {
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

ExprPtr Parser::multiplicative() {
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

ExprPtr Parser::unary() {
    if (acceptOp("-")) {
        ExprPtr e = make(Expr::Kind::Neg);
        e->args.push_back(unary());
        return e;
    }
    if (acceptOp("+"))
        return unary();
    return primary();
}

// A number too large for bigint is read as float, as the server reads it as numeric.
ExprPtr Parser::number(const std::string& text) {
    if (text.find_first_of(".eE") != std::string::npos) {
        ExprPtr e = make(Expr::Kind::Float);
        e->f = std::stod(text);
        // Without an exponent it is a decimal literal, kept digit for digit (s holds its text):
        // https://learn.microsoft.com/en-us/sql/t-sql/data-types/constants-transact-sql
        if (text.find_first_of("eE") == std::string::npos)
            e->s = text;
        return e;
    }
    ExprPtr e = make(Expr::Kind::Int);
    try {
        e->i = std::stoll(text);
    } catch (...) {
        e->kind = Expr::Kind::Float;
        e->f = std::stod(text);
    }
    return e;
}

ExprPtr Parser::primary() {
    const Token& t = peek();
    switch (t.kind) {
        case Token::Kind::Number:
            ++k_;
            return number(t.value);
        case Token::Kind::String:
        case Token::Kind::NString: {
            ++k_;
            ExprPtr e = make(Expr::Kind::String);
            e->s = t.value;
            e->unicode = t.kind == Token::Kind::NString;
            return e;
        }
        case Token::Kind::Binary: {
            ++k_;
            ExprPtr e = make(Expr::Kind::Binary);
            e->s = fromHex(t.value);
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
            if (isOp("(") && isWord("select", 1)) {
                k_ += 2;
                ExprPtr e = make(Expr::Kind::Subquery);
                e->query = std::make_shared<Statement>();
                selectBody(*e->query);
                expectOp(")");
                return e;
            }
            if (acceptOp("(")) {
                ExprPtr e = expr();
                expectOp(")");
                return e;
            }
            fail();
        case Token::Kind::Ident:
            if (isWord("exists") && isOp("(", 1) && isWord("select", 2)) {
                k_ += 3;
                ExprPtr e = make(Expr::Kind::Exists);
                e->query = std::make_shared<Statement>();
                selectBody(*e->query);
                expectOp(")");
                return e;
            }
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

ExprPtr Parser::function() {
    ExprPtr e = make(Expr::Kind::Func);
    e->s = lower(peek().value);
    k_ += 2;  // name (
    if (e->s == "convert" || e->s == "cast")
        return conversion(std::move(e));
    if (acceptOp(")"))
        return e;
    if ((e->s == "count" || e->s == "binary_checksum") && acceptOp("*")) {
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

// Both forms become "convert" with the target in castTo; a style argument is kept but not applied.
ExprPtr Parser::conversion(ExprPtr e) {
    if (e->s == "cast") {
        e->args.push_back(expr());
        expectWord("as");
        e->castTo = dataType();
    } else {
        e->castTo = dataType();
        expectOp(",");
        e->args.push_back(expr());
        if (acceptOp(","))
            e->args.push_back(expr());
    }
    e->s = "convert";
    expectOp(")");
    return e;
}

// A type name with its length: "When n isn't specified with the CAST and CONVERT functions, the
// default length is 30" (nchar and nvarchar (Transact-SQL)).
Column Parser::dataType() {
    const Token& t = peek();
    const std::string type = lower(name());
    int length = 30;
    std::string declared = type;  // decimal(p,s) as written
    if (acceptOp("(")) {
        if (acceptWord("max")) {
            length = 4000;
        } else {
            if (peek().kind != Token::Kind::Number)
                fail();
            length = std::max(1, std::min(4000, std::atoi(peek().value.c_str())));
            declared += "(" + peek().value;
            ++k_;
            if (acceptOp(",")) {
                if (peek().kind != Token::Kind::Number)
                    fail();
                declared += "," + peek().value;
                ++k_;
            }
            declared += ")";
        }
        expectOp(")");
    }
    std::optional<Column> c = castTarget(type, length);
    if (c && c->type == ColType::Decimal)
        decimalFromDecl(declared, &*c);
    if (!c)
        throw ParseError{Message{.number = 243,
                                 .state = 2,
                                 .severity = 16,
                                 .text = "Type " + t.value + " is not a defined system type.",
                                 .line = t.line},
                         {}};
    return *c;
}

// 0x with an odd number of digits reads as if a 0 led them: 0xF is 0x0F.
std::string fromHex(const std::string& digits) {
    std::string d = digits.size() % 2 ? "0" + digits : digits;
    std::string out;
    for (size_t i = 0; i < d.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(d.substr(i, 2), nullptr, 16)));
    return out;
}

ParseResult parseBatch(const std::string& sql) {
    ParseResult r;
    try {
        std::vector<Token> toks = tokenize(sql);
        r.statements = Parser(sql, std::move(toks)).run();
    } catch (const ParseError& e) {
        r.statements.clear();
        r.errors.push_back(e.message);
        for (const auto& m : e.more)
            r.errors.push_back(m);
    }
    return r;
}

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && lower(a) == lower(b);
}

}  // namespace sandbox::sql
