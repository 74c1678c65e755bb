// Building one INSERT statement for a row of 10 fields of 20 bytes, against two baselines
// measured in the same run: copying the finished statement into a reused buffer (the floor),
// and building it by plain string concatenation with a fresh text per value. Also counts heap
// allocations per statement, and, when a MariaDB test server is configured, measures one
// server round trip (SELECT 1 through Connection::Execute) for scale.
//
// Usage: bench_insert_statement [statements per round, default 200000] [rounds, default 5]
// For the round trip: source scripts/lib/servers.sh; start_mariadb build/bench-mariadb; then
// run this; stop_mariadb.

#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"
#include "connect/access/ResultSet.h"
#include "transfer/statements/RowStatements.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using Clock = std::chrono::steady_clock;
using veltrane::DbValue;
using veltrane::ServerKind;

// Ten 20-byte texts, one with a quote to double, plus a mixed row of typical column kinds.
std::vector<DbValue> TextRow() {
    std::vector<DbValue> row;
    for (int i = 0; i < 10; ++i) {
        std::string text = "value-" + std::to_string(i) + "-abcdefghijklm";
        text.resize(20, 'x');
        if (i == 3) {
            text[5] = '\'';
        }
        row.push_back(DbValue::Text(text));
    }
    return row;
}

std::vector<DbValue> MixedRow() {
    return {DbValue::Int(123456789),
            DbValue::Text("O'Brien & Sons Ltd.."),
            DbValue::Decimal("12345678.9012345678"),
            DbValue::Double(3.14159265358979),
            DbValue::DateTime({{2024, 2, 29}, {false, 12, 34, 56, "123456"}}),
            DbValue::Null(),
            DbValue::Boolean(true),
            DbValue::Binary(std::string(10, '\x5a')),
            DbValue::Date({1999, 12, 31}),
            DbValue::Text("twenty bytes of text")};
}

// One row as the builder reads it during a transfer: the current row of a result set.
class OneRow : public veltrane::ResultSet {
public:
    explicit OneRow(const std::vector<DbValue>& row)
        : row_(row) {}
    int FieldCount() const override { return static_cast<int>(row_.size()); }
    const veltrane::FieldInfo& Field(int) const override { return field_; }
    const DbValue& Value(int index) const override { return row_[static_cast<std::size_t>(index)]; }
    std::int64_t RecordCount() const override { return 1; }
    bool IsEOF() const override { return false; }
    void MoveNext() override {}
    void Close() override {}

private:
    const std::vector<DbValue>& row_;
    veltrane::FieldInfo field_;
};

// The straightforward way: a new text per value, quotes doubled by search and replace.
std::string Concatenated(const std::vector<DbValue>& row) {
    std::string sql = "INSERT INTO `bench` VALUES(";
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (row[i].IsNull()) {
            sql = sql + (i ? ", " : "") + "NULL";
            continue;
        }
        std::string text = row[i].ToText();
        for (std::size_t at = text.find('\''); at != std::string::npos;
             at = text.find('\'', at + 2)) {
            text.replace(at, 1, "''");
        }
        sql = sql + (i ? ", '" : "'") + text + "'";
    }
    return sql + ")";
}

struct Figures {
    double nsPerStatement;
    double allocationsPerStatement;
};

template <typename Build> Figures Measure(long statements, int rounds, Build build) {
    double best = 1e30;
    double allocs = 0;
    for (int round = 0; round < rounds; ++round) {
        const long before = allocations.load();
        const auto start = Clock::now();
        for (long i = 0; i < statements; ++i) {
            build();
        }
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        best = std::min(best, ns / static_cast<double>(statements));
        allocs = static_cast<double>(allocations.load() - before) / static_cast<double>(statements);
    }
    return {best, allocs};
}

volatile std::size_t sink;

void Report(const char* label, const Figures& f, const Figures& floor, std::size_t fields) {
    std::printf("  %-34s %8.1f ns/statement %6.1f ns/field %5.2f allocations/statement  "
                "x%.2f of the copy floor\n",
                label, f.nsPerStatement, f.nsPerStatement / static_cast<double>(fields),
                f.allocationsPerStatement, f.nsPerStatement / floor.nsPerStatement);
}

void BenchRow(const char* name, const std::vector<DbValue>& row, long statements, int rounds) {
    for (auto toward : {ServerKind::MySQL, ServerKind::SybaseASE}) {
        std::printf("%s toward %s (%zu fields):\n", name,
                    toward == ServerKind::MySQL ? "MySQL" : "Sybase ASE", row.size());
        veltrane::InsertRowBuilder builder(toward, "bench");
        const OneRow rows(row);
        const std::string finished = builder.Build(rows);
        std::string copy;
        copy.reserve(finished.size());
        const Figures floor = Measure(statements, rounds, [&] {
            copy.assign(finished);
            sink = copy.size();
        });
        const Figures built =
            Measure(statements, rounds, [&] { sink = builder.Build(rows).size(); });
        const Figures naive = Measure(statements, rounds, [&] { sink = Concatenated(row).size(); });
        Report("copy of the finished statement", floor, floor, row.size());
        Report("InsertRowBuilder (reused buffer)", built, floor, row.size());
        Report("concatenation, text per value", naive, floor, row.size());
        std::printf("  builder is x%.2f faster than concatenation; statement %zu bytes\n",
                    naive.nsPerStatement / built.nsPerStatement, finished.size());
    }
}

void BenchRoundTrip(double builderNs) {
    const char* port = std::getenv("VELTRANE_TEST_MYSQL_PORT");
    if (port == nullptr) {
        std::printf("server round trip: not measured (no VELTRANE_TEST_MYSQL_PORT)\n");
        return;
    }
    auto env = [](const char* n) {
        const char* v = std::getenv(n);
        return std::string(v ? v : "");
    };
    const std::string cs =
        "DRIVER={MySQL ODBC 5.1 Driver};SERVER=" + env("VELTRANE_TEST_MYSQL_HOST") +
        ";USER=" + env("VELTRANE_TEST_MYSQL_USER") +
        ";DATABASE=" + env("VELTRANE_TEST_MYSQL_DATABASE") +
        ";PASSWORD=" + env("VELTRANE_TEST_MYSQL_PASSWORD") + ";PORT=" + port + ";";
    try {
        veltrane::Connection connection;
        connection.Open(cs);
        const Figures trip = Measure(2000, 3, [&] { connection.Execute("DO 1"); });
        std::printf("server round trip (DO 1 on the MariaDB test server): %.0f ns; building the "
                    "10-field INSERT costs %.2f%% of it\n",
                    trip.nsPerStatement, 100.0 * builderNs / trip.nsPerStatement);
    } catch (const veltrane::DatabaseError& e) {
        std::printf("server round trip: not measured (%s)\n", e.what());
    }
}

} // namespace

int main(int argc, char** argv) {
    const long statements = argc > 1 ? std::atol(argv[1]) : 200000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const auto text = TextRow();
    BenchRow("10 texts of 20 bytes", text, statements, rounds);
    BenchRow("10 mixed fields", MixedRow(), statements, rounds);
    veltrane::InsertRowBuilder builder(ServerKind::MySQL, "bench");
    const OneRow textRow(text);
    const Figures built =
        Measure(statements, rounds, [&] { sink = builder.Build(textRow).size(); });
    BenchRoundTrip(built.nsPerStatement);
    return 0;
}
