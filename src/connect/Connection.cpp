#include "connect/Connection.h"

#include "connect/ConnectionString.h"
#include "connect/access/DatabaseError.h"
#include "connect/freetds/FreeTdsBackend.h"
#include "connect/mariadb/MariaDbBackend.h"

namespace veltrane {
namespace {

BackendFactory& FactoryForTests() {
    static BackendFactory factory;
    return factory;
}

} // namespace

void SetBackendFactoryForTests(BackendFactory factory) {
    FactoryForTests() = std::move(factory);
}

Connection::Connection() = default;

Connection::~Connection() {
    try {
        Close();
    } catch (...) {
        // Closing is best effort when the connection is released.
    }
}

void Connection::Open(const std::string& connectionString) {
    if (backend_) {
        throw DatabaseError("Operation is not allowed when the object is open.");
    }
    ConnectionTarget target = ParseConnectionString(connectionString);
    if (const BackendFactory& factory = FactoryForTests()) {
        backend_ = factory(target, options_);
        return;
    }
    switch (target.kind) {
    case ServerKind::MySQL:
        backend_ = OpenMariaDbBackend(target, options_);
        break;
    case ServerKind::SybaseASE:
        backend_ = OpenFreeTdsBackend(target, options_);
        break;
    }
}

ConnectionBackend& Connection::OpenBackend() {
    if (!backend_) {
        throw ObjectClosedError();
    }
    return *backend_;
}

std::unique_ptr<ResultSet> Connection::Execute(const std::string& statement) {
    return OpenBackend().Execute(statement);
}

std::unique_ptr<ResultSet> Connection::OpenSchema(SchemaKind kind) {
    switch (kind) {
    case SchemaKind::Tables:
        return OpenBackend().OpenTablesSchema();
    }
    throw DatabaseError("Unsupported schema request.");
}

void Connection::Close() {
    if (backend_) {
        auto backend = std::move(backend_);
        backend->Close();
    }
}

} // namespace veltrane
