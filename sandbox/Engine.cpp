#include "Engine.h"

namespace sandbox {
struct Engine::Impl {};
Engine::Engine(const std::string&) : d(std::make_unique<Impl>()) {}
Engine::~Engine() = default;
void Engine::seedDemo() {}
void Engine::seedEmpty() {}
bool Engine::seedFile(const std::string&, std::string*) { return false; }
bool Engine::execRaw(const std::string&, std::string*) { return false; }
std::vector<std::string> Engine::queryRaw(const std::string&) { return {}; }
void Engine::addDatabase(const std::string&) {}
std::vector<std::string> Engine::databases() { return {}; }
void Engine::dropTable(const std::string&) {}
std::unique_ptr<Session> Engine::openSession(const std::string&) { return std::make_unique<Session>(); }
bool Engine::databaseExists(const std::string&) { return false; }
void Engine::closeSession(Session&) {}
void Engine::addForeignSession(ForeignSession) {}
void Engine::failStatements(const std::string&, Message, int) {}
BatchResult Engine::execBatch(Session&, const std::string&) { return {}; }
std::vector<std::string> Engine::statementLog() { return {}; }
void Engine::clearStatementLog() {}
}  // namespace sandbox
