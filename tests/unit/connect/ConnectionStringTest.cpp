#include "connect/ConnectionString.h"

#include "connect/ConnectionProfile.h"
#include "connect/access/DatabaseError.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

ConnectionProfile Profile(const char* server, const char* port, const char* user,
                          const char* password, const char* database) {
    return {QString::fromUtf8(server), QString::fromUtf8(port), QString::fromUtf8(user),
            QString::fromUtf8(password), QString::fromUtf8(database)};
}

TEST(ConnectionStrings, SybaseStringHasEveryPieceInOrder) {
    EXPECT_EQ(
        SybaseConnectionString(Profile("ase.example", "5000", "sa", "secret", "sales")),
        QStringLiteral("Provider=ASEOLEDB;Data Source=ase.example:5000;User Id=sa;Password=secret;;"
                       "Catalog=sales"));
}

TEST(ConnectionStrings, MySQLStringEndsEveryPairWithSemicolon) {
    EXPECT_EQ(MySQLConnectionString(Profile("localhost", "3306", "root", "pw", "shop")),
              QStringLiteral("DRIVER={MySQL ODBC 5.1 Driver};SERVER=localhost;USER=root;"
                             "DATABASE=shop;PASSWORD=pw;PORT=3306;"));
}

TEST(ConnectionStrings, EmptyFieldsLeaveOnlyTheLiteralPieces) {
    EXPECT_EQ(SybaseConnectionString({}),
              QStringLiteral("Provider=ASEOLEDB;Data Source=:;User Id=;Password=;;Catalog="));
    EXPECT_EQ(
        MySQLConnectionString({}),
        QStringLiteral("DRIVER={MySQL ODBC 5.1 Driver};SERVER=;USER=;DATABASE=;PASSWORD=;PORT=;"));
}

TEST(ConnectionStrings, PlainValuesAreInsertedUnchangedAndSplittingOnesBraced) {
    EXPECT_EQ(SybaseConnectionString(Profile("h", "1", "u=v", "p;w", " db }")),
              QStringLiteral("Provider=ASEOLEDB;Data Source=h:1;User Id=u=v;Password={p;w};;"
                             "Catalog= db }"));
    EXPECT_EQ(MySQLConnectionString(Profile("h", "", "ü", "{a}", "d;e}")),
              QString::fromUtf8("DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;USER=ü;DATABASE={d;e}}};"
                                "PASSWORD={{a}}};PORT=;"));
}

// Whatever the user types arrives at the server exactly so, through either string.
TEST(ConnectionStringParsing, HostileValuesRoundTripThroughBothStrings) {
    const char* const values[] = {
        "{abc}", "a;b=c",  "x;Catalog=other", "x;DATABASE=other", "}",   "{",     "{{}}",
        ";",     "a}b;c",  " {lead",          "tail} ",           "=;=", "ü;ß{}", "p w",
        "a;;b",  "PORT=1;"};
    for (const char* value : values) {
        const ConnectionProfile profile = Profile("db.local", "3307", value, value, value);
        for (bool mysql : {true, false}) {
            const std::string text =
                (mysql ? MySQLConnectionString(profile) : SybaseConnectionString(profile))
                    .toStdString();
            try {
                const ConnectionTarget target = ParseConnectionString(text);
                EXPECT_EQ(target.user, value) << text;
                EXPECT_EQ(target.password, value) << text;
                EXPECT_EQ(target.database, value) << text;
                EXPECT_EQ(target.host, "db.local") << text;
                EXPECT_EQ(target.port, 3307) << text;
            } catch (const DatabaseError& e) {
                ADD_FAILURE() << text << " -> " << e.what();
            }
        }
        // A server name holding ';' travels braced too (with the port on Sybase ASE).
        const ConnectionProfile oddServer = Profile(value, "5000", "u", "p", "d");
        EXPECT_EQ(ParseConnectionString(MySQLConnectionString(oddServer).toStdString()).host,
                  value);
        EXPECT_EQ(ParseConnectionString(SybaseConnectionString(oddServer).toStdString()).host,
                  value);
    }
}

TEST(ConnectionStringParsing, ReadsBothBuiltStringsBack) {
    auto mysql = ParseConnectionString(
        MySQLConnectionString(Profile("db.local", "3307", "me", "pa=ss", "shop")).toStdString());
    EXPECT_EQ(mysql.kind, ServerKind::MySQL);
    EXPECT_EQ(mysql.host, "db.local");
    EXPECT_EQ(mysql.port, 3307);
    EXPECT_EQ(mysql.user, "me");
    EXPECT_EQ(mysql.password, "pa=ss");
    EXPECT_EQ(mysql.database, "shop");

    auto ase = ParseConnectionString(
        SybaseConnectionString(Profile("10.0.0.5", "5000", "sa", "", "pubs2")).toStdString());
    EXPECT_EQ(ase.kind, ServerKind::SybaseASE);
    EXPECT_EQ(ase.host, "10.0.0.5");
    EXPECT_EQ(ase.port, 5000);
    EXPECT_EQ(ase.user, "sa");
    EXPECT_EQ(ase.password, "");
    EXPECT_EQ(ase.database, "pubs2");
}

// The MySQL ODBC driver connects to 3306 when the port is left empty; a Sybase ASE data source
// without a port stays an error (MalformedStringsAreClearErrors).
TEST(ConnectionStringParsing, AnEmptyMySQLPortIs3306) {
    for (const char* text : {"DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;PORT=;",
                             "DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;"})
        EXPECT_EQ(ParseConnectionString(text).port, 3306) << text;
    EXPECT_EQ(
        ParseConnectionString(MySQLConnectionString(Profile("h", "", "u", "p", "d")).toStdString())
            .port,
        3306);
}

TEST(ConnectionStringParsing, KeysIgnoreCaseAndBracesProtectValues) {
    auto target = ParseConnectionString(
        "driver={mysql odbc 5.1 driver}; server = h ;Port=1;password={a;b}}c};user=u;");
    EXPECT_EQ(target.kind, ServerKind::MySQL);
    EXPECT_EQ(target.host, " h "); // values stay as written
    EXPECT_EQ(target.port, 1);
    EXPECT_EQ(target.password, "a;b}c");
    EXPECT_EQ(target.user, "u");
}

TEST(ConnectionStringParsing, PairsKeepOrderAndSkipEmptyParts) {
    auto pairs = ParseConnectionStringPairs(";;a=1;;b=;c={}");
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0], (std::pair<std::string, std::string>{"a", "1"}));
    EXPECT_EQ(pairs[1], (std::pair<std::string, std::string>{"b", ""}));
    EXPECT_EQ(pairs[2], (std::pair<std::string, std::string>{"c", ""}));
}

// Every malformed string is a DatabaseError whose text says what is wrong, and never a crash
// or a silent default.
TEST(ConnectionStringParsing, MalformedStringsAreClearErrors) {
    struct Case {
        const char* text;
        const char* expectedWords;
    };
    const Case cases[] = {
        {"DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;PORT=abc;", "port 'abc'"},
        {"DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;PORT=70000;", "1 to 65535"},
        {"DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;PORT=-1;", "1 to 65535"},
        {"DRIVER={MySQL ODBC 5.1 Driver};SERVER=;PORT=3306;", "no server"},
        {"DRIVER={MySQL ODBC 5.1 Driver};PORT=3306;", "no server"},
        {"DRIVER={MySQL ODBC 5.1 Driver};SERVER=a;SERVER=b;PORT=1;", "more than once"},
        {"driver={MySQL ODBC 5.1 Driver};Driver={MySQL ODBC 5.1 Driver};", "more than once"},
        {"DRIVER={PostgreSQL Unicode};SERVER=h;PORT=1;", "PostgreSQL Unicode"},
        {"DRIVER={MySQL ODBC 5.1 Driver;SERVER=h;PORT=1;", "never closed"},
        {"DRIVER={MySQL ODBC 5.1 Driver}x;SERVER=h;", "after the closing brace"},
        {"Provider=SQLOLEDB;Data Source=h:1;", "SQLOLEDB"},
        {"Provider=ASEOLEDB;Data Source=h;User Id=u;", "server:port"},
        {"Provider=ASEOLEDB;Data Source=:5000;", "no server"},
        {"Provider=ASEOLEDB;Data Source=h:;", "no port"},
        {"Provider=ASEOLEDB;Data Source=h:50x0;", "port '50x0'"},
        {"SERVER=h;PORT=1;", "neither a DRIVER nor a Provider"},
        {"", "neither a DRIVER nor a Provider"},
        {"DRIVER={MySQL ODBC 5.1 Driver};Provider=ASEOLEDB;", "both"},
        {"=x;", "no key"},
        {"DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;PORT=1;PASSWORD=a;b=c;", "pair 5 has a key"},
        {"DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;PORT=1;Catalog=x;", "does not know"},
        {"Provider=ASEOLEDB;Data Source=h:1;DATABASE=x;", "Sybase ASE connection string"},
    };
    for (const auto& c : cases) {
        try {
            ParseConnectionString(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const DatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find(c.expectedWords), std::string::npos)
                << c.text << " -> " << e.what();
        }
    }
}

TEST(ConnectionStringParsing, UnbracedSplitPasswordIsRejectedWithoutEchoingIt) {
    const std::string texts[] = {
        "Provider=ASEOLEDB;Data Source=h:5000;User Id=sa;Password=top;secret;;Catalog=db",
        "DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;PASSWORD=top;secret=1;PORT=1;"};
    for (const std::string& text : texts) {
        try {
            ParseConnectionString(text);
            ADD_FAILURE() << "a split password was accepted: " << text;
        } catch (const DatabaseError& e) {
            EXPECT_EQ(std::string(e.what()).find("secret"), std::string::npos) << e.what();
        }
    }
}

} // namespace
} // namespace veltrane
