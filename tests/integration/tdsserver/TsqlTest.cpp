// ase-testserver through an independent client: FreeTDS's tsql, statements on its standard
// input, TDS 5.0 forced with TDSVER.

#include "ServerFixture.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tdsserver {
namespace {

using namespace std::chrono_literals;

class Tsql : public ServerTest {
protected:
    std::vector<std::string> Command(const Login& login) const {
        return {"tsql", "-H",       "127.0.0.1", "-p",          std::to_string(Port()),
                "-U",   login.user, "-P",        login.password};
    }

    ProcessResult Run(const Login& login, const std::string& input) const {
        return RunProcess(Command(login), {{"TDSVER", "5.0"}}, input, 60s);
    }

    // Runs tsql in a private mount namespace where /etc/freetds holds a locales.conf with an
    // ISO date format (tsql has no other way to choose one). False when no namespace can be
    // made here.
    bool RunWithIsoDates(const Login& login, const std::string& input, ProcessResult& result) {
        const ProcessResult probe =
            RunProcess({"unshare", "-m", "--propagation", "private", "true"}, {}, "", 10s);
        if (probe.exitStatus != 0)
            return false;
        const auto dir = MakeTemporaryDirectory("tdsserver-locale-");
        std::ofstream(dir / "locales.conf") << "[default]\n"
                                               "\tdate format = %Y-%m-%d %H:%M:%S.%z\n";
        std::vector<std::string> argv = {"unshare",
                                         "-m",
                                         "--propagation",
                                         "private",
                                         "sh",
                                         "-c",
                                         "mount --bind \"$0\" /etc/freetds && exec \"$@\"",
                                         dir.string()};
        for (const auto& a : Command(login))
            argv.push_back(a);
        result = RunProcess(argv, {{"TDSVER", "5.0"}}, input, 60s);
        std::filesystem::remove_all(dir);
        return true;
    }
};

TEST_F(Tsql, SelectReturnsItsValue) {
    const ProcessResult r = Run(kSa, "select 'tsql' + '-works' as r, 6 * 7 as n\ngo\nexit\n");
    ASSERT_FALSE(r.timedOut) << r.output;
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_NE(r.output.find("r\tn\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("tsql-works\t42\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("(1 row affected)"), std::string::npos) << r.output;
}

TEST_F(Tsql, BatchesErrorsAndTheSecondLogin) {
    const ProcessResult r = Run(kAlice, "create table tq (a int, b varchar(10) null)\n"
                                        "insert tq values (1, 'x')\n"
                                        "insert tq values (2, null)\n"
                                        "go\n"
                                        "select a, b from tq order by a\n"
                                        "go\n"
                                        "select * from tq_missing\n"
                                        "go\n"
                                        "select count(*) from tq\n"
                                        "go\n");
    ASSERT_FALSE(r.timedOut) << r.output;
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_NE(r.output.find("1\tx\n2\tNULL\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Msg 208 (severity 16"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\n2\n"), std::string::npos) << "count after the error: " << r.output;
}

// FreeTDS reads a text pointer with a length of 0 as a value of no bytes (DB-Library's
// dbdata gives a pointer, dbdatlen 0), not as NULL: what it gets from ASE for text that was
// set and then updated to NULL.
TEST_F(Tsql, TextUpdatedToNullReadsAsEmptyNotNull) {
    const ProcessResult r = Run(kSa, "create table tt (id int, t text null)\n"
                                     "insert tt values (1, 'x')\n"
                                     "insert tt values (2, null)\n"
                                     "update tt set t = null\n"
                                     "go\n"
                                     "select id, t from tt order by id\n"
                                     "go\n");
    ASSERT_FALSE(r.timedOut) << r.output;
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_NE(r.output.find("id\tt\n1\t\n2\tNULL\n"), std::string::npos) << r.output;
}

TEST_F(Tsql, WrongPasswordFails) {
    const ProcessResult r = Run({kSa.user, "definitely-wrong"}, "select 1\ngo\n");
    ASSERT_FALSE(r.timedOut) << r.output;
    EXPECT_NE(r.exitStatus, 0) << r.output;
    EXPECT_NE(r.output.find("Msg 4002"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Login failed."), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("There was a problem connecting to the server"), std::string::npos)
        << r.output;
}

TEST_F(Tsql, DatetimeReadsBackWithItsMilliseconds) {
    const std::string input = "create table tdt (d datetime, s smalldatetime)\n"
                              "insert tdt values ('2024-02-29 13:14:15.123', '2024-02-29 13:14')\n"
                              "go\n"
                              "select d, s from tdt\n"
                              "go\n";
    // tsql's built-in format shows hours and minutes only.
    const ProcessResult plain = Run(kSa, input);
    ASSERT_FALSE(plain.timedOut) << plain.output;
    EXPECT_EQ(plain.exitStatus, 0) << plain.output;
    EXPECT_NE(plain.output.find("Feb 29 2024 01:14PM\tFeb 29 2024 01:14PM"), std::string::npos)
        << plain.output;

    ProcessResult iso;
    if (!RunWithIsoDates(kSa, "select d, s from tdt\ngo\n", iso))
        GTEST_SKIP() << "no private mount namespace here for a locales.conf with milliseconds";
    ASSERT_FALSE(iso.timedOut) << iso.output;
    EXPECT_EQ(iso.exitStatus, 0) << iso.output;
    EXPECT_NE(iso.output.find("2024-02-29 13:14:15.123\t2024-02-29 13:14:00.000"),
              std::string::npos)
        << iso.output;
}

} // namespace
} // namespace tdsserver
