// The bare client libraries, set up the way the backends set up their sessions: the baselines
// that the benchmarks measure the program against. Each exits the benchmark when it cannot
// connect.
#pragma once

#include "BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <mysql.h>
#include <string>
#include <sybdb.h>

namespace veltrane::bench {

inline MYSQL* OpenBareMySQL(const ServerEnv& s) {
    MYSQL* mysql = mysql_init(nullptr);
    const unsigned int protocol = MYSQL_PROTOCOL_TCP;
    mysql_optionsv(mysql, MYSQL_OPT_PROTOCOL, &protocol);
    mysql_optionsv(mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    mysql_optionsv(mysql, MYSQL_INIT_COMMAND,
                   "SET SESSION sql_mode = CONCAT_WS(',', NULLIF(@@sql_mode, ''), "
                   "'NO_BACKSLASH_ESCAPES')");
    if (!mysql_real_connect(mysql, s.host.c_str(), s.user.c_str(), s.password.c_str(),
                            s.database.c_str(), static_cast<unsigned>(std::stoul(s.port)), nullptr,
                            CLIENT_MULTI_RESULTS)) {
        std::fprintf(stderr, "bare libmariadb cannot connect: %s\n", mysql_error(mysql));
        std::exit(1);
    }
    return mysql;
}

inline DBPROCESS* OpenBareSybase(const ServerEnv& s) {
    dbinit();
    dbsetversion(DBVERSION_100);
    LOGINREC* login = dblogin();
    DBSETLUSER(login, s.user.c_str());
    DBSETLPWD(login, s.password.c_str());
    DBSETLCHARSET(login, "UTF-8");
    DBSETLVERSION(login, DBVERSION_100);
    DBSETLPACKET(login, 2048); // as the program asks
    const std::string address = s.host + ":" + s.port;
    DBPROCESS* proc = dbopen(login, address.c_str());
    dbloginfree(login);
    if (proc == nullptr || dbuse(proc, s.database.c_str()) == FAIL) {
        std::fprintf(stderr, "bare DB-Library cannot connect to %s\n", address.c_str());
        std::exit(1);
    }
    return proc;
}

} // namespace veltrane::bench
