// Reading a whole table with a client-side cursor through Connection::Execute (every field
// converted to a typed value) against mysql_store_result with raw rows, in one run against
// one server. Prints rows per second for both and the ratio: the price of typed values.
// First it reads the table once through the interface alone and prints the growth of the
// process's peak memory against the bytes of the table's values: a client-side cursor must
// hold its rows compactly.
//
// Usage: bench_mysql_read [rows, default 100000] [rounds, default 5]. Server as for
// bench_mysql_insert (VELTRANE_TEST_MYSQL_*; source scripts/lib/servers.sh; start_mariadb DIR).

#include "BenchSupport.h"
#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mysql.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace veltrane::bench;

namespace {

// A field of /proc/self/status in kilobytes (VmRSS, VmHWM); 0 when unknown.
long StatusKilobytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::atol(line.c_str() + field.size() + 1);
        }
    }
    return 0;
}

// Resets the peak (VmHWM) to the current resident size.
void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

} // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const ServerEnv server = ServerEnv::MySQL();
    if (!server.Configured() || rows <= 0 || rounds <= 0) {
        std::fprintf(stderr, "Set VELTRANE_TEST_MYSQL_* (source scripts/lib/servers.sh; "
                             "start_mariadb DIR) and pass positive counts.\n");
        return 2;
    }
    const std::string table = "vt_bench_read_" + std::to_string(getpid());
    const std::string select = "SELECT * FROM `" + table + "`";

    try {
        veltrane::Connection connection;
        connection.SetCursorLocation(veltrane::CursorLocation::Client);
        connection.Open(MySQLConnectionString(server));
        connection.Execute("CREATE TABLE `" + table +
                           "` (id INT PRIMARY KEY, name VARCHAR(60), amount DECIMAL(14,2), "
                           "created DATETIME(6), ratio DOUBLE, note TEXT)");
        connection.Execute("INSERT INTO `" + table +
                           "` SELECT seq, CONCAT('name ', seq), seq * 1.25, "
                           "'2024-01-02 03:04:05.123456' + INTERVAL seq SECOND, seq / 7, "
                           "REPEAT('x', seq % 200) FROM seq_1_to_" +
                           std::to_string(rows));

        MYSQL* direct = mysql_init(nullptr);
        const unsigned int protocol = MYSQL_PROTOCOL_TCP;
        mysql_optionsv(direct, MYSQL_OPT_PROTOCOL, &protocol);
        mysql_optionsv(direct, MYSQL_SET_CHARSET_NAME, "utf8mb4");
        if (!mysql_real_connect(direct, server.host.c_str(), server.user.c_str(),
                                server.password.c_str(), server.database.c_str(),
                                static_cast<unsigned>(std::stoul(server.port)), nullptr, 0)) {
            std::fprintf(stderr, "connect: %s\n", mysql_error(direct));
            return 1;
        }

        {
            const std::string sizeQuery =
                "SELECT SUM(LENGTH(id) + IFNULL(LENGTH(name), 0) + LENGTH(amount) + "
                "LENGTH(created) + LENGTH(ratio) + IFNULL(LENGTH(note), 0)) FROM `" +
                table + "`";
            const double tableBytes = std::stod(connection.Execute(sizeQuery)->Value(0).ToText());
            ResetPeakMemory();
            const long before = StatusKilobytes("VmRSS");
            auto result = connection.Execute(select);
            std::int64_t count = 0;
            for (; !result->IsEOF(); result->MoveNext()) {
                ++count;
            }
            const double growth = (StatusKilobytes("VmHWM") - before) * 1024.0;
            std::printf("memory: RecordCount %lld, peak growth %.1f MB for %.1f MB of values "
                        "(%.2f x the values)\n",
                        static_cast<long long>(result->RecordCount()), growth / 1e6,
                        tableBytes / 1e6, growth / tableBytes);
            if (count != rows || result->RecordCount() != rows) {
                std::fprintf(stderr, "read %lld rows, expected %d\n", static_cast<long long>(count),
                             rows);
                return 1;
            }
        }

        std::printf("reading %d rows of 6 columns, %d rounds\n", rows, rounds);
        std::vector<double> viaInterface, viaClient, ratios;
        std::size_t checksum[2] = {0, 0};
        for (int round = 0; round < rounds; ++round) {
            double seconds[2] = {0, 0};
            for (int turn = 0; turn < 2; ++turn) {
                const int side = (turn + round) % 2;
                const auto start = std::chrono::steady_clock::now();
                std::size_t count = 0;
                if (side == 0) {
                    auto result = connection.Execute(select);
                    const int fields = result->FieldCount();
                    for (; !result->IsEOF(); result->MoveNext(), ++count) {
                        for (int f = 0; f < fields; ++f) {
                            checksum[0] += static_cast<std::size_t>(result->Value(f).GetKind());
                        }
                    }
                } else {
                    if (mysql_real_query(direct, select.data(), select.size()) != 0) {
                        std::fprintf(stderr, "%s\n", mysql_error(direct));
                        return 1;
                    }
                    MYSQL_RES* result = mysql_store_result(direct);
                    const unsigned fields = mysql_num_fields(result);
                    while (MYSQL_ROW row = mysql_fetch_row(result)) {
                        const unsigned long* lengths = mysql_fetch_lengths(result);
                        for (unsigned f = 0; f < fields; ++f) {
                            checksum[1] += row[f] ? lengths[f] : 0;
                        }
                        ++count;
                    }
                    mysql_free_result(result);
                }
                seconds[side] =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                if (count != static_cast<std::size_t>(rows)) {
                    std::fprintf(stderr, "read %zu rows, expected %d\n", count, rows);
                    return 1;
                }
            }
            viaInterface.push_back(rows / seconds[0]);
            viaClient.push_back(rows / seconds[1]);
            ratios.push_back(seconds[0] / seconds[1]);
            std::printf(
                "round %d: interface %.0f rows/s, libmariadb %.0f rows/s, time ratio %.3f\n",
                round + 1, viaInterface.back(), viaClient.back(), ratios.back());
        }
        std::printf("median: interface %.0f rows/s, libmariadb %.0f rows/s, time ratio %.3f "
                    "(checksums %zu/%zu)\n",
                    Median(viaInterface), Median(viaClient), Median(ratios), checksum[0],
                    checksum[1]);
        connection.Execute("DROP TABLE `" + table + "`");
        mysql_close(direct);
    } catch (const veltrane::DatabaseError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
