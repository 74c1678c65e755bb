#include "FakeBackend.h"

#include "connect/Connection.h"
#include "connect/access/SqlText.h"

#include <map>
#include <optional>
#include <utility>

namespace veltrane::testing {

struct FakeServer::State {
    struct Table {
        std::vector<FieldInfo> fields;
        std::vector<std::vector<DbValue>> rows;
    };
    struct Failure {
        ScriptedFailure script;
        int seen = 0;
    };

    ServerKind kind;
    std::map<std::string, Table> tablesBySelect; // keyed by the SELECT that returns them
    std::vector<Failure> failures;
    std::vector<std::string> statements;
};

namespace {

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

// A table's rows, positioned on the first.
class FakeRows : public ResultSet {
public:
    FakeRows(const FakeServer::State::Table& table, bool counted,
             const std::function<void()>& rowRead)
        : table_(table)
        , counted_(counted) {
        // A client-side cursor reads every row before the statement returns.
        if (counted_ && rowRead) {
            for (std::size_t i = 0; i < table_.rows.size(); ++i)
                rowRead();
        }
    }

    int FieldCount() const override { return static_cast<int>(table_.fields.size()); }
    const FieldInfo& Field(int index) const override {
        if (index < 0 || index >= FieldCount())
            throw UnknownFieldError(std::to_string(index));
        return table_.fields[static_cast<std::size_t>(index)];
    }
    const DbValue& Value(int index) const override {
        if (IsEOF())
            throw NoCurrentRecordError();
        if (index < 0 || index >= FieldCount())
            throw UnknownFieldError(std::to_string(index));
        return table_.rows[row_][static_cast<std::size_t>(index)];
    }
    std::int64_t RecordCount() const override {
        return counted_ ? static_cast<std::int64_t>(table_.rows.size()) : -1;
    }
    bool IsEOF() const override { return row_ >= table_.rows.size(); }
    void MoveNext() override {
        if (IsEOF())
            throw NoCurrentRecordError();
        ++row_;
    }
    void Close() override {}

private:
    FakeServer::State::Table table_;
    bool counted_;
    std::size_t row_ = 0;
};

class FakeSession : public ConnectionBackend {
public:
    FakeSession(std::shared_ptr<FakeServer::State> server, ConnectionOptions options)
        : server_(std::move(server))
        , options_(std::move(options)) {}

    std::unique_ptr<ResultSet> Execute(const std::string& statement) override {
        server_->statements.push_back(statement);
        if (lost_)
            throw *lost_;
        for (FakeServer::State::Failure& failure : server_->failures) {
            if (!StartsWith(statement, failure.script.statementStart) ||
                ++failure.seen != failure.script.nth)
                continue;
            DatabaseError error(failure.script.message, failure.script.number, statement,
                                failure.script.reason);
            if (error.ConnectionLost())
                lost_ = error;
            throw error;
        }
        if (const auto table = server_->tablesBySelect.find(statement);
            table != server_->tablesBySelect.end())
            return std::make_unique<FakeRows>(
                table->second, options_.cursorLocation == CursorLocation::Client, options_.rowRead);
        for (const char* writes : {"CREATE TABLE ", "INSERT INTO ", "DROP TABLE "}) {
            if (StartsWith(statement, writes))
                return nullptr;
        }
        throw DatabaseError("The fake server does not know this statement.", 0, statement);
    }

    std::unique_ptr<ResultSet> OpenTablesSchema() override {
        throw DatabaseError("The fake server has no tables schema.");
    }

    void Close() override {}

private:
    std::shared_ptr<FakeServer::State> server_;
    ConnectionOptions options_;
    std::optional<DatabaseError> lost_;
};

} // namespace

FakeServer::FakeServer(ServerKind kind)
    : state_(std::make_shared<State>()) {
    state_->kind = kind;
}

void FakeServer::AddTable(const std::string& name, std::vector<FieldInfo> fields,
                          std::vector<std::vector<DbValue>> rows) {
    state_->tablesBySelect["SELECT * FROM " + Quoted(name)] = {std::move(fields), std::move(rows)};
}

void FakeServer::FailAt(ScriptedFailure failure) {
    state_->failures.push_back({std::move(failure)});
}

const std::vector<std::string>& FakeServer::Statements() const {
    return state_->statements;
}

std::string FakeServer::Quoted(const std::string& name) const {
    return state_->kind == ServerKind::MySQL ? QuoteMySQLIdentifier(name)
                                             : QuoteSybaseIdentifier(name);
}

std::unique_ptr<ConnectionBackend> FakeServer::Open(const ConnectionTarget&,
                                                    const ConnectionOptions& options) {
    return std::make_unique<FakeSession>(state_, options);
}

FakeServers::FakeServers() {
    SetBackendFactoryForTests(
        [this](const ConnectionTarget& target, const ConnectionOptions& options) {
            return Of(target.kind).Open(target, options);
        });
}

FakeServers::~FakeServers() {
    SetBackendFactoryForTests(nullptr);
}

} // namespace veltrane::testing
