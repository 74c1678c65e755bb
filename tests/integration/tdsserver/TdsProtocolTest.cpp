// ase-testserver on the wire: login, requests, results, attention, options, logout and RPC,
// checked byte by byte with the test's own TDS client.

#include "RawTds.h"
#include "ServerFixture.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tdsserver {
namespace {

using namespace std::chrono_literals;

std::string Le32(std::uint32_t v) {
    std::string s;
    PutU32(s, v);
    return s;
}

std::string Le16(std::uint16_t v) {
    std::string s;
    PutU16(s, v);
    return s;
}

std::string Le64(std::uint64_t v) {
    return Le32(static_cast<std::uint32_t>(v)) + Le32(static_cast<std::uint32_t>(v >> 32));
}

class TdsProtocol : public ServerTest {
protected:
    // A connection that has not logged in yet; its wire faults are checked at the end.
    std::shared_ptr<RawTdsClient> Open() {
        auto client = std::make_shared<RawTdsClient>(Port());
        clients_.push_back(client);
        return client;
    }

    // A connection that has logged in as sa; the test fails when the login does not succeed.
    std::shared_ptr<RawTdsClient> Connect() {
        auto client = Open();
        const auto reply = client->Login(kSa.user, kSa.password);
        const Token* ack = First(reply, tds::kLoginAck);
        EXPECT_TRUE(ack != nullptr && ack->ackStatus == 5) << Describe(reply);
        return client;
    }

    // Runs a batch that must succeed as a whole.
    std::vector<Token> Run(RawTdsClient& client, const std::string& sql) {
        auto reply = client.Language(sql);
        const Token* error = FirstError(reply);
        EXPECT_EQ(error, nullptr) << sql << "\n -> " << Describe(reply);
        EXPECT_TRUE(reply.back().IsDone()) << Describe(reply);
        EXPECT_EQ(reply.back().doneStatus & tds::kDoneError, 0)
            << sql << "\n -> " << Describe(reply);
        return reply;
    }

    void TearDown() override {
        for (const auto& client : clients_)
            EXPECT_TRUE(client->PacketFaults().empty())
                << "wire faults: " << client->PacketFaults().front();
        clients_.clear();
        ServerTest::TearDown();
    }

    std::vector<std::shared_ptr<RawTdsClient>> clients_;
};

std::string OptionCommand(std::uint8_t command, std::uint8_t option, const std::string& arg) {
    std::string payload;
    payload += static_cast<char>(tds::kOptionCmd);
    PutU16(payload, static_cast<std::uint16_t>(3 + arg.size()));
    payload += static_cast<char>(command);
    payload += static_cast<char>(option);
    payload += static_cast<char>(arg.size());
    payload += arg;
    return payload;
}

std::string RpcCall(const std::string& name, bool withParameters) {
    std::string payload;
    payload += static_cast<char>(tds::kDbRpc);
    PutU16(payload, static_cast<std::uint16_t>(1 + name.size() + 2));
    payload += static_cast<char>(name.size());
    payload += name;
    PutU16(payload, withParameters ? 2 : 0);
    return payload;
}

// One VARCHAR parameter in PARAMFMT + PARAMS form.
std::string VarCharParameter(const std::string& name, const std::string& value) {
    std::string format;
    PutU16(format, 1);
    format += static_cast<char>(name.size());
    format += name;
    format += '\0';    // status: input
    format += Le32(0); // user type
    format += '\x27';  // VARCHAR
    format += '\xff';  // maximum length
    format += '\0';    // locale
    std::string payload;
    payload += static_cast<char>(tds::kParamFmt);
    PutU16(payload, static_cast<std::uint16_t>(format.size()));
    payload += format;
    payload += static_cast<char>(tds::kParams);
    payload += static_cast<char>(value.size());
    payload += value;
    return payload;
}

// The rows of a reply as column name -> value text (NULL as "<null>").
std::vector<std::map<std::string, std::string>> RowsOf(const std::vector<Token>& reply) {
    std::vector<std::map<std::string, std::string>> rows;
    std::vector<ColumnFormat> format;
    for (const Token& t : reply) {
        if (t.id == tds::kRowFmt || t.id == tds::kRowFmt2)
            format = t.columns;
        if (t.id != tds::kRow)
            continue;
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < format.size() && i < t.values.size(); ++i)
            row[format[i].name] = t.values[i].bytes.value_or("<null>");
        rows.push_back(std::move(row));
    }
    return rows;
}

// --- The server process ----------------------------------------------------------------------

TEST(TdsServerCommandLine, HelpSaysItIsATestTool) {
    const ProcessResult r = RunProcess({ASE_TESTSERVER_PATH, "--help"}, {}, "", 10s);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_NE(r.output.find("--port"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("--data-dir"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("test"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("not part of Veltrane"), std::string::npos) << r.output;
}

TEST(TdsServerCommandLine, BadArgumentsAreRefusedWithAMessage) {
    const auto dir = MakeTemporaryDirectory("tdsserver-args-");
    const std::vector<std::vector<std::string>> cases = {
        {ASE_TESTSERVER_PATH, "--port"},
        {ASE_TESTSERVER_PATH, "--port", "notaport", "--data-dir", dir.string(), "--user", "sa",
         "--password", "x"},
        {ASE_TESTSERVER_PATH, "--port", "0", "--data-dir", dir.string(), "--frobnicate"},
        // Only the first login can be the Database Owner.
        {ASE_TESTSERVER_PATH, "--port", "0", "--data-dir", dir.string(), "--user", "sa",
         "--password", "x", "--user", "dbo", "--password", "y"},
    };
    for (const auto& argv : cases) {
        const ProcessResult r = RunProcess(argv, {}, "", 10s);
        EXPECT_FALSE(r.timedOut) << argv.size();
        // A clear refusal: a non-zero exit status (not a signal) and some explanation.
        EXPECT_GT(r.exitStatus, 0)
            << argv[1] << " " << (argv.size() > 2 ? argv[2] : "") << ": " << r.output;
        EXPECT_FALSE(r.output.empty()) << argv[1];
        // The usage text names the line with PORT; a real one names a number.
        const std::string line = "listening on 127.0.0.1:";
        bool listening = false;
        for (std::size_t at = r.output.find(line); at != std::string::npos;
             at = r.output.find(line, at + 1)) {
            const std::size_t after = at + line.size();
            listening = listening || (after < r.output.size() &&
                                      std::isdigit(static_cast<unsigned char>(r.output[after])));
        }
        EXPECT_FALSE(listening) << r.output;
    }
    std::filesystem::remove_all(dir);
}

TEST_F(TdsProtocol, ListensOnTheLoopbackAddressOnly) {
    EXPECT_EQ(server_.ListeningLine(), "listening on 127.0.0.1:" + std::to_string(Port()));
    // 127.0.0.2 reaches the loopback interface too, but a socket bound to 127.0.0.1 alone
    // does not accept there.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(Port()));
    ::inet_pton(AF_INET, "127.0.0.2", &addr.sin_addr);
    EXPECT_NE(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0)
        << "the server also accepts connections on 127.0.0.2: bound to more than 127.0.0.1";
    ::close(fd);
    auto client = Connect();
}

// --- Login -------------------------------------------------------------------------------------

TEST_F(TdsProtocol, LoginReplyAsFreeTdsNeedsIt) {
    auto client = Open();
    const std::string record = BuildLoginRecord(kSa.user, kSa.password);
    ASSERT_EQ(record.size(), 603u);
    client->SendMessage(tds::kPacketLogin, record, 512); // 512 bytes, then 107 with EOM
    const auto reply = client->ReadResponse();
    const std::string seen = Describe(reply);

    const Token* ack = First(reply, tds::kLoginAck);
    ASSERT_NE(ack, nullptr) << seen;
    EXPECT_EQ(ack->ackStatus, 5) << seen;
    const std::array<std::uint8_t, 4> tds50{5, 0, 0, 0};
    EXPECT_EQ(ack->tdsVersion, tds50);
    EXPECT_EQ(ack->programVersion[0] & 0x80, 0) << "top bit set: FreeTDS would take it for MS";

    std::map<int, std::string> changes;
    for (const Token& t : Filter(reply, tds::kEnvChange)) {
        EXPECT_FALSE(t.envHasTrailingBytes)
            << "ENVCHANGE type " << t.envType << " carries more than one change";
        EXPECT_EQ(changes.count(t.envType), 0u) << "type " << t.envType << " twice: " << seen;
        changes[t.envType] = t.newValue;
    }
    EXPECT_EQ(changes[1], "master") << seen;
    EXPECT_FALSE(changes[2].empty()) << "no language ENVCHANGE: " << seen;
    EXPECT_EQ(changes[3], "utf8") << seen;
    ASSERT_EQ(changes.count(4), 1u) << "no packet size ENVCHANGE: " << seen;
    EXPECT_GE(std::stoi(changes[4]), 512) << changes[4];

    const Token* capability = First(reply, tds::kCapability);
    ASSERT_NE(capability, nullptr) << seen;
    ASSERT_EQ(capability->body.size(), 32u);
    EXPECT_EQ(capability->body.substr(0, 2), std::string("\x01\x0e", 2));
    EXPECT_EQ(capability->body.substr(16, 2), std::string("\x02\x0e", 2));

    for (const Token& t : reply) {
        if (t.id == tds::kEed) {
            EXPECT_LE(t.severity, 10) << "an error in a successful login: " << seen;
        }
    }
    ASSERT_EQ(reply.back().id, tds::kDone) << seen;
    EXPECT_EQ(reply.back().doneStatus, 0) << seen;
    EXPECT_EQ(Filter(reply, tds::kDone).size(), 1u) << seen;
    // The login reply is a complete message and the session answers requests.
    const auto rows = RowsOf(Run(*client, "select 42 answer"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("answer"), Le32(42));
}

TEST_F(TdsProtocol, FirstLoginWorksAsDboAndTheOthersAsThemselves) {
    struct Case {
        std::vector<Login> logins; // in the order of the command line
        std::vector<std::string> users;
    };
    const Case cases[] = {
        {{kSa, kAlice}, {"dbo", "alice"}},
        {{kAlice, kSa}, {"dbo", "sa"}},
    };
    for (const Case& c : cases) {
        server_.Stop();
        ASSERT_NO_THROW(server_.Start(c.logins));
        for (std::size_t i = 0; i < c.logins.size(); ++i) {
            auto client = Open();
            const auto reply = client->Login(c.logins[i].user, c.logins[i].password);
            const Token* ack = First(reply, tds::kLoginAck);
            ASSERT_TRUE(ack != nullptr && ack->ackStatus == 5) << Describe(reply);
            const auto rows = RowsOf(Run(*client, "select user_name() u, suser_name() l"));
            ASSERT_EQ(rows.size(), 1u);
            EXPECT_EQ(rows[0].at("u"), c.users[i])
                << c.logins[i].user << " first " << c.logins[0].user;
            EXPECT_EQ(rows[0].at("l"), c.logins[i].user);
        }
    }
}

TEST_F(TdsProtocol, WrongPasswordIsRefusedAndTheSocketClosed) {
    for (const Login& bad : {Login{kSa.user, "wrong"}, Login{"nobody", kSa.password},
                             Login{kAlice.user, kSa.password}, Login{kSa.user, ""}}) {
        auto client = Open();
        const auto reply = client->Login(bad.user, bad.password);
        const std::string seen = bad.user + "/" + bad.password + ": " + Describe(reply);
        const Token* eed = First(reply, tds::kEed);
        ASSERT_NE(eed, nullptr) << seen;
        EXPECT_EQ(eed->messageNumber, 4002) << seen;
        EXPECT_EQ(eed->severity, 14) << seen;
        EXPECT_EQ(eed->messageText, "Login failed.") << seen;
        const Token* ack = First(reply, tds::kLoginAck);
        ASSERT_NE(ack, nullptr) << seen;
        EXPECT_EQ(ack->ackStatus, 6) << seen;
        ASSERT_EQ(reply.back().id, tds::kDone) << seen;
        EXPECT_NE(reply.back().doneStatus & tds::kDoneError, 0) << seen;
        EXPECT_TRUE(client->WaitForClose()) << "socket still open after a refused login";
    }
    // Every configured login still works.
    for (const Login& good : {kSa, kAlice}) {
        auto client = Open();
        const auto reply = client->Login(good.user, good.password);
        const Token* ack = First(reply, tds::kLoginAck);
        ASSERT_NE(ack, nullptr) << Describe(reply);
        EXPECT_EQ(ack->ackStatus, 5) << good.user << ": " << Describe(reply);
    }
}

TEST_F(TdsProtocol, LoginInSmallPacketsIsReassembled) {
    auto client = Open();
    client->SendMessage(tds::kPacketLogin, BuildLoginRecord(kSa.user, kSa.password), 8 + 37);
    const auto reply = client->ReadResponse();
    const Token* ack = First(reply, tds::kLoginAck);
    ASSERT_NE(ack, nullptr) << Describe(reply);
    EXPECT_EQ(ack->ackStatus, 5);
    EXPECT_EQ(RowsOf(Run(*client, "select 'ok' r")).at(0).at("r"), "ok");
}

TEST_F(TdsProtocol, LargerPacketSizeIsAnnouncedAndUsable) {
    auto client = Open();
    client->SendMessage(tds::kPacketLogin,
                        BuildLoginRecord(kSa.user, kSa.password, "TSQL", "4096"));
    const auto reply = client->ReadResponse();
    ASSERT_EQ(First(reply, tds::kLoginAck)->ackStatus, 5) << Describe(reply);
    std::string announced;
    for (const Token& t : Filter(reply, tds::kEnvChange))
        if (t.envType == 4)
            announced = t.newValue;
    EXPECT_EQ(announced, "4096") << Describe(reply);
    // A request in packets of the new size, and a reply larger than one packet.
    const std::string value(6000, 'w');
    std::string payload;
    payload += static_cast<char>(tds::kLanguage);
    const std::string sql = "select '" + value + "' v";
    PutU32(payload, static_cast<std::uint32_t>(sql.size() + 1));
    payload += '\0';
    payload += sql;
    const std::size_t before = client->PacketsRead();
    client->SendMessage(tds::kPacketNormal, payload, 4096);
    const auto rows = RowsOf(client->ReadResponse());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("v"), value);
    EXPECT_GE(client->PacketsRead() - before, 2u) << "6000 bytes do not fit one 4096-byte packet";
}

TEST_F(TdsProtocol, NonLoginFirstPacketClosesOnlyThatSocket) {
    {
        RawTdsClient prelogin(Port());
        prelogin.SendMessage(0x12, std::string("\x00\x00\x1a\x00\x06\x01\x00\x20\x00\x01\xff", 11));
        EXPECT_TRUE(prelogin.WaitForClose()) << "a 0x12 first packet left the socket open";
    }
    {
        RawTdsClient query(Port());
        query.SendMessage(tds::kPacketNormal, std::string("\x21\x09\x00\x00\x00\x00select 1", 14));
        EXPECT_TRUE(query.WaitForClose()) << "a request before the login left the socket open";
    }
    {
        // A client that goes away in the middle of its login record.
        RawTdsClient quitter(Port());
        quitter.SendRawBytes(std::string("\x02\x00\x02\x00\x00\x00\x00\x00", 8) +
                             BuildLoginRecord("sa", "x").substr(0, 100));
    }
    auto client = Connect();
    EXPECT_EQ(RowsOf(Run(*client, "select 'still here' r")).at(0).at("r"), "still here");
}

// --- Language requests --------------------------------------------------------------------------

TEST_F(TdsProtocol, TwoSelectsInOneBatch) {
    auto client = Connect();
    const auto reply = client->Language("select 1 select 'a'");
    const std::string seen = Describe(reply);
    ASSERT_EQ(reply.size(), 6u) << seen;
    const std::vector<std::uint8_t> ids = {tds::kRowFmt, tds::kRow, tds::kDone,
                                           tds::kRowFmt, tds::kRow, tds::kDone};
    for (std::size_t i = 0; i < ids.size(); ++i)
        EXPECT_EQ(reply[i].id, ids[i]) << i << ": " << seen;
    ASSERT_EQ(reply[0].columns.size(), 1u);
    EXPECT_EQ(reply[0].columns[0].type, tds::kInt4) << "an int literal is int NOT NULL";
    EXPECT_EQ(reply[1].values.at(0).bytes, Le32(1));
    EXPECT_EQ(reply[2].doneStatus, tds::kDoneMore | tds::kDoneCount) << seen;
    EXPECT_EQ(reply[2].doneCount, 1u);
    ASSERT_EQ(reply[3].columns.size(), 1u);
    EXPECT_EQ(reply[3].columns[0].type, tds::kVarChar);
    EXPECT_EQ(reply[4].values.at(0).bytes, "a");
    EXPECT_EQ(reply[5].doneStatus, tds::kDoneCount) << seen;
    EXPECT_EQ(reply[5].doneCount, 1u);
    for (const Token& t : reply) {
        for (const ColumnFormat& c : t.columns) {
            EXPECT_EQ(c.status & 0x08, 0u) << "ROWFMT status 0x08 asks for per-value status";
        }
    }
}

TEST_F(TdsProtocol, SyntaxErrorRunsNothingOfTheBatch) {
    auto client = Connect();
    Run(*client, "create table se (a int)");
    const auto reply = client->Language("insert into se values (1) insert se values (2,,)");
    const std::string seen = Describe(reply);
    const Token* error = FirstError(reply);
    ASSERT_NE(error, nullptr) << seen;
    EXPECT_EQ(error->messageNumber, 102) << seen;
    EXPECT_EQ(error->severity, 15);
    EXPECT_EQ(error->messageText, "Incorrect syntax near ','.");
    ASSERT_TRUE(reply.back().IsDone()) << seen;
    EXPECT_NE(reply.back().doneStatus & tds::kDoneError, 0) << seen;
    EXPECT_EQ(reply.back().doneStatus & tds::kDoneMore, 0) << seen;
    EXPECT_EQ(Filter(reply, tds::kDone).size(), 1u) << "one DONE for a batch that did not run";
    const auto rows = RowsOf(Run(*client, "select count(*) n from se"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("n"), Le32(0)) << "the first insert ran although the batch was refused";
}

TEST_F(TdsProtocol, RuntimeErrorFailsOnlyItsStatement) {
    auto client = Connect();
    const auto reply = client->Language(
        "create table rt (a int) create table rt (b int) insert rt values (5) select a from rt");
    const std::string seen = Describe(reply);
    const auto dones = Filter(reply, tds::kDone);
    ASSERT_EQ(dones.size(), 4u) << seen;
    EXPECT_EQ(dones[0].doneStatus, tds::kDoneMore) << seen;
    EXPECT_EQ(dones[1].doneStatus & (tds::kDoneMore | tds::kDoneError),
              tds::kDoneMore | tds::kDoneError)
        << seen;
    EXPECT_EQ(dones[2].doneStatus, tds::kDoneMore | tds::kDoneCount) << seen;
    EXPECT_EQ(dones[2].doneCount, 1u);
    EXPECT_EQ(dones[3].doneStatus, tds::kDoneCount) << seen;
    const Token* error = FirstError(reply);
    ASSERT_NE(error, nullptr) << seen;
    EXPECT_EQ(error->messageNumber, 2714);
    EXPECT_EQ(error->messageText, "There is already an object named 'rt' in the database.");
    EXPECT_EQ(RowsOf(reply).size(), 1u) << seen;
}

TEST_F(TdsProtocol, UseDatabaseAndTheFreeTdsLoginProbe) {
    auto client = Connect();
    Run(*client, "create database rawdb");
    // FreeTDS 1.3 sends exactly this after the login, with no separator.
    const auto reply = client->Language("select @@spid use [rawdb]");
    const std::string seen = Describe(reply);
    EXPECT_EQ(FirstError(reply), nullptr) << seen;
    const Token* format = First(reply, tds::kRowFmt);
    ASSERT_NE(format, nullptr) << seen;
    ASSERT_EQ(format->columns.size(), 1u);
    const std::uint8_t spidType = format->columns[0].type;
    EXPECT_TRUE(spidType == tds::kInt4 || spidType == tds::kInt2 ||
                (spidType == tds::kIntN &&
                 (format->columns[0].maxLength == 4 || format->columns[0].maxLength == 2)))
        << "@@spid must convert to INT2/INT4 for FreeTDS, got type " << int(spidType);
    const Token* env = First(reply, tds::kEnvChange);
    ASSERT_NE(env, nullptr) << seen;
    EXPECT_EQ(env->envType, 1);
    EXPECT_EQ(env->newValue, "rawdb");
    EXPECT_EQ(env->oldValue, "master");
    const Token* info = First(reply, tds::kEed);
    ASSERT_NE(info, nullptr) << seen;
    EXPECT_EQ(info->messageNumber, 5701);
    EXPECT_EQ(info->severity, 10);
    EXPECT_EQ(info->messageText, "Changed database context to 'rawdb'.");
    ASSERT_EQ(Filter(reply, tds::kDone).size(), 2u) << seen;
    EXPECT_EQ(reply.back().doneStatus & tds::kDoneMore, 0);

    const auto missing = client->Language("use no_such_db");
    const Token* error = FirstError(missing);
    ASSERT_NE(error, nullptr) << Describe(missing);
    EXPECT_EQ(error->messageNumber, 911);
    EXPECT_EQ(First(missing, tds::kEnvChange), nullptr) << Describe(missing);
}

// --- Attention ----------------------------------------------------------------------------------

TEST_F(TdsProtocol, AttentionAfterACompleteResponseIsAcknowledged) {
    auto client = Connect();
    Run(*client, "select 1");
    client->SendAttention();
    const auto ack = client->ReadResponse();
    const std::string seen = Describe(ack);
    ASSERT_FALSE(ack.empty());
    EXPECT_TRUE(ack.back().IsDone()) << seen;
    EXPECT_NE(ack.back().doneStatus & tds::kDoneAttention, 0) << seen;
    EXPECT_EQ(First(ack, tds::kRow), nullptr) << seen;
    // Nothing is left over: the next response starts with its own tokens.
    const auto next = client->Language("select 2");
    ASSERT_FALSE(next.empty());
    EXPECT_EQ(next.front().id, tds::kRowFmt) << Describe(next);
    EXPECT_EQ(RowsOf(next).at(0).begin()->second, Le32(2));
}

TEST_F(TdsProtocol, AttentionStopsALargeResult) {
    auto client = Connect();
    Run(*client, "create table big (id int, v varchar(200))");
    Run(*client, "insert big values (1, '" + std::string(200, 'x') + "')");
    std::string doubling;
    for (int i = 0; i < 17; ++i)
        doubling += "insert into big select id, v from big\n";
    Run(*client, doubling);
    const std::uint32_t total = 1u << 17;
    const auto counted = RowsOf(Run(*client, "select count(*) n from big"));
    ASSERT_EQ(counted.at(0).at("n"), Le32(total));

    client->SendLanguage("select id, v from big");
    std::size_t rows = 0;
    bool sentAttention = false;
    bool acknowledged = false;
    std::string tail;
    while (!acknowledged) {
        const Token t = client->ReadToken();
        if (t.id == tds::kRow) {
            ++rows;
            if (rows == 200 && !sentAttention) {
                client->SendAttention();
                sentAttention = true;
            }
        } else {
            tail += Describe({t});
        }
        if (t.IsDone() && (t.doneStatus & tds::kDoneAttention))
            acknowledged = true;
    }
    ASSERT_TRUE(sentAttention) << "the result ended before 200 rows: " << tail;
    EXPECT_LT(rows, total) << "all rows were sent despite the attention";
    EXPECT_TRUE(client->AtMessageBoundary()) << "bytes follow the attention acknowledgement";
    // The connection is usable afterwards and nothing of the old result is pending.
    const auto after = client->Language("select count(*) n from big");
    EXPECT_EQ(after.front().id, tds::kRowFmt) << Describe(after);
    EXPECT_EQ(RowsOf(after).at(0).at("n"), Le32(total));
}

// A command timeout in DB-Library sends an attention while the server is still working on
// the batch, before any row: the batch must stop at a statement or row boundary.
TEST_F(TdsProtocol, AttentionStopsALongRunningBatch) {
    auto client = Connect();
    Run(*client, "create table lb (a int) insert lb values (1)");
    std::string doubling;
    constexpr int kDoublings = 21; // seconds of work when nothing stops it
    for (int i = 0; i < kDoublings; ++i)
        doubling += "insert lb select a from lb\n";
    client->SendLanguage(doubling);
    std::this_thread::sleep_for(150ms);
    const auto sent = std::chrono::steady_clock::now();
    client->SendAttention();
    std::string seen;
    for (;;) {
        const Token t = client->ReadToken();
        seen += Describe({t});
        if (t.IsDone() && (t.doneStatus & tds::kDoneAttention))
            break;
    }
    const auto waited = std::chrono::steady_clock::now() - sent;
    EXPECT_TRUE(client->AtMessageBoundary());
    const auto rows = RowsOf(Run(*client, "select count(*) n from lb"));
    const std::uint32_t count = GetU32(rows.at(0).at("n"));
    EXPECT_LT(count, 1u << kDoublings) << "every statement ran despite the attention: " << seen;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), 2000)
        << "the acknowledgement came only after the whole batch";
}

// An attention may arrive at any moment around the end of a response; whatever the moment,
// exactly one acknowledgement follows and the next request gets its own reply.
TEST_F(TdsProtocol, AttentionRacingTheEndOfAResponse) {
    auto client = Connect();
    Run(*client, "create table ar (id int, v varchar(100))");
    Run(*client, "insert ar values (1, '" + std::string(100, 'r') + "')");
    std::string doubling;
    for (int i = 0; i < 11; ++i)
        doubling += "insert ar select id + 1, v from ar\n";
    Run(*client, doubling);
    for (int round = 0; round < 60; ++round) {
        const bool select = round % 2 == 0;
        client->SendLanguage(select ? "select id, v from ar"
                                    : "update ar set id = id where id < 0");
        std::this_thread::sleep_for(std::chrono::microseconds((round * 379) % 6000));
        client->SendAttention();
        int acknowledgements = 0;
        std::string seen;
        while (acknowledgements == 0) {
            const Token t = client->ReadToken();
            if (t.id != tds::kRow)
                seen += Describe({t});
            if (t.IsDone() && (t.doneStatus & tds::kDoneAttention))
                ++acknowledgements;
        }
        ASSERT_TRUE(client->AtMessageBoundary()) << "round " << round << ": " << seen;
        const auto next = client->Language("select " + std::to_string(round) + " n");
        ASSERT_EQ(next.size(), 3u)
            << "round " << round << ": stray tokens before the reply: " << Describe(next)
            << " after " << seen;
        EXPECT_EQ(RowsOf(next).at(0).at("n"), Le32(static_cast<std::uint32_t>(round)));
        EXPECT_EQ(next.back().doneStatus & tds::kDoneAttention, 0) << "round " << round;
    }
}

// --- Options and logout -------------------------------------------------------------------------

TEST_F(TdsProtocol, TextSizeByOptionCommandAndByDefault) {
    auto client = Connect();
    Run(*client, "create table tx (t text)");
    Run(*client, "insert tx values ('" + std::string(40000, 'q') + "')");
    auto textLength = [&] {
        const auto reply = Run(*client, "select t from tx");
        const Token* row = First(reply, tds::kRow);
        EXPECT_NE(row, nullptr) << Describe(reply);
        if (row == nullptr || !row->values.at(0).bytes)
            return std::size_t{0};
        EXPECT_EQ(row->values.at(0).textPointerLength, 16);
        return row->values.at(0).bytes->size();
    };
    EXPECT_EQ(textLength(), 32768u) << "the default textsize cuts text at 32768 bytes";

    client->SendMessage(tds::kPacketNormal, OptionCommand(1, 2, Le32(100)));
    auto reply = client->ReadResponse();
    ASSERT_EQ(reply.size(), 1u) << Describe(reply);
    EXPECT_EQ(reply[0].id, tds::kDone);
    EXPECT_EQ(reply[0].doneStatus, 0) << Describe(reply);
    EXPECT_EQ(textLength(), 100u);

    client->SendMessage(tds::kPacketNormal, OptionCommand(1, 2, Le32(100000)));
    reply = client->ReadResponse();
    EXPECT_EQ(reply.back().doneStatus, 0) << Describe(reply);
    EXPECT_EQ(textLength(), 40000u);

    Run(*client, "set textsize 10");
    EXPECT_EQ(textLength(), 10u);
    Run(*client, "set textsize 0");
    EXPECT_EQ(textLength(), 32768u) << "set textsize 0 restores the default";
}

TEST_F(TdsProtocol, LogoutIsAnsweredThenTheSocketCloses) {
    auto client = Connect();
    client->SendMessage(tds::kPacketNormal, std::string("\x71\x00", 2));
    const auto reply = client->ReadResponse();
    ASSERT_EQ(reply.size(), 1u) << Describe(reply);
    EXPECT_EQ(reply[0].id, tds::kDone);
    EXPECT_EQ(reply[0].doneStatus & tds::kDoneError, 0);
    EXPECT_TRUE(client->WaitForClose()) << "the socket stays open after LOGOUT";
}

// --- Result formats -----------------------------------------------------------------------------

struct ExpectedColumn {
    const char* name;
    std::uint8_t type;
    std::uint32_t maxLength; // for types with a length in their type info
    bool nullable;
};

TEST_F(TdsProtocol, NullableColumnsUseTheNullableWireTypes) {
    auto client = Connect();
    Run(*client, "create table wt (i_nn int, i_n int null, ti_n tinyint null, si_n smallint null,"
                 " bi_nn bigint, bi_n bigint null, r_nn real, r_n real null, f_nn float,"
                 " f_n float null, m_nn money, m_n money null, sm_nn smallmoney,"
                 " sm_n smallmoney null, dt_nn datetime, dt_n datetime null,"
                 " sdt_n smalldatetime null, d_nn date, d_n date null, t_nn time, t_n time null,"
                 " ui_nn unsigned int, ui_n unsigned int null, us_nn unsigned smallint,"
                 " ub_nn unsigned bigint, c_nn char(5), c_n char(5) null, b_nn binary(4),"
                 " b_n binary(4) null, vc varchar(10), lvc varchar(300) null, tx text null,"
                 " im image null, n numeric(10,2) null)");
    const std::string longText(300, 'L');
    Run(*client, "insert wt values (1, 2, 3, 4, -5, 6, 1.5, 2, 2.25, 4, 12.5, 2, 1.25, 2,"
                 " '2020-01-02 13:04:05.123', '2020-01-01', '2020-01-01', '2020-01-01',"
                 " '2020-01-01', '13:04:05', '10:00', 4000000000, 2, 65535,"
                 " 18446744073709551615, 'a', 'b', 0x01020304, 0x02, 'v', '" +
                     longText + "', 'text value', 0x0102, 12.34)");
    Run(*client, "insert wt (i_nn, bi_nn, r_nn, f_nn, m_nn, sm_nn, dt_nn, d_nn, t_nn, ui_nn, us_nn,"
                 " ub_nn, c_nn, b_nn, vc) values (2, 0, 0, 0, 0, 0, '1900-01-01', '1900-01-01',"
                 " '00:00', 0, 0, 0, 'c', 0x00, 'w')");
    const auto reply = Run(*client, "select * from wt order by i_nn");
    const Token* format = First(reply, tds::kRowFmt);
    if (format == nullptr)
        format = First(reply, tds::kRowFmt2);
    ASSERT_NE(format, nullptr) << Describe(reply);

    const std::vector<ExpectedColumn> expected = {
        {"i_nn", tds::kInt4, 0, false},      {"i_n", tds::kIntN, 4, true},
        {"ti_n", tds::kIntN, 1, true},       {"si_n", tds::kIntN, 2, true},
        {"bi_nn", tds::kInt8, 0, false},     {"bi_n", tds::kIntN, 8, true},
        {"r_nn", tds::kFlt4, 0, false},      {"r_n", tds::kFltN, 4, true},
        {"f_nn", tds::kFlt8, 0, false},      {"f_n", tds::kFltN, 8, true},
        {"m_nn", tds::kMoney, 0, false},     {"m_n", tds::kMoneyN, 8, true},
        {"sm_nn", tds::kMoney4, 0, false},   {"sm_n", tds::kMoneyN, 4, true},
        {"dt_nn", tds::kDateTime, 0, false}, {"dt_n", tds::kDateTimeN, 8, true},
        {"sdt_n", tds::kDateTimeN, 4, true}, {"d_nn", tds::kDate, 0, false},
        {"d_n", tds::kDateN, 4, true},       {"t_nn", tds::kTime, 0, false},
        {"t_n", tds::kTimeN, 4, true},       {"ui_nn", tds::kUInt4, 0, false},
        {"ui_n", tds::kUIntN, 4, true},      {"us_nn", tds::kUInt2, 0, false},
        {"ub_nn", tds::kUInt8, 0, false},    {"c_nn", tds::kChar, 5, false},
        {"c_n", tds::kVarChar, 5, true},     {"b_nn", tds::kBinary, 4, false},
        {"b_n", tds::kVarBinary, 4, true},   {"vc", tds::kVarChar, 10, false},
        {"lvc", tds::kLongChar, 300, true},  {"tx", tds::kText, 0, true},
        {"im", tds::kImage, 0, true},        {"n", tds::kNumeric, 6, true},
    };
    ASSERT_EQ(format->columns.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ColumnFormat& c = format->columns[i];
        const ExpectedColumn& e = expected[i];
        EXPECT_EQ(c.name, e.name);
        EXPECT_EQ(int(c.type), int(e.type)) << e.name;
        if (e.maxLength != 0) {
            EXPECT_EQ(c.maxLength, e.maxLength) << e.name;
        }
        EXPECT_EQ((c.status & 0x20) != 0, e.nullable) << e.name << " status " << c.status;
        EXPECT_EQ(c.status & 0x08, 0u) << e.name;
    }
    EXPECT_EQ(format->columns[33].precision, 10);
    EXPECT_EQ(format->columns[33].scale, 2);

    const auto rows = Filter(reply, tds::kRow);
    ASSERT_EQ(rows.size(), 2u);
    const auto& full = rows[0].values;
    const auto& sparse = rows[1].values;
    EXPECT_EQ(full[0].bytes, Le32(1));
    EXPECT_EQ(full[1].bytes, Le32(2));
    EXPECT_EQ(full[2].bytes, std::string("\x03", 1));
    EXPECT_EQ(full[3].bytes, Le16(4));
    EXPECT_EQ(full[4].bytes, Le64(static_cast<std::uint64_t>(-5)));
    EXPECT_EQ(full[5].bytes, Le64(6));
    EXPECT_EQ(full[6].bytes, std::string("\x00\x00\xc0\x3f", 4));                 // 1.5f
    EXPECT_EQ(full[8].bytes, std::string("\x00\x00\x00\x00\x00\x00\x02\x40", 8)); // 2.25
    EXPECT_EQ(full[10].bytes, Le32(0) + Le32(125000)) << "money: high word, then low word";
    EXPECT_EQ(full[12].bytes, Le32(12500));
    EXPECT_EQ(full[14].bytes, Le32(43830) + Le32((13 * 3600 + 4 * 60 + 5) * 300 + 37));
    EXPECT_EQ(full[15].bytes, Le32(43829) + Le32(0));
    EXPECT_EQ(full[16].bytes, Le16(43829) + Le16(0));
    EXPECT_EQ(full[17].bytes, Le32(43829));
    EXPECT_EQ(full[19].bytes, Le32((13 * 3600 + 4 * 60 + 5) * 300));
    EXPECT_EQ(full[20].bytes, Le32(10 * 3600 * 300));
    EXPECT_EQ(full[21].bytes, Le32(4000000000u));
    EXPECT_EQ(full[23].bytes, Le16(65535));
    EXPECT_EQ(full[24].bytes, std::string(8, '\xff'));
    EXPECT_EQ(full[25].bytes, "a    ") << "char NOT NULL is blank-padded";
    EXPECT_EQ(full[26].bytes, "b") << "nullable char drops trailing blanks";
    EXPECT_EQ(full[27].bytes, std::string("\x01\x02\x03\x04", 4));
    EXPECT_EQ(full[28].bytes, std::string("\x02", 1));
    EXPECT_EQ(full[30].bytes, longText);
    EXPECT_EQ(full[31].bytes, "text value");
    EXPECT_EQ(full[31].textPointerLength, 16);
    EXPECT_EQ(full[32].bytes, std::string("\x01\x02", 2));
    EXPECT_EQ(full[32].textPointerLength, 16);
    EXPECT_EQ(full[33].bytes, std::string("\x00\x00\x00\x00\x04\xd2", 6)) << "12.34 as 1234";
    for (std::size_t i : {1, 2, 3, 5, 7, 9, 11, 13, 15, 16, 18, 20, 22, 26, 28, 30, 31, 32, 33})
        EXPECT_FALSE(sparse[i].bytes.has_value()) << expected[i].name << " should be NULL";
    EXPECT_EQ(sparse[31].textPointerLength, 0) << "a NULL text has pointer length 0";
    EXPECT_EQ(sparse[14].bytes, Le32(0) + Le32(0));
    EXPECT_EQ(sparse[25].bytes, "c    ");
}

// As from ASE, a text, unitext or image value set to NULL by an update keeps its text pointer
// and comes with a length of 0; one that never had a value comes without a pointer.
TEST_F(TdsProtocol, LargeValueUpdatedToNullKeepsItsTextPointer) {
    auto client = Connect();
    Run(*client, "create table tn (id int, t text null, u unitext null, i image null)");
    Run(*client, "insert tn values (1, 'x', 'y', 0x01) insert tn values (2, null, null, null)"
                 " insert tn values (3, 'x', 'y', 0x01)");
    Run(*client, "update tn set t = null, u = null, i = null where id < 3");
    const auto rows = Filter(Run(*client, "select t, u, i from tn order by id"), tds::kRow);
    ASSERT_EQ(rows.size(), 3u);
    for (std::size_t c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        const ColumnValue& nulled = rows[0].values.at(c);
        const ColumnValue& never = rows[1].values.at(c);
        const ColumnValue& set = rows[2].values.at(c);
        EXPECT_EQ(nulled.textPointerLength, 16);
        EXPECT_EQ(nulled.textPointer, set.textPointer);
        EXPECT_EQ(nulled.textTimestamp.size(), 8u);
        EXPECT_EQ(nulled.bytes, std::optional<std::string>("")) << "a data length of 0";
        EXPECT_EQ(never.textPointerLength, 0);
        EXPECT_EQ(never.bytes, std::nullopt);
        EXPECT_EQ(set.textPointer.size(), 16u);
        EXPECT_NE(set.textPointer, std::string(16, '\0'));
    }
}

TEST_F(TdsProtocol, UnicodeBitAndBigDateTimeWireFormats) {
    auto client = Connect();
    Run(*client, "create table uw (u univarchar(10), uc unichar(3), bt bit,"
                 " bd bigdatetime, bdn bigdatetime null, btm bigtime)");
    Run(*client, "insert uw values ('\xD0\x96x', 'e', 1, '1900-01-01 00:00:00.000001', null,"
                 " '00:00:01.5')");
    const auto reply = Run(*client, "select u, uc, bt, bd, bdn, btm from uw");
    const Token* format = First(reply, tds::kRowFmt);
    ASSERT_NE(format, nullptr) << Describe(reply);
    ASSERT_EQ(format->columns.size(), 6u);
    const auto& cols = format->columns;
    EXPECT_EQ(int(cols[0].type), int(tds::kLongBinary)) << "univarchar travels as LONGBINARY";
    EXPECT_EQ(cols[0].userType, 35u);
    EXPECT_EQ(cols[0].maxLength, 20u) << "10 characters of UTF-16";
    EXPECT_EQ(int(cols[1].type), int(tds::kLongBinary));
    EXPECT_EQ(cols[1].userType, 34u);
    EXPECT_EQ(int(cols[2].type), int(tds::kBit));
    EXPECT_EQ(int(cols[3].type), int(tds::kBigDateTime));
    EXPECT_EQ(cols[3].maxLength, 8u);
    EXPECT_EQ(cols[3].precision, 6);
    EXPECT_EQ(int(cols[4].type), int(tds::kBigDateTime));
    EXPECT_NE(cols[4].status & 0x20, 0u);
    EXPECT_EQ(int(cols[5].type), int(tds::kBigTime));

    const Token* row = First(reply, tds::kRow);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->values[0].bytes, std::string("\x16\x04x\0", 4)) << "UTF-16LE of 'Жx'";
    EXPECT_EQ(row->values[1].bytes, std::string("e\0 \0 \0", 6))
        << "unichar NOT NULL is padded to its 3 characters";
    EXPECT_EQ(row->values[2].bytes, std::string("\x01", 1));
    // FreeTDS counts bigdatetime in microseconds from 0000-01-01: 693961 days before 1900.
    EXPECT_EQ(row->values[3].bytes, Le64(693961ull * 86400000000ull + 1));
    EXPECT_FALSE(row->values[4].bytes.has_value());
    EXPECT_EQ(row->values[5].bytes, Le64(1500000));
}

TEST_F(TdsProtocol, ExtremeValuesOnTheWire) {
    auto client = Connect();
    Run(*client, "create table ex (n38 numeric(38,0), nneg numeric(38,0), m money,"
                 " sm smallmoney, dmax datetime, dmin datetime, d1 date, ti tinyint, bi bigint)");
    Run(*client, "insert ex values (99999999999999999999999999999999999999,"
                 " -99999999999999999999999999999999999999, -922337203685477.5808,"
                 " -214748.3648, '9999-12-31 23:59:59.997', '1753-01-01', '0001-01-01', 255,"
                 " -9223372036854775808)");
    const auto reply = Run(*client, "select * from ex");
    const Token* format = First(reply, tds::kRowFmt);
    ASSERT_NE(format, nullptr) << Describe(reply);
    EXPECT_EQ(format->columns[0].maxLength, 17u) << "numeric(38) takes 17 bytes with its sign";
    EXPECT_EQ(format->columns[0].precision, 38);
    const Token* row = First(reply, tds::kRow);
    ASSERT_NE(row, nullptr);
    const std::string magnitude("\x4b\x3b\x4c\xa8\x5a\x86\xc4\x7a\x09\x8a\x22\x3f\xff\xff\xff\xff",
                                16);
    EXPECT_EQ(row->values[0].bytes, std::string(1, '\0') + magnitude);
    EXPECT_EQ(row->values[1].bytes, std::string(1, '\1') + magnitude);
    EXPECT_EQ(row->values[2].bytes, Le32(0x80000000u) + Le32(0)) << "money minimum";
    EXPECT_EQ(row->values[3].bytes, Le32(0x80000000u)) << "smallmoney minimum";
    EXPECT_EQ(row->values[4].bytes, Le32(2958463) + Le32(25919999));
    EXPECT_EQ(row->values[5].bytes, Le32(static_cast<std::uint32_t>(-53690)) + Le32(0));
    EXPECT_EQ(row->values[6].bytes, Le32(static_cast<std::uint32_t>(-693595)));
    EXPECT_EQ(row->values[7].bytes, std::string("\xff", 1));
    EXPECT_EQ(row->values[8].bytes, Le64(0x8000000000000000ull));
}

TEST_F(TdsProtocol, SpTablesAsALanguageCommandIsAProcedureToo) {
    auto client = Connect();
    for (const std::string sql : {"sp_tables", "exec sp_tables", "execute sp_tables"}) {
        const auto reply = client->Language(sql);
        const std::string seen = Describe(reply);
        EXPECT_EQ(FirstError(reply), nullptr) << seen;
        ASSERT_GE(reply.size(), 4u) << seen;
        EXPECT_NE(First(reply, tds::kDoneInProc), nullptr) << sql << ": " << seen;
        const auto status = std::find_if(reply.begin(), reply.end(),
                                         [](const Token& t) { return t.id == tds::kReturnStatus; });
        ASSERT_NE(status, reply.end()) << sql << ": " << seen;
        EXPECT_EQ(status->returnStatus, 0);
        ASSERT_NE(status + 1, reply.end());
        EXPECT_EQ((status + 1)->id, tds::kDoneProc) << sql << ": " << seen;
        EXPECT_EQ(reply.back().doneStatus & tds::kDoneMore, 0) << seen;
        EXPECT_FALSE(RowsOf(reply).empty()) << "no system tables listed: " << seen;
    }
}

TEST_F(TdsProtocol, WideTablesAndLongNames) {
    auto client = Connect();
    constexpr int kColumns = 400;
    std::string columns;
    std::string values;
    for (int i = 0; i < kColumns; ++i) {
        columns += std::string(i ? ", " : "") + "c" + std::to_string(i) + " int";
        values += std::string(i ? ", " : "") + std::to_string(i * 7);
    }
    Run(*client, "create table wide (" + columns + ")");
    Run(*client, "insert wide values (" + values + ")");
    auto reply = Run(*client, "select * from wide");
    const Token* format = First(reply, tds::kRowFmt);
    if (format == nullptr)
        format = First(reply, tds::kRowFmt2);
    ASSERT_NE(format, nullptr) << Describe(reply);
    ASSERT_EQ(format->columns.size(), static_cast<std::size_t>(kColumns));
    EXPECT_EQ(format->columns[399].name, "c399");
    const Token* row = First(reply, tds::kRow);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->values[399].bytes, Le32(399 * 7));

    // Names of 255 bytes in a ROWFMT and in a message longer than 255 bytes.
    const std::string longName(255, 'n');
    Run(*client, "create table " + longName + " (" + longName + " int)");
    reply = Run(*client, "select " + longName + " from " + longName);
    format = First(reply, tds::kRowFmt);
    ASSERT_NE(format, nullptr) << Describe(reply);
    EXPECT_EQ(format->columns.at(0).name, longName);
    const std::string missing(250, 'm');
    reply = client->Language("select * from " + missing);
    const Token* error = FirstError(reply);
    ASSERT_NE(error, nullptr) << Describe(reply);
    EXPECT_EQ(error->messageNumber, 208);
    const std::string expected = missing + " not found.";
    EXPECT_EQ(error->messageText.substr(0, expected.size()), expected);
    reply = client->Language("create table " + std::string(256, 'x') + " (a int)");
    EXPECT_NE(FirstError(reply), nullptr) << "a name of 256 bytes is too long";
}

TEST_F(TdsProtocol, ManyClientsAtOnce) {
    constexpr int kClients = 40;
    std::vector<std::shared_ptr<RawTdsClient>> clients;
    for (int i = 0; i < kClients; ++i)
        clients.push_back(Connect());
    for (int i = 0; i < kClients; ++i)
        clients[static_cast<std::size_t>(i)]->SendLanguage("select " + std::to_string(i) + " n");
    std::set<int> spids;
    for (int i = 0; i < kClients; ++i) {
        auto& c = *clients[static_cast<std::size_t>(i)];
        const auto reply = c.ReadResponse();
        ASSERT_EQ(RowsOf(reply).size(), 1u) << Describe(reply);
        EXPECT_EQ(RowsOf(reply)[0].at("n"), Le32(static_cast<std::uint32_t>(i)));
        const auto spid = RowsOf(Run(c, "select @@spid s"));
        spids.insert(GetI32(spid.at(0).at("s")));
    }
    EXPECT_EQ(spids.size(), static_cast<std::size_t>(kClients)) << "each session has its spid";
}

TEST_F(TdsProtocol, LoginProbesOfNewerFreeTdsVersions) {
    auto client = Connect();
    Run(*client, "create database probedb");
    // FreeTDS 1.4.13 and later, one statement per line.
    auto reply = client->Language("SET TEXTSIZE 64512\nSELECT @@spid spid\nUSE [probedb]\n"
                                  "SELECT CONVERT(NVARCHAR(3), 'abc') nvc\n"
                                  "EXECUTE ('SELECT CONVERT(UNIVARCHAR(3), ''xyz'') uvc')\n");
    std::string seen = Describe(reply);
    EXPECT_EQ(FirstError(reply), nullptr) << seen;
    std::map<std::string, ColumnFormat> columns;
    std::map<std::string, std::string> values;
    for (const Token& t : reply)
        for (const ColumnFormat& c : t.columns)
            columns[c.name] = c;
    for (const auto& row : RowsOf(reply))
        for (const auto& [name, value] : row)
            values[name] = value;
    ASSERT_EQ(columns.count("spid"), 1u) << "FreeTDS 1.4 uses the row only when named spid";
    EXPECT_TRUE(columns["spid"].type == tds::kInt4 || columns["spid"].type == tds::kIntN);
    ASSERT_EQ(columns.count("nvc"), 1u) << seen;
    EXPECT_EQ(values["nvc"], "abc");
    EXPECT_EQ(columns["nvc"].maxLength % 3, 0u) << "FreeTDS divides the size by 3";
    ASSERT_EQ(columns.count("uvc"), 1u) << seen;
    EXPECT_EQ(int(columns["uvc"].type), int(tds::kLongBinary));
    EXPECT_EQ(columns["uvc"].userType, 35u);
    EXPECT_EQ(values["uvc"], std::string("x\0y\0z\0", 6));
    const Token* env = First(reply, tds::kEnvChange);
    ASSERT_NE(env, nullptr) << seen;
    EXPECT_EQ(env->newValue, "probedb");

    // FreeTDS 1.4.1 to 1.4.12: one line, no separators.
    reply = client->Language("SELECT @@spid AS spid USE [master] SELECT CAST('abc' AS "
                             "NVARCHAR(3)) AS nvc, CAST('xyz' AS UNIVARCHAR(3)) AS uvc");
    seen = Describe(reply);
    EXPECT_EQ(FirstError(reply), nullptr) << seen;
    const auto rows = RowsOf(reply);
    ASSERT_EQ(rows.size(), 2u) << seen;
    EXPECT_EQ(rows[1].at("nvc"), "abc");
    EXPECT_EQ(rows[1].at("uvc"), std::string("x\0y\0z\0", 6));
}

TEST_F(TdsProtocol, EmptyBatchesGetAFinalDone) {
    auto client = Connect();
    for (const std::string sql : {"   ", "-- only a comment", "/* block */\n", ";"}) {
        const auto reply = client->Language(sql);
        ASSERT_FALSE(reply.empty());
        EXPECT_EQ(reply.back().id, tds::kDone) << "'" << sql << "': " << Describe(reply);
        EXPECT_EQ(reply.back().doneStatus & tds::kDoneMore, 0) << Describe(reply);
        EXPECT_EQ(First(reply, tds::kRow), nullptr);
    }
    EXPECT_EQ(RowsOf(Run(*client, "select 'after' a")).at(0).at("a"), "after");
}

// --- Robustness ---------------------------------------------------------------------------------

TEST_F(TdsProtocol, ClientVanishingMidResultLeavesTheServerServing) {
    {
        auto setup = Connect();
        Run(*setup, "create table gone (v varchar(250))");
        Run(*setup, "insert gone values ('" + std::string(250, 'g') + "')");
        std::string doubling;
        for (int i = 0; i < 15; ++i)
            doubling += "insert gone select v from gone\n";
        Run(*setup, doubling);
    }
    for (int round = 0; round < 3; ++round) {
        RawTdsClient quitter(Port());
        quitter.Login(kSa.user, kSa.password);
        quitter.SendLanguage("select v from gone");
        for (int rows = 0; rows < 10;)
            if (quitter.ReadToken().id == tds::kRow)
                ++rows;
        // Leaves without reading the remaining ~8 MB: the server's writes then fail.
    }
    std::this_thread::sleep_for(200ms);
    auto client = Connect();
    EXPECT_EQ(RowsOf(Run(*client, "select count(*) n from gone")).at(0).at("n"), Le32(1u << 15));
}

TEST_F(TdsProtocol, ClientVanishingInATransactionRollsItBack) {
    auto setup = Connect();
    Run(*setup, "create table vt (a int)");
    {
        RawTdsClient quitter(Port());
        quitter.Login(kSa.user, kSa.password);
        const auto reply = quitter.Language("begin tran insert vt values (1) insert vt values (2)");
        ASSERT_EQ(FirstError(reply), nullptr) << Describe(reply);
    } // gone without commit
    const auto started = std::chrono::steady_clock::now();
    const auto reply = setup->Language("insert vt values (3)");
    EXPECT_EQ(FirstError(reply), nullptr)
        << "the vanished session's locks were kept: " << Describe(reply);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(RowsOf(Run(*setup, "select count(*) n from vt")).at(0).at("n"), Le32(1))
        << "the uncommitted rows of the vanished session stayed";
}

TEST_F(TdsProtocol, MalformedRequestsGetAnErrorOrAClosedSocket) {
    const std::vector<std::pair<std::uint8_t, std::string>> bad = {
        {tds::kPacketNormal, std::string("\x99\x01\x02", 3)},             // unknown token
        {tds::kPacketNormal, std::string("\x21\xff\xff\x00\x00\x00", 6)}, // length past the end
        {tds::kPacketNormal, std::string("\xe6\x05\x00\x20xy", 6)},       // RPC name past the end
        {tds::kPacketNormal, std::string("\xa6\x01\x00", 3)},             // truncated OPTIONCMD
        {0x07, std::string("\x01\x02\x03", 3)},                           // bulk data, never asked
    };
    for (const auto& [type, payload] : bad) {
        auto client = Connect();
        client->SendMessage(type, payload);
        // Either a reply that ends in a DONE carrying the error bit, or a closed socket.
        try {
            const auto reply = client->ReadResponse();
            EXPECT_TRUE(reply.back().IsDone()) << Describe(reply);
            EXPECT_NE(reply.back().doneStatus & tds::kDoneError, 0) << Describe(reply);
        } catch (const ProtocolError& e) {
            EXPECT_NE(std::string(e.what()).find("closed"), std::string::npos) << e.what();
        }
    }
    // A header whose length is below 8, and a truncated login record.
    {
        RawTdsClient raw(Port());
        raw.SendRawBytes(std::string("\x0f\x01\x00\x03\x00\x00\x00\x00", 8));
        EXPECT_TRUE(raw.WaitForClose());
    }
    {
        RawTdsClient raw(Port());
        raw.SendMessage(tds::kPacketLogin, BuildLoginRecord("sa", "x").substr(0, 50));
        try {
            const auto reply = raw.ReadResponse();
            const Token* ack = First(reply, tds::kLoginAck);
            EXPECT_TRUE(ack == nullptr || ack->ackStatus != 5) << Describe(reply);
        } catch (const ProtocolError&) {
            // A closed socket is an answer too.
        }
    }
    auto client = Connect();
    EXPECT_EQ(RowsOf(Run(*client, "select 'alive' a")).at(0).at("a"), "alive");
}

TEST_F(TdsProtocol, StopsCleanlyWithClientsConnected) {
    auto idle = Connect();
    auto busy = Connect();
    Run(*busy, "create table sc (v varchar(200))");
    Run(*busy, "insert sc values ('" + std::string(200, 's') + "')");
    std::string doubling;
    for (int i = 0; i < 15; ++i)
        doubling += "insert sc select v from sc\n";
    Run(*busy, doubling);
    busy->SendLanguage("select v from sc"); // left unread: the server blocks in a write
    std::this_thread::sleep_for(300ms);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(server_.Stop(std::chrono::seconds(10)), 0)
        << "SIGTERM with a client idle and another one not reading";
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_TRUE(idle->WaitForClose(5s));
}

TEST_F(TdsProtocol, EmptyStringTravelsAsOneBlank) {
    auto client = Connect();
    const auto rows = RowsOf(Run(*client, "select '' e"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("e"), " ") << "a zero-length VARCHAR would read as NULL";
}

// --- Remote procedure calls ---------------------------------------------------------------------

TEST_F(TdsProtocol, RpcSpTablesAnswersLikeAProcedure) {
    auto client = Connect();
    Run(*client, "create table rp_one (a int)");
    Run(*client, "create view rp_view as select a from rp_one");
    client->SendMessage(tds::kPacketNormal, RpcCall("sp_tables", false));
    const auto reply = client->ReadResponse();
    const std::string seen = Describe(reply);
    EXPECT_EQ(FirstError(reply), nullptr) << seen;
    ASSERT_GE(reply.size(), 5u) << seen;
    EXPECT_TRUE(reply.front().id == tds::kRowFmt || reply.front().id == tds::kRowFmt2) << seen;
    std::vector<std::string> names;
    for (const ColumnFormat& c : reply.front().columns)
        names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"table_qualifier", "table_owner", "table_name",
                                               "table_type", "remarks"}));
    // ROWFMT, ROW..., DONEINPROC, RETURNSTATUS, DONEPROC [, DONE].
    std::size_t i = 1;
    while (i < reply.size() && reply[i].id == tds::kRow)
        ++i;
    const std::size_t rowCount = i - 1;
    ASSERT_LT(i + 2, reply.size()) << seen;
    EXPECT_EQ(reply[i].id, tds::kDoneInProc) << seen;
    EXPECT_NE(reply[i].doneStatus & tds::kDoneMore, 0) << seen;
    if (reply[i].doneStatus & tds::kDoneCount) {
        EXPECT_EQ(reply[i].doneCount, rowCount);
    }
    EXPECT_EQ(reply[i + 1].id, tds::kReturnStatus) << seen;
    EXPECT_EQ(reply[i + 1].returnStatus, 0);
    EXPECT_EQ(reply[i + 2].id, tds::kDoneProc) << "FreeTDS ignores a return status not "
                                                  "followed by DONEPROC: "
                                               << seen;
    EXPECT_EQ(reply.back().doneStatus & (tds::kDoneMore | tds::kDoneError), 0) << seen;

    std::map<std::string, std::string> types;
    for (const auto& row : RowsOf(reply)) {
        types[row.at("table_name")] = row.at("table_type");
        if (row.at("table_name") == "rp_one") {
            EXPECT_EQ(row.at("table_owner"), "dbo");
            EXPECT_EQ(row.at("table_qualifier"), "master");
        }
    }
    EXPECT_EQ(types["rp_one"], "TABLE") << seen;
    EXPECT_EQ(types["rp_view"], "VIEW") << seen;
    EXPECT_EQ(types["sysobjects"], "SYSTEM TABLE") << seen;

    // With a name pattern as a parameter.
    client->SendMessage(tds::kPacketNormal,
                        RpcCall("sp_tables", true) + VarCharParameter("@table_name", "rp%"));
    const auto filtered = client->ReadResponse();
    EXPECT_EQ(FirstError(filtered), nullptr) << Describe(filtered);
    std::set<std::string> found;
    for (const auto& row : RowsOf(filtered))
        found.insert(row.at("table_name"));
    EXPECT_EQ(found, (std::set<std::string>{"rp_one", "rp_view"})) << Describe(filtered);
}

TEST_F(TdsProtocol, UnknownRpcIsAnErrorNotADisconnect) {
    auto client = Connect();
    client->SendMessage(tds::kPacketNormal, RpcCall("sp_no_such_proc", false));
    const auto reply = client->ReadResponse();
    const Token* error = FirstError(reply);
    ASSERT_NE(error, nullptr) << Describe(reply);
    EXPECT_EQ(error->messageNumber, 2812);
    EXPECT_NE(reply.back().doneStatus & tds::kDoneError, 0) << Describe(reply);
    EXPECT_EQ(RowsOf(Run(*client, "select 3 n")).at(0).at("n"), Le32(3));
}

} // namespace
} // namespace tdsserver
