// Peak memory of reading a whole Sybase ASE table through a client-side cursor (exact
// RecordCount, every row held), against the table's own bytes (the sum of datalength() of
// every value) and against holding every field as a decoded value, in one run against the
// TDS test server. Prints megabytes and ratios to the table's bytes.
//
// Usage: bench_ase_read [doublings, default 17 = 131072 rows]. Server: VELTRANE_TEST_ASE_*
// (source scripts/lib/servers.sh; start_test_servers DIR).

#include "BenchSupport.h"
#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace veltrane::bench;

namespace {

// A line of /proc/self/status in kilobytes ("VmRSS:", "VmHWM:").
long StatusKilobytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + key.size());
    }
    return -1;
}

// Starts a peak measurement: the kernel's high-water mark falls back to the current size.
long ResetPeak() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    return StatusKilobytes("VmRSS:");
}

double Megabytes(double bytes) {
    return bytes / (1024.0 * 1024.0);
}

} // namespace

int main(int argc, char** argv) {
    const int doublings = argc > 1 ? std::atoi(argv[1]) : 17;
    const ServerEnv server = ServerEnv::Sybase();
    if (!server.Configured() || doublings < 0 || doublings > 24) {
        std::fprintf(stderr, "Set VELTRANE_TEST_ASE_* (source scripts/lib/servers.sh; "
                             "start_test_servers DIR) and pass 0 to 24 doublings.\n");
        return 2;
    }
    const std::string table = "vt_bench_ase_read_" + std::to_string(getpid());
    const std::string columns = "id, name, amount, at, note";
    try {
        veltrane::Connection setup;
        setup.SetCommandTimeout(3600);
        setup.Open(SybaseConnectionString(server));
        setup.Execute("create table " + table +
                      " (id int, name varchar(60), amount numeric(14,2), at datetime, "
                      "note varchar(200) null)");
        setup.Execute("insert " + table +
                      " values (1, 'a name of some length', 12345.67, '2024-02-29 12:34:56', "
                      "'a note that is a little longer than the name, as notes are')");
        for (int i = 0; i < doublings; ++i)
            setup.Execute("insert " + table + " select " + columns + " from " + table);

        // The table's bytes, streamed so that counting them holds no rows.
        double tableBytes = 0;
        std::int64_t rows = 0;
        {
            veltrane::Connection counting;
            counting.SetCursorLocation(veltrane::CursorLocation::Server);
            counting.Open(SybaseConnectionString(server));
            auto sizes = counting.Execute("select datalength(id) + datalength(name) + "
                                          "datalength(amount) + datalength(at) + "
                                          "isnull(datalength(note), 0) from " +
                                          table);
            for (; !sizes->IsEOF(); sizes->MoveNext(), ++rows)
                tableBytes += static_cast<double>(sizes->Value(0).AsInt());
        }

        veltrane::Connection reading;
        reading.SetCursorLocation(veltrane::CursorLocation::Client);
        reading.SetCommandTimeout(3600);
        reading.Open(SybaseConnectionString(server));

        // Veltrane's client-side result set, every value of every row visited.
        long before = ResetPeak();
        std::size_t visited = 0;
        {
            auto result = reading.Execute("select " + columns + " from " + table);
            for (; !result->IsEOF(); result->MoveNext()) {
                for (int f = 0; f < result->FieldCount(); ++f)
                    visited += result->Value(f).IsNull() ? 0 : 1;
            }
        }
        const double packedPeak = (StatusKilobytes("VmHWM:") - before) * 1024.0;

        // The same rows held as one decoded value per field.
        before = ResetPeak();
        {
            std::vector<std::vector<veltrane::DbValue>> held;
            held.reserve(static_cast<std::size_t>(rows));
            veltrane::Connection streaming;
            streaming.SetCursorLocation(veltrane::CursorLocation::Server);
            streaming.Open(SybaseConnectionString(server));
            auto result = streaming.Execute("select " + columns + " from " + table);
            for (; !result->IsEOF(); result->MoveNext()) {
                auto& row = held.emplace_back();
                for (int f = 0; f < result->FieldCount(); ++f)
                    row.push_back(result->Value(f));
            }
        }
        const double decodedPeak = (StatusKilobytes("VmHWM:") - before) * 1024.0;

        setup.Execute("drop table " + table);
        std::printf("rows %lld, values visited %zu, table bytes %.1f MB\n",
                    static_cast<long long>(rows), visited, Megabytes(tableBytes));
        std::printf("client cursor peak      %8.1f MB  %.2f x table bytes\n", Megabytes(packedPeak),
                    packedPeak / tableBytes);
        std::printf("one value per field     %8.1f MB  %.2f x table bytes\n",
                    Megabytes(decodedPeak), decodedPeak / tableBytes);
        std::printf("goal: client cursor peak <= 1.5 x table bytes + 30 MB = %.1f MB\n",
                    Megabytes(1.5 * tableBytes) + 30);
    } catch (const veltrane::DatabaseError& e) {
        std::fprintf(stderr, "bench_ase_read: %s\n", e.what());
        return 1;
    }
    return 0;
}
