// Single-row INSERTs toward Sybase ASE the way a transfer writes them (every column TEXT NULL,
// every value a quoted literal), through Connection::Execute against the same statements sent
// with bare DB-Library, in one run against one server. When the MySQL test server is configured
// too, the same number of single-row INSERTs into MariaDB (MEMORY engine) is timed alongside,
// so the figures show whether the Sybase ASE side is slower than the MySQL side.
//
// Usage: bench_ase_insert [rows per run, default 5000] [rounds, default 3]. Reads the servers
// from VELTRANE_TEST_ASE_* and VELTRANE_TEST_MYSQL_*; to start them:
//   source scripts/lib/servers.sh; VELTRANE_BIN_DIR=build/bin start_test_servers build/bench
//   build/bin/bench_ase_insert; stop_test_servers

#include "BenchClients.h"
#include "BenchSupport.h"
#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sybdb.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace veltrane::bench;

void RunDirect(DBPROCESS* proc, const std::string& statement) {
    if (dbcmd(proc, statement.c_str()) == FAIL || dbsqlexec(proc) == FAIL) {
        std::fprintf(stderr, "bare DB-Library statement failed: %s\n", statement.c_str());
        std::exit(1);
    }
    while (dbresults(proc) != NO_MORE_RESULTS) {
        while (dbnextrow(proc) != NO_MORE_ROWS) {
        }
    }
}

std::string Row(const std::string& open, int i) {
    const std::string n = std::to_string(i);
    return open + "('" + n + "', 'O''Brien " + n + "', '" + n +
           ".25', '2024-01-02 03:04:05.123456', 'path C:\\temp\\ row " + n + "')";
}

} // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const ServerEnv ase = ServerEnv::Sybase();
    const ServerEnv mysql = ServerEnv::MySQL();
    if (!ase.Configured() || rows <= 0 || rounds <= 0) {
        std::fprintf(stderr, "Set VELTRANE_TEST_ASE_* (source scripts/lib/servers.sh; "
                             "start_test_servers DIR) and pass positive counts.\n");
        return 2;
    }
    const bool withMySql = mysql.Configured();
    const std::string table = "vt_bench_ase_" + std::to_string(getpid());
    const std::string columns = "(id text null, name text null, amount text null, created text "
                                "null, note text null)";
    try {
        veltrane::Connection connection;
        connection.SetCursorLocation(veltrane::CursorLocation::Server);
        connection.Open(SybaseConnectionString(ase));
        DBPROCESS* direct = OpenBareSybase(ase);
        veltrane::Connection mysqlConnection;
        if (withMySql) {
            mysqlConnection.Open(MySQLConnectionString(mysql));
            mysqlConnection.Execute("CREATE TABLE `" + table +
                                    "` (id VARCHAR(64), name VARCHAR(64), amount VARCHAR(64), "
                                    "created VARCHAR(64), note VARCHAR(64)) ENGINE=MEMORY");
        }
        const std::string tables[2] = {"[" + table + "_i]", "[" + table + "_d]"};
        for (const std::string& t : tables)
            connection.Execute("create table " + t + " " + columns);

        std::printf("%d single-row INSERTs per run, %d rounds\n", rows, rounds);
        std::vector<double> interfaceRates, directRates, ratios, mysqlRatios, cpuRatios;
        for (int round = 0; round < rounds; ++round) {
            for (const std::string& t : tables)
                connection.Execute("truncate table " + t);
            if (withMySql)
                mysqlConnection.Execute("TRUNCATE TABLE `" + table + "`");
            std::chrono::steady_clock::duration spent[3] = {};
            double cpu[3] = {};
            constexpr int kChunk = 100;
            for (int first = 0, chunk = 0; first < rows; first += kChunk, ++chunk) {
                const int last = std::min(rows, first + kChunk);
                // Every order of the three sides in turn, so that no side always follows
                // the same other one (after the MySQL side, the first statement to the test
                // server finds its threads cold).
                static constexpr int kOrders[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1},
                                                      {0, 2, 1}, {2, 1, 0}, {1, 0, 2}};
                for (int turn = 0; turn < 3; ++turn) {
                    const int side = kOrders[(chunk + round) % 6][turn];
                    if (side == 2 && !withMySql)
                        continue;
                    const auto start = std::chrono::steady_clock::now();
                    const double cpuStart = CpuSeconds();
                    for (int i = first; i < last; ++i) {
                        if (side == 0)
                            connection.Execute(Row("insert into " + tables[0] + " values ", i));
                        else if (side == 1)
                            RunDirect(direct, Row("insert into " + tables[1] + " values ", i));
                        else
                            mysqlConnection.Execute(Row("INSERT INTO `" + table + "` VALUES ", i));
                    }
                    cpu[side] += CpuSeconds() - cpuStart;
                    spent[side] += std::chrono::steady_clock::now() - start;
                }
            }
            const double seconds[3] = {std::chrono::duration<double>(spent[0]).count(),
                                       std::chrono::duration<double>(spent[1]).count(),
                                       std::chrono::duration<double>(spent[2]).count()};
            interfaceRates.push_back(rows / seconds[0]);
            directRates.push_back(rows / seconds[1]);
            ratios.push_back(seconds[0] / seconds[1]);
            cpuRatios.push_back(cpu[0] / cpu[1]);
            std::printf("round %d: interface %.0f rows/s, bare DB-Library %.0f rows/s, time "
                        "ratio %.4f",
                        round + 1, interfaceRates.back(), directRates.back(), ratios.back());
            if (withMySql) {
                mysqlRatios.push_back(seconds[0] / seconds[2]);
                std::printf("; MariaDB %.0f rows/s, Sybase side / MySQL side %.3f",
                            rows / seconds[2], mysqlRatios.back());
            }
            std::printf("; client CPU per row %.2f us vs %.2f us\n", cpu[0] * 1e6 / rows,
                        cpu[1] * 1e6 / rows);
        }
        std::printf("median: interface %.0f rows/s, bare DB-Library %.0f rows/s\n",
                    Median(interfaceRates), Median(directRates));
        std::printf("interface time / bare DB-Library time (median of rounds): %.4f (%+.2f%%)\n",
                    Median(ratios), (Median(ratios) - 1) * 100);
        std::printf("client CPU ratio, interface / bare DB-Library (median of rounds): %.4f\n",
                    Median(cpuRatios));
        if (withMySql)
            std::printf("Sybase ASE side time / MySQL side time (median of rounds): %.3f\n",
                        Median(mysqlRatios));
        for (const std::string& t : tables)
            connection.Execute("drop table " + t);
        if (withMySql)
            mysqlConnection.Execute("DROP TABLE `" + table + "`");
        dbclose(direct);
    } catch (const veltrane::DatabaseError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
