#pragma once

#include "connect/ConnectionProfile.h"

#include <string>

namespace veltrane::testing {

// Coordinates of the servers that scripts/test starts, read from the environment:
//   VELTRANE_TEST_MYSQL_HOST, _PORT, _USER, _PASSWORD, _DATABASE
//   VELTRANE_TEST_ASE_HOST,   _PORT, _USER, _PASSWORD, _DATABASE
// A test that needs a server which is not configured fails with a message saying how to
// start it; with VELTRANE_SKIP_INTEGRATION=1 it is skipped instead.
struct ServerCoordinates {
    std::string host;
    std::string port;
    std::string user;
    std::string password;
    std::string database;

    ConnectionProfile Profile() const;
};

// Fill `out` from the environment; false (with `whyNot` set) when not configured.
bool MySQLServer(ServerCoordinates& out, std::string& whyNot);
bool SybaseServer(ServerCoordinates& out, std::string& whyNot);
bool SkipIntegration();
// True when the Sybase ASE side is to be skipped: VELTRANE_SKIP_INTEGRATION=1, or
// VELTRANE_SKIP_ASE=1, which scripts/test sets while no TDS test server can be started.
bool SkipSybase();

std::string MySQLConnectionStringFor(const ServerCoordinates& server);
std::string SybaseConnectionStringFor(const ServerCoordinates& server);

} // namespace veltrane::testing

// Declares `var` with the server's coordinates, or skips / fails the current test when the
// server is not configured. Use at the top of a TEST body (it may return from it).
#define VELTRANE_REQUIRE_SERVER_(var, reader, skip)                                                \
    ::veltrane::testing::ServerCoordinates var;                                                    \
    do {                                                                                           \
        std::string whyNot_;                                                                       \
        if (!::veltrane::testing::reader(var, whyNot_)) {                                          \
            if (::veltrane::testing::skip())                                                       \
                GTEST_SKIP() << whyNot_;                                                           \
            else                                                                                   \
                FAIL() << whyNot_;                                                                 \
        }                                                                                          \
    } while (false)
#define VELTRANE_REQUIRE_MYSQL(var) VELTRANE_REQUIRE_SERVER_(var, MySQLServer, SkipIntegration)
#define VELTRANE_REQUIRE_SYBASE(var) VELTRANE_REQUIRE_SERVER_(var, SybaseServer, SkipSybase)
