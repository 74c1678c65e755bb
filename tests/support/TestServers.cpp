#include "TestServers.h"

#include <cstdlib>

namespace veltrane::testing {
namespace {

std::string Env(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

bool Read(const std::string& prefix, const char* what, ServerCoordinates& out,
          std::string& whyNot) {
    out.host = Env(prefix + "_HOST");
    out.port = Env(prefix + "_PORT");
    out.user = Env(prefix + "_USER");
    out.password = Env(prefix + "_PASSWORD");
    out.database = Env(prefix + "_DATABASE");
    if (out.port.empty()) {
        whyNot = std::string(what) + " is not configured (" + prefix +
                 "_PORT unset): run the tests through scripts/test, which starts it, or set "
                 "VELTRANE_SKIP_INTEGRATION=1 to skip them";
        return false;
    }
    if (out.host.empty()) {
        out.host = "127.0.0.1";
    }
    return true;
}

} // namespace

ConnectionProfile ServerCoordinates::Profile() const {
    return ConnectionProfile{QString::fromStdString(host), QString::fromStdString(port),
                             QString::fromStdString(user), QString::fromStdString(password),
                             QString::fromStdString(database)};
}

bool MySQLServer(ServerCoordinates& out, std::string& whyNot) {
    return Read("VELTRANE_TEST_MYSQL", "the MariaDB test server", out, whyNot);
}

bool SybaseServer(ServerCoordinates& out, std::string& whyNot) {
    return Read("VELTRANE_TEST_ASE", "the TDS test server", out, whyNot);
}

bool SkipIntegration() {
    return Env("VELTRANE_SKIP_INTEGRATION") == "1";
}

bool SkipSybase() {
    return SkipIntegration() || Env("VELTRANE_SKIP_ASE") == "1";
}

std::string MySQLConnectionStringFor(const ServerCoordinates& server) {
    return MySQLConnectionString(server.Profile()).toStdString();
}

std::string SybaseConnectionStringFor(const ServerCoordinates& server) {
    return SybaseConnectionString(server.Profile()).toStdString();
}

} // namespace veltrane::testing
