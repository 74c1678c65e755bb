#include "TestServers.h"
#include "app/shell/Dialogs.h"
#include "app/shell/ErrorTrap.h"
#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"

#include <functional>
#include <gtest/gtest.h>

namespace veltrane {
namespace {

using testing::ServerCoordinates;

constexpr const char* kPassword = "Vt-Secret-7q";

struct FailingOpen {
    const char* what;
    // The connection string to open, from the real server's coordinates.
    std::function<std::string(ServerCoordinates)> connectionString;
};

std::string MySQL(const ServerCoordinates& s) {
    return testing::MySQLConnectionStringFor(s);
}
std::string Sybase(const ServerCoordinates& s) {
    return testing::SybaseConnectionStringFor(s);
}

// Each case fails to open; neither the error nor the report the user would see may hold the
// password.
void ExpectNoPasswordInFailures(const ServerCoordinates& server,
                                const std::vector<FailingOpen>& cases) {
    for (const FailingOpen& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string connectionString = c.connectionString(server);
        ASSERT_NE(connectionString.find(kPassword), std::string::npos) << connectionString;
        Connection connection;
        try {
            connection.Open(connectionString);
            ADD_FAILURE() << "opened: " << connectionString;
            continue;
        } catch (const DatabaseError& e) {
            EXPECT_EQ(std::string(e.what()).find(kPassword), std::string::npos) << e.what();
            EXPECT_EQ(e.Statement().find(kPassword), std::string::npos) << e.Statement();
        }
        ScriptedDialogs dialogs;
        ErrorTrap trap(LocationTag(QStringLiteral("Form1"), QStringLiteral("PushButton6_Click")),
                       dialogs);
        trap.Run(102, [&] { Connection().Open(connectionString); });
        ASSERT_EQ(dialogs.texts().size(), 1u);
        EXPECT_FALSE(dialogs.texts()[0].contains(QString::fromUtf8(kPassword)))
            << dialogs.texts()[0].toStdString();
    }
}

std::vector<FailingOpen> CommonCases(std::string (*build)(const ServerCoordinates&)) {
    const auto with = [build](std::function<void(ServerCoordinates&)> change) {
        return [build, change](ServerCoordinates s) {
            s.password = kPassword;
            change(s);
            return build(s);
        };
    };
    return {
        {"wrong password", with([](ServerCoordinates&) {})},
        {"wrong user", with([](ServerCoordinates& s) { s.user = "vt_nobody"; })},
        {"closed port", with([](ServerCoordinates& s) { s.port = "1"; })},
        {"port not a number", with([](ServerCoordinates& s) { s.port = "50x"; })},
        {"no server", with([](ServerCoordinates& s) { s.host.clear(); })},
        {"unknown database", with([](ServerCoordinates& s) { s.database = "vt_no_such_db"; })},
        {"password with ';'",
         with([](ServerCoordinates& s) { s.password = std::string("a;") + kPassword; })},
        {"password with ';' and a key", with([](ServerCoordinates& s) {
             s.password = std::string("a;Data Source=") + kPassword + ";PORT=" + kPassword;
         })},
        {"password opening a brace",
         with([](ServerCoordinates& s) { s.password = std::string("{") + kPassword; })},
    };
}

TEST(PasswordSecrecy, MySQLFailuresNeverShowThePassword) {
    VELTRANE_REQUIRE_MYSQL(server);
    std::vector<FailingOpen> cases = CommonCases(MySQL);
    const std::string head = "DRIVER={MySQL ODBC 5.1 Driver};SERVER=" + server.host + ";";
    for (const std::string& rest :
         {std::string("PASSWORD=") + kPassword + ";PORT=x;",
          std::string("PASSWORD={") + kPassword + ";PORT=1;",
          std::string("PASSWORD={") + kPassword + "}x;PORT=1;",
          std::string("PASSWORD=") + kPassword + ";password=" + kPassword + ";PORT=1;"}) {
        cases.push_back(
            {"malformed string", [head, rest](ServerCoordinates) { return head + rest; }});
    }
    ExpectNoPasswordInFailures(server, cases);
}

TEST(PasswordSecrecy, SybaseFailuresNeverShowThePassword) {
    VELTRANE_REQUIRE_SYBASE(server);
    std::vector<FailingOpen> cases = CommonCases(Sybase);
    const std::string head = "Provider=ASEOLEDB;Data Source=" + server.host + ":" + server.port;
    for (const std::string& rest : {std::string(";Password=") + kPassword + ";Provider=x",
                                    std::string(";Password={") + kPassword,
                                    std::string(";Password=") + kPassword + ";" + kPassword}) {
        cases.push_back(
            {"malformed string", [head, rest](ServerCoordinates) { return head + rest; }});
    }
    ExpectNoPasswordInFailures(server, cases);
}

} // namespace
} // namespace veltrane
