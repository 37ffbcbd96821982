#include "Sandbox.h"

namespace sandbox {
struct Server::Impl {
    Options options;
    Engine engine;
    explicit Impl(Options o) : options(std::move(o)), engine(options.sqlitePath) {}
};
Server::Server(Options options) : d(std::make_unique<Impl>(std::move(options))) {}
Server::~Server() { stop(); }
bool Server::start(std::string*) { return false; }
void Server::stop() {}
uint16_t Server::port() const { return 0; }
std::string Server::serverName() const { return {}; }
Engine& Server::engine() { return d->engine; }
void Server::dropConnectionAfter(int) {}
void Server::setNeverAnswer(bool) {}
void Server::setRoundTripDelay(std::chrono::milliseconds) {}
uint64_t Server::roundTrips() const { return 0; }
}  // namespace sandbox
