// The data-access interface promises one behaviour whichever server a connection talks to:
// every test here runs the same body against MySQL and Sybase ASE.

#include "ConnectionChecks.h"
#include "TestServers.h"
#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"
#include "connect/access/SqlText.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace veltrane::testing {
namespace {

enum class Server { MySQL, Sybase };

std::string Name(const ::testing::TestParamInfo<Server>& info) {
    return info.param == Server::MySQL ? "MySQL" : "SybaseASE";
}

// A table of three rows (id 1 to 3) on the server under test, and connections to it.
class BackendContract : public ::testing::TestWithParam<Server> {
protected:
    void SetUp() override {
        std::string whyNot;
        const bool mysql = GetParam() == Server::MySQL;
        const bool configured =
            mysql ? MySQLServer(server_, whyNot) : SybaseServer(server_, whyNot);
        if (!configured) {
            if (mysql ? SkipIntegration() : SkipSybase())
                GTEST_SKIP() << whyNot;
            FAIL() << whyNot;
        }
        table_ = Quote("vt_contract_" + std::to_string(getpid()));
        auto setup = Open(CursorLocation::Client);
        DropTable();
        setup->Execute("CREATE TABLE " + table_ +
                       " (id INT NOT NULL, name VARCHAR(10) NULL, amount NUMERIC(10,2) NULL)");
        setup->Execute("INSERT INTO " + table_ + " (id, name, amount) VALUES (1, 'one', 1.50)");
        setup->Execute("INSERT INTO " + table_ + " (id, name, amount) VALUES (2, 'two', NULL)");
        setup->Execute("INSERT INTO " + table_ + " (id, name, amount) VALUES (3, NULL, -3.25)");
    }

    void TearDown() override {
        if (!table_.empty())
            DropTable();
    }

    std::string Quote(const std::string& name) const {
        return GetParam() == Server::MySQL ? QuoteMySQLIdentifier(name)
                                           : QuoteSybaseIdentifier(name);
    }

    std::unique_ptr<Connection> Open(CursorLocation cursor) const {
        auto connection = std::make_unique<Connection>();
        connection->SetCursorLocation(cursor);
        connection->Open(GetParam() == Server::MySQL ? MySQLConnectionStringFor(server_)
                                                     : SybaseConnectionStringFor(server_));
        return connection;
    }

    std::string SelectAll() const {
        return "SELECT id, name, amount FROM " + table_ + " ORDER BY id";
    }

    void DropTable() const {
        try {
            Open(CursorLocation::Client)->Execute("DROP TABLE " + table_);
        } catch (const DatabaseError&) {
            // not there
        }
    }

    ServerCoordinates server_;
    std::string table_;
};

// The text of the failure `action` throws; fails the test when it throws none.
template <typename Action> std::string FailureText(Action action) {
    try {
        action();
    } catch (const DatabaseError& e) {
        return e.what();
    }
    ADD_FAILURE() << "no failure";
    return {};
}

const std::string kClosed = ObjectClosedError().what();
const std::string kNoCurrentRecord = NoCurrentRecordError().what();

TEST_P(BackendContract, RowsCountAndEndAlikeWithEitherCursor) {
    struct Case {
        CursorLocation cursor;
        std::int64_t recordCount;
    };
    for (const Case& c : {Case{CursorLocation::Client, 3}, Case{CursorLocation::Server, -1}}) {
        auto connection = Open(c.cursor);
        auto rows = connection->Execute(SelectAll());
        ASSERT_NE(rows, nullptr);
        EXPECT_EQ(rows->RecordCount(), c.recordCount);
        int id = 0;
        for (; !rows->IsEOF(); rows->MoveNext()) {
            EXPECT_EQ(rows->Value("ID").ToText(), std::to_string(++id));
        }
        EXPECT_EQ(id, 3);
        EXPECT_EQ(FailureText([&] { rows->Value(0); }), kNoCurrentRecord);
        EXPECT_EQ(FailureText([&] { rows->MoveNext(); }), kNoCurrentRecord);

        auto empty = connection->Execute("SELECT id FROM " + table_ + " WHERE id > 5");
        ASSERT_NE(empty, nullptr);
        EXPECT_TRUE(empty->IsEOF());
        EXPECT_EQ(empty->RecordCount(), c.cursor == CursorLocation::Client ? 0 : -1);
        EXPECT_EQ(connection->Execute("UPDATE " + table_ + " SET id = id WHERE id = 1"), nullptr);
    }
}

TEST_P(BackendContract, FieldsDescribeTheirColumnsAlike) {
    auto rows = Open(CursorLocation::Client)->Execute(SelectAll());
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(rows->FieldCount(), 3);
    struct Expected {
        const char* name;
        AdoType type;
        int precision;
        int scale;
        std::int64_t definedSize; // -1: not compared
    };
    const Expected expected[] = {{"id", AdoType::Integer, 10, 0, 4},
                                 {"name", AdoType::VarChar, 0, 0, 10},
                                 {"amount", AdoType::Numeric, 10, 2, -1}};
    for (int i = 0; i < 3; ++i) {
        const FieldInfo& field = rows->Field(i);
        const Expected& e = expected[i];
        EXPECT_EQ(field.name, e.name);
        EXPECT_EQ(field.type, e.type) << e.name;
        EXPECT_EQ(field.precision, e.precision) << e.name;
        EXPECT_EQ(field.scale, e.scale) << e.name;
        if (e.definedSize >= 0) {
            EXPECT_EQ(field.definedSize, e.definedSize) << e.name;
        }
    }
    EXPECT_EQ(rows->Value("Amount"), DbValue::Decimal("1.50"));
    const std::string unknown = UnknownFieldError("3").what();
    EXPECT_EQ(FailureText([&] { rows->Field(3); }), unknown);
    EXPECT_EQ(FailureText([&] { rows->Value(-1); }), UnknownFieldError("-1").what());
    EXPECT_EQ(FailureText([&] { rows->Value("nope"); }), UnknownFieldError("nope").what());
}

TEST_P(BackendContract, ClosingAResultOrItsConnectionEndsItAlike) {
    for (auto cursor : {CursorLocation::Client, CursorLocation::Server}) {
        auto connection = Open(cursor);
        auto rows = connection->Execute(SelectAll());
        ASSERT_NE(rows, nullptr);
        rows->Close();
        EXPECT_TRUE(rows->IsEOF());
        EXPECT_EQ(FailureText([&] { rows->Value(0); }), kClosed);
        EXPECT_EQ(FailureText([&] { rows->MoveNext(); }), kClosed);
        EXPECT_NO_THROW(rows->Close());

        // After the connection closes, a client-side result keeps its rows; a server-side one
        // is closed with it.
        auto open = connection->Execute(SelectAll());
        ASSERT_NE(open, nullptr);
        connection->Close();
        if (cursor == CursorLocation::Client) {
            int id = 0;
            for (; !open->IsEOF(); open->MoveNext())
                EXPECT_EQ(open->Value(0).ToText(), std::to_string(++id));
            EXPECT_EQ(id, 3);
        } else {
            EXPECT_TRUE(open->IsEOF());
            EXPECT_EQ(FailureText([&] { open->Value(0); }), kClosed);
        }
        EXPECT_EQ(FailureText([&] { connection->Execute("SELECT 1"); }), kClosed);
    }
}

TEST_P(BackendContract, OtherStatementsLeaveAStreamedResultWhole) {
    auto connection = Open(CursorLocation::Server);
    auto rows = connection->Execute(SelectAll());
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->Value(0).ToText(), "1");
    struct Case {
        std::string statement;
        bool refused;
    };
    const Case cases[] = {{std::string("SELECT 1\0", 9) + "2", true},
                          {"SELEC 1", true},
                          {"SELECT COUNT(*) FROM " + table_, false},
                          {"UPDATE " + table_ + " SET name = 'x' WHERE id = 3", false}};
    for (const Case& c : cases) {
        try {
            connection->Execute(c.statement);
            EXPECT_FALSE(c.refused) << c.statement;
        } catch (const DatabaseError& e) {
            EXPECT_TRUE(c.refused) << c.statement << ": " << e.what();
            EXPECT_EQ(e.Statement(), c.statement);
            EXPECT_FALSE(e.ConnectionLost()) << e.what();
        }
    }
    // The rows as they were when the result was opened, in order.
    EXPECT_EQ(rows->Value(0).ToText(), "1");
    rows->MoveNext();
    EXPECT_EQ(rows->Value("name").ToText(), "two");
    rows->MoveNext();
    EXPECT_TRUE(rows->Value("name").IsNull());
    rows->MoveNext();
    EXPECT_TRUE(rows->IsEOF());
}

// Each backend says why a statement failed in the same words, whatever its server's numbers;
// the layers above test these reasons only.
TEST_P(BackendContract, FailuresCarryTheirReason) {
    auto connection = Open(CursorLocation::Server);
    const std::string missing = Quote("vt_contract_missing_" + std::to_string(getpid()));
    struct Case {
        std::string statement;
        FailureReason reason;
    };
    const Case cases[] = {
        {"DROP TABLE " + missing, FailureReason::NoSuchTable},
        {"CREATE TABLE " + table_ + " (id INT)", FailureReason::TableExists},
        {"SELECT no_such_column FROM " + table_, FailureReason::Refused},
    };
    for (const Case& c : cases) {
        try {
            connection->Execute(c.statement);
            ADD_FAILURE() << "accepted: " << c.statement;
        } catch (const DatabaseError& e) {
            EXPECT_EQ(e.Reason(), c.reason) << c.statement << ": " << e.what();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothServers, BackendContract,
                         ::testing::Values(Server::MySQL, Server::Sybase), Name);

} // namespace
} // namespace veltrane::testing
