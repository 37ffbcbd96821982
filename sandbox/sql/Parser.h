#pragma once
// The parser of one batch: statements and the expressions within them, from the tokenizer's tokens.

#include <string>
#include <vector>

#include "sandbox/sql/Ast.h"
#include "sandbox/sql/Lexer.h"

namespace sandbox::sql {

class Parser {
public:
    Parser(const std::string& sql, std::vector<Token> toks) : sql_(sql), t_(std::move(toks)) {}
    std::vector<Statement> run();

private:
    const Token& peek(size_t ahead = 0) const { return t_[std::min(k_ + ahead, t_.size() - 1)]; }
    [[noreturn]] void fail() const;
    bool isOp(const char* op, size_t ahead = 0) const;
    bool isWord(const char* w, size_t ahead = 0) const;
    bool isReserved(const Token& t) const;
    bool acceptWord(const char* w);
    bool acceptOp(const char* op);
    void expectWord(const char* w);
    void expectOp(const char* op);
    std::string name();
    Statement statement(bool first);
    std::vector<Statement> statementsUntil(const char* kind);
    Statement inner();
    static std::string upper(std::string w);
    // A bare word at the start of a batch is a procedure call; only names of procedures are taken
    // as such, so that a mistyped keyword reads as the syntax error it is.
    static bool isProcedureLike(const std::string& w);
    void tranName();
    bool isStatementWord(const Token& t) const;
    void execBody(Statement& st);
    void setBody(Statement& st);
    void isolationLevel(Statement& st);
    bool optionValue(Statement& st);
    TableRef tableRef(bool allowAlias);
    void joins(Statement& st);
    void selectBody(Statement& st);
    // ParserWrite.cpp
    void insertBody(Statement& st);
    std::vector<ExprPtr> valueList();
    void identityInsert(Statement& st);
    void backupBody(Statement& st);
    void restoreBody(Statement& st);
    void diskAndOptions(Statement& st, const char* preposition);
    SelectItem selectItem();
    static ExprPtr make(Expr::Kind k);
    ExprPtr expr();
    ExprPtr andExpr();
    ExprPtr notExpr();
    ExprPtr predicate();
    ExprPtr additive();
    ExprPtr multiplicative();
    ExprPtr unary();
    ExprPtr primary();
    ExprPtr number(const std::string& text);
    ExprPtr function();
    ExprPtr conversion(ExprPtr e);  // CONVERT(type, x [, style]) and CAST(x AS type)
    Column dataType();

    const std::string& sql_;
    std::vector<Token> t_;
    size_t k_ = 0;
};

}  // namespace sandbox::sql
