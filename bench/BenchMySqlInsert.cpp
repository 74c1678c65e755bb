// Single-row INSERTs through Connection::Execute against the same statements sent with
// mysql_real_query directly, in one run against one server. Prints rows per second for both
// and the interface's cost relative to the bare client.
//
// Usage: bench_mysql_insert [rows per run, default 10000] [rounds, default 5] [engine, default
// InnoDB]. Reads the server from VELTRANE_TEST_MYSQL_{HOST,PORT,USER,PASSWORD,DATABASE}; to
// start a private server:
//   source scripts/lib/servers.sh; start_mariadb build/bench-mariadb
//   build/bin/bench_mysql_insert; stop_mariadb

#include "BenchClients.h"
#include "BenchSupport.h"
#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mysql.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace veltrane::bench;

void RunDirect(MYSQL* mysql, const std::string& statement) {
    if (mysql_real_query(mysql, statement.data(), statement.size()) != 0) {
        std::fprintf(stderr, "%s\n", mysql_error(mysql));
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string engine = argc > 3 ? argv[3] : "InnoDB";
    const ServerEnv server = ServerEnv::MySQL();
    if (!server.Configured() || rows <= 0 || rounds <= 0) {
        std::fprintf(stderr, "Set VELTRANE_TEST_MYSQL_* (source scripts/lib/servers.sh; "
                             "start_mariadb DIR) and pass positive counts.\n");
        return 2;
    }

    // Each side writes its own table, so both run the same statements on equal tables.
    const std::string base = "vt_bench_insert_" + std::to_string(getpid());
    const std::string tables[2] = {base + "_i", base + "_d"};
    std::vector<std::string> statements[2];
    for (int side = 0; side < 2; ++side) {
        statements[side].reserve(static_cast<std::size_t>(rows));
        for (int i = 0; i < rows; ++i) {
            statements[side].push_back(
                "INSERT INTO `" + tables[side] + "` (id, name, amount, created, note) VALUES (" +
                std::to_string(i) + ", 'O''Brien " + std::to_string(i) + "', '" +
                std::to_string(i) + ".25', '2024-01-02 03:04:05.123456', 'path C:\\temp\\ row " +
                std::to_string(i) + "')");
        }
    }

    try {
        veltrane::Connection connection;
        connection.SetCursorLocation(veltrane::CursorLocation::Server);
        connection.Open(MySQLConnectionString(server));
        MYSQL* direct = OpenBareMySQL(server);
        for (const std::string& table : tables) {
            connection.Execute("CREATE TABLE `" + table +
                               "` (id INT PRIMARY KEY, name VARCHAR(100), amount DECIMAL(12,2), "
                               "created DATETIME(6), note VARCHAR(200)) ENGINE=" +
                               engine);
        }

        std::printf("%d single-row INSERTs per run, %d rounds, engine %s\n", rows, rounds,
                    engine.c_str());
        // The two sides take turns in short chunks (the order flipping every chunk), so that
        // load from elsewhere on the machine falls on both alike.
        constexpr int kChunk = 100;
        std::vector<double> interfaceRates, directRates, ratios, cpuRatios;
        for (int round = 0; round < rounds; ++round) {
            for (const std::string& table : tables) {
                connection.Execute("TRUNCATE TABLE `" + table + "`");
            }
            std::chrono::steady_clock::duration spent[2] = {};
            double cpu[2] = {};
            for (int first = 0, chunk = 0; first < rows; first += kChunk, ++chunk) {
                const int last = std::min(rows, first + kChunk);
                for (int turn = 0; turn < 2; ++turn) {
                    const int side = (turn + chunk + round) % 2;
                    const auto start = std::chrono::steady_clock::now();
                    const double cpuStart = CpuSeconds();
                    if (side == 0) {
                        for (int i = first; i < last; ++i) {
                            connection.Execute(statements[0][static_cast<std::size_t>(i)]);
                        }
                    } else {
                        for (int i = first; i < last; ++i) {
                            RunDirect(direct, statements[1][static_cast<std::size_t>(i)]);
                        }
                    }
                    cpu[side] += CpuSeconds() - cpuStart;
                    spent[side] += std::chrono::steady_clock::now() - start;
                }
            }
            const double interfaceSeconds = Seconds(spent[0]);
            const double directSeconds = Seconds(spent[1]);
            interfaceRates.push_back(rows / interfaceSeconds);
            directRates.push_back(rows / directSeconds);
            ratios.push_back(interfaceSeconds / directSeconds);
            cpuRatios.push_back(cpu[0] / cpu[1]);
            std::printf("round %d: interface %.0f rows/s, libmariadb %.0f rows/s, time ratio "
                        "%.4f; client CPU per row %.2f us vs %.2f us\n",
                        round + 1, interfaceRates.back(), directRates.back(), ratios.back(),
                        cpu[0] * 1e6 / rows, cpu[1] * 1e6 / rows);
        }
        const double ratio = Median(ratios);
        std::printf("median: interface %.0f rows/s, libmariadb %.0f rows/s\n",
                    Median(interfaceRates), Median(directRates));
        std::printf("interface time / libmariadb time (median of rounds): %.4f (%+.2f%%)\n", ratio,
                    (ratio - 1) * 100);
        std::printf("client CPU ratio, interface / libmariadb (median of rounds): %.4f\n",
                    Median(cpuRatios));
        for (const std::string& table : tables) {
            connection.Execute("DROP TABLE `" + table + "`");
        }
        mysql_close(direct);
    } catch (const veltrane::DatabaseError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
