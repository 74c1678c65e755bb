// A close request while an operation waits for a server ends the program at once, however long
// the server would keep it waiting: a silent host at a connection test, a listing that gets no
// answer, a drop held by another client's lock, a transfer whose server falls silent. Each case
// runs the program's windows in a process of its own (program_end_helper), which closes the
// window during the wait and reports how regularly its event loop ran meanwhile.
#include "PrivateServers.h"
#include "StoredProfiles.h"
#include "TestServers.h"
#include "connect/Connection.h"
#include "connect/ConnectionProfile.h"
#include "connect/SettingsStore.h"
#include "connect/access/DatabaseError.h"
#include "connect/access/SqlText.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <ostream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace veltrane {
namespace {

enum class Side { MySQL, Sybase };

struct WaitCase {
    const char* name;
    const char* window = "connection"; // or "main"
    int button = 0;
    Side silent = Side::MySQL;     // the server behind the relay
    const char* trigger = nullptr; // the statement at which the relay falls silent; none: at once
    int count = 1;                 // silent at the trigger's count-th pass
    Side source = Side::MySQL;     // main window: the side of the table sent
    bool targetExists = false;     // main window: the other side holds the table (Yes, drop)
    bool lockTarget = false;       // another client holds the MySQL target table in a transaction
    // The silent side's server is a host name that a name server never answers for.
    bool slowNameServer = false;
};

void PrintTo(const WaitCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr int kCloseAfterMilliseconds = 1500;

long long MonotonicMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string Quote(Side side, const std::string& name) {
    return side == Side::MySQL ? QuoteMySQLIdentifier(name) : QuoteSybaseIdentifier(name);
}

std::unique_ptr<Connection> Open(Side side, const testing::ServerCoordinates& at) {
    auto c = std::make_unique<Connection>();
    c->Open(side == Side::MySQL ? testing::MySQLConnectionStringFor(at)
                                : testing::SybaseConnectionStringFor(at));
    return c;
}

// A name server that takes every query and never answers, on a loopback address of its own
// (one of several, so that cases running at the same time each find one).
class SilentNameServer {
public:
    SilentNameServer() {
        for (int last = 53; last < 63 && !bound_; ++last) {
            socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            address_ = "127.0.0." + std::to_string(last);
            sockaddr_in at{};
            at.sin_family = AF_INET;
            at.sin_port = htons(53);
            ::inet_pton(AF_INET, address_.c_str(), &at.sin_addr);
            bound_ = ::bind(socket_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
            if (!bound_)
                ::close(socket_);
        }
    }
    ~SilentNameServer() {
        if (bound_)
            ::close(socket_);
    }
    bool Listening() const { return bound_; }
    const std::string& Address() const { return address_; }

private:
    int socket_ = -1;
    bool bound_ = false;
    std::string address_;
};

bool PrivateMountsWork() {
    QProcess probe;
    probe.start(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("--propagation"),
                                            QStringLiteral("private"), QStringLiteral("true")});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}

class CloseDuringWait : public ::testing::TestWithParam<WaitCase> {};

TEST_P(CloseDuringWait, EndsTheProgramAtOnceAndTheWindowKeptRunning) {
    const WaitCase& c = GetParam();
    VELTRANE_REQUIRE_MYSQL(mysql);
    VELTRANE_REQUIRE_SYBASE(sybase);
    const auto at = [&](Side side) -> const testing::ServerCoordinates& {
        return side == Side::MySQL ? mysql : sybase;
    };
    const bool mainWindow = std::string(c.window) == "main";
    const std::string table = "vt_wait_" + std::to_string(::getpid());
    const Side target = c.source == Side::MySQL ? Side::Sybase : Side::MySQL;
    const auto dropEverywhere = [&] {
        for (Side side : {Side::MySQL, Side::Sybase}) {
            try {
                Open(side, at(side))->Execute("DROP TABLE " + Quote(side, table));
            } catch (const DatabaseError&) {
            }
        }
    };
    dropEverywhere();
    std::unique_ptr<Connection> lockHolder;
    if (mainWindow) {
        auto source = Open(c.source, at(c.source));
        source->Execute("CREATE TABLE " + Quote(c.source, table) + " (id INT)");
        for (int i = 1; i <= 100; ++i)
            source->Execute("INSERT INTO " + Quote(c.source, table) + " VALUES (" +
                            std::to_string(i) + ")");
        if (c.targetExists)
            Open(target, at(target))->Execute("CREATE TABLE " + Quote(target, table) + " (id INT)");
        if (c.lockTarget) {
            // An open transaction that has read the table holds its metadata lock: DROP waits.
            lockHolder = Open(Side::MySQL, mysql);
            lockHolder->Execute("START TRANSACTION");
            lockHolder->Execute("SELECT * FROM " + QuoteMySQLIdentifier(table));
        }
    }

    std::unique_ptr<SilentNameServer> nameServer;
    QTemporaryDir resolverDir;
    if (c.slowNameServer) {
        nameServer = std::make_unique<SilentNameServer>();
        if (!nameServer->Listening() || !PrivateMountsWork())
            GTEST_SKIP() << "no loopback address for a silent name server on port 53, or no "
                            "private mount namespace for its resolv.conf here";
        QFile resolver(resolverDir.filePath(QStringLiteral("resolv.conf")));
        ASSERT_TRUE(resolver.open(QIODevice::WriteOnly));
        resolver.write(QByteArray("nameserver ") + nameServer->Address().c_str() +
                       "\noptions timeout:5 attempts:2\n");
    }
    testing::SilencingRelay relay(std::stoi(at(c.silent).port));
    if (c.trigger == nullptr && !c.lockTarget)
        relay.SilenceNow();
    else if (c.trigger != nullptr)
        relay.SilenceAt(c.trigger, c.count);
    const QString relayPort = QString::number(relay.Port());
    ConnectionProfile sybaseProfile = sybase.Profile(), mysqlProfile = mysql.Profile();
    (c.silent == Side::MySQL ? mysqlProfile : sybaseProfile).Port = relayPort;
    const QString slowName = QStringLiteral("veltrane-wait.example");
    if (c.slowNameServer && c.silent == Side::Sybase)
        sybaseProfile.Server = slowName;
    QStringList arguments = {QStringLiteral("wait"), QString::fromLatin1(c.window),
                             QString::number(c.button), QString::number(kCloseAfterMilliseconds)};
    if (!mainWindow) {
        // The start-up's first test fails at once, so the connection window stays; the field
        // is then set as the user would type it.
        const auto setField = [](QString ConnectionProfile::*member,
                                 const QString& value) -> QString {
            const ProfileField& field = ProfileFieldOf(ServerKind::MySQL, member);
            return field.FieldName() + QLatin1Char('=') + value;
        };
        arguments << setField(&ConnectionProfile::Port, mysqlProfile.Port);
        if (c.slowNameServer && c.silent == Side::MySQL)
            arguments << setField(&ConnectionProfile::Server, slowName);
        mysqlProfile.Port = QStringLiteral("1");
    } else {
        arguments << QStringLiteral("select=") + QString::fromStdString(table);
    }
    QTemporaryDir configDir;
    SettingsStore store(configDir.path());
    testing::StoreProfiles(store, sybaseProfile, mysqlProfile);

    QProcess helper;
    helper.setProcessChannelMode(QProcess::MergedChannels);
    arguments << configDir.path();
    if (c.slowNameServer) {
        // The helper alone sees the silent name server, through a resolv.conf of its own.
        arguments = QStringList{QStringLiteral("-m"),
                                QStringLiteral("--propagation"),
                                QStringLiteral("private"),
                                QStringLiteral("sh"),
                                QStringLiteral("-c"),
                                QStringLiteral("mount --bind \"$0\" /etc/resolv.conf && exec "
                                               "\"$@\""),
                                resolverDir.filePath(QStringLiteral("resolv.conf")),
                                QStringLiteral(VELTRANE_PROGRAM_END_HELPER)} +
                    arguments;
        helper.start(QStringLiteral("unshare"), arguments);
    } else {
        helper.start(QStringLiteral(VELTRANE_PROGRAM_END_HELPER), arguments);
    }
    ASSERT_TRUE(helper.waitForStarted());
    long long endedAt = 0;
    for (int i = 0; i < 3000 && endedAt == 0; ++i) {
        if (helper.waitForFinished(10))
            endedAt = MonotonicMilliseconds();
    }
    ASSERT_NE(endedAt, 0) << "the program did not end";
    const QString output = QString::fromLocal8Bit(helper.readAll());
    lockHolder.reset(); // the drops below would wait for it, too
    dropEverywhere();
    const QRegularExpressionMatch said =
        QRegularExpression(
            QStringLiteral("closing at (\\d+) busy (\\d) turns (\\d+) longest (\\d+)"))
            .match(output);
    ASSERT_TRUE(said.hasMatch()) << output.toStdString();
    EXPECT_EQ(helper.exitCode(), 0) << output.toStdString();
    EXPECT_EQ(said.captured(2), QStringLiteral("1")) << "the operation was no longer running";
    EXPECT_LE(endedAt - said.captured(1).toLongLong(), 500) << output.toStdString();
    // The event loop ran all through the wait: a 10 ms timer was never held up for long.
    EXPECT_GE(said.captured(3).toInt(), kCloseAfterMilliseconds / 10 / 4) << output.toStdString();
    EXPECT_LT(said.captured(4).toInt(), 250) << output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Waits, CloseDuringWait,
    ::testing::Values(
        WaitCase{.name = "SybaseTestConnectionSilentHost", .button = 2, .silent = Side::Sybase},
        WaitCase{.name = "MySQLTestConnectionSilentHost", .button = 6, .silent = Side::MySQL},
        WaitCase{.name = "SybaseTestConnectionNameNotAnswered",
                 .button = 2,
                 .silent = Side::Sybase,
                 .trigger = "never",
                 .slowNameServer = true},
        WaitCase{.name = "MySQLTestConnectionNameNotAnswered",
                 .button = 6,
                 .silent = Side::MySQL,
                 .trigger = "never",
                 .slowNameServer = true},
        WaitCase{.name = "NextSilentAtShowTables",
                 .button = 4,
                 .silent = Side::MySQL,
                 .trigger = "SHOW TABLES"},
        WaitCase{.name = "NextSilentAtSpTables",
                 .button = 4,
                 .silent = Side::Sybase,
                 .trigger = "sp_tables"},
        WaitCase{.name = "DropHeldByAMySQLLock",
                 .window = "main",
                 .button = 4,
                 .silent = Side::MySQL,
                 .source = Side::Sybase,
                 .targetExists = true,
                 .lockTarget = true},
        WaitCase{.name = "SybaseDropSilent",
                 .window = "main",
                 .button = 3,
                 .silent = Side::Sybase,
                 .trigger = "DROP TABLE",
                 .source = Side::MySQL,
                 .targetExists = true},
        WaitCase{.name = "SilentMidTransferTowardSybase",
                 .window = "main",
                 .button = 3,
                 .silent = Side::Sybase,
                 .trigger = "INSERT INTO",
                 .count = 20,
                 .source = Side::MySQL},
        WaitCase{.name = "SilentMidTransferTowardMySQL",
                 .window = "main",
                 .button = 4,
                 .silent = Side::MySQL,
                 .trigger = "INSERT INTO",
                 .count = 20,
                 .source = Side::Sybase},
        WaitCase{.name = "SybaseSourceSilentAtSelect",
                 .window = "main",
                 .button = 4,
                 .silent = Side::Sybase,
                 .trigger = "SELECT * FROM",
                 .source = Side::Sybase},
        WaitCase{.name = "MySQLSourceSilentAtSelect",
                 .window = "main",
                 .button = 3,
                 .silent = Side::MySQL,
                 .trigger = "SELECT * FROM",
                 .source = Side::MySQL}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace veltrane
