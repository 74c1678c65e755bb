#include "EngineTestSupport.h"

#include <atomic>
#include <unistd.h>

namespace asetest::testing {

namespace {
std::atomic<int> counter{0};
}

std::string Describe(const std::vector<StatementOutcome>& outcomes) {
    std::string s;
    for (const StatementOutcome& o : outcomes) {
        for (const Message& m : o.messages) {
            s += "[" + std::to_string(m.number) + "] " + m.text + "\n";
        }
    }
    return s;
}

void EngineTest::SetUp() {
    dir_ = std::filesystem::temp_directory_path() /
           ("asetest-engine-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(dir_);
    Reopen();
}

void EngineTest::TearDown() {
    session_.reset();
    engine_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void EngineTest::Reopen() {
    session_.reset();
    engine_.reset();
    EngineOptions options;
    options.dataDirectory = dir_;
    options.serverName = "TESTSRV";
    engine_ = Engine::Open(options);
    session_ = engine_->OpenSession(17, "sa");
}

std::unique_ptr<EngineSession> EngineTest::NewSession(int spid, std::string login) {
    return engine_->OpenSession(spid, std::move(login));
}

std::vector<StatementOutcome> EngineTest::Run(std::string_view sql) {
    return Run(*session_, sql);
}

std::vector<StatementOutcome> EngineTest::Run(EngineSession& s, std::string_view sql) {
    return s.ExecuteBatch(sql, cancelled_);
}

void EngineTest::Ok(std::string_view sql) {
    Ok(*session_, sql);
}

void EngineTest::Ok(EngineSession& s, std::string_view sql) {
    const auto out = Run(s, sql);
    for (const StatementOutcome& o : out) {
        EXPECT_FALSE(o.failed) << sql << "\n" << Describe(out);
    }
}

StatementOutcome EngineTest::Query(std::string_view sql) {
    auto out = Run(sql);
    for (const StatementOutcome& o : out) {
        EXPECT_FALSE(o.failed) << sql << "\n" << Describe(out);
    }
    if (out.empty()) {
        ADD_FAILURE() << "no outcome for " << sql;
        return {};
    }
    EXPECT_TRUE(out.back().hasResultSet) << sql;
    return out.back();
}

Message EngineTest::Error(std::string_view sql) {
    const auto out = Run(sql);
    std::vector<Message> errors;
    for (const StatementOutcome& o : out) {
        if (o.failed) {
            for (const Message& m : o.messages) {
                if (m.severity > 10) {
                    errors.push_back(m);
                }
            }
        }
    }
    if (errors.size() != 1) {
        ADD_FAILURE() << "expected one error from " << sql << ", got:\n" << Describe(out);
        return {};
    }
    return errors[0];
}

Value EngineTest::Scalar(std::string_view sql) {
    const StatementOutcome o = Query(sql);
    if (o.rows.empty() || o.rows[0].empty()) {
        ADD_FAILURE() << "no value from " << sql;
        return {};
    }
    return o.rows[0][0];
}

ResultColumn EngineTest::ScalarColumn(std::string_view sql) {
    const StatementOutcome o = Query(sql);
    if (o.columns.empty()) {
        ADD_FAILURE() << "no column from " << sql;
        return {};
    }
    return o.columns[0];
}

} // namespace asetest::testing
