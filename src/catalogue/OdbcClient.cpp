#include "OdbcClient.h"

namespace {
class OdbcClient final : public SqlClient {
public:
    SqlError open(const ConnectionSpec&) override { return notOpen(); }
    void close() override {}
    bool isOpen() const override { return false; }
    SqlResult query(const QString&) override { return {notOpen(), {}, {}}; }
    SqlError command(const QString&) override { return notOpen(); }

private:
    static SqlError notOpen() { return {SqlError::Kind::Connection, 0, QStringLiteral("not connected")}; }
};
}  // namespace

std::unique_ptr<SqlClient> makeOdbcClient() { return std::make_unique<OdbcClient>(); }
