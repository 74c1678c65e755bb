// What the benchmarks share: the test servers' coordinates from the environment, connection
// strings, clocks and the median of rounds.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace veltrane::bench {

inline std::string Env(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

// A test server as scripts/lib/servers.sh exports it: VELTRANE_TEST_MYSQL_* or
// VELTRANE_TEST_ASE_* (HOST, PORT, USER, PASSWORD, DATABASE).
struct ServerEnv {
    explicit ServerEnv(const std::string& prefix)
        : host(Env(prefix + "HOST"))
        , port(Env(prefix + "PORT"))
        , user(Env(prefix + "USER"))
        , password(Env(prefix + "PASSWORD"))
        , database(Env(prefix + "DATABASE")) {}
    static ServerEnv MySQL() { return ServerEnv("VELTRANE_TEST_MYSQL_"); }
    static ServerEnv Sybase() { return ServerEnv("VELTRANE_TEST_ASE_"); }
    bool Configured() const { return !port.empty(); }

    std::string host, port, user, password, database;
};

inline std::string MySQLConnectionString(const ServerEnv& s) {
    return "DRIVER={MySQL ODBC 5.1 Driver};SERVER=" + s.host + ";USER=" + s.user +
           ";DATABASE=" + s.database + ";PASSWORD=" + s.password + ";PORT=" + s.port + ";";
}

inline std::string SybaseConnectionString(const ServerEnv& s) {
    return "Provider=ASEOLEDB;Data Source=" + s.host + ":" + s.port + ";User Id=" + s.user +
           ";Password=" + s.password + ";;Catalog=" + s.database;
}

// CPU time of this thread: what the client side itself costs, apart from waiting.
inline double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace veltrane::bench
