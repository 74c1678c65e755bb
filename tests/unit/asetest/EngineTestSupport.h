// A fresh engine in a temporary data directory per test, and helpers to run SQL on it.
#pragma once

#include "Engine.h"

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace asetest::testing {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void Reopen(); // closes and opens the engine on the same directory
    // A session of `login`; "sa" owns every database and works in each as dbo.
    std::unique_ptr<EngineSession> NewSession(int spid, std::string login = "sa");

    std::vector<StatementOutcome> Run(std::string_view sql);
    std::vector<StatementOutcome> Run(EngineSession& s, std::string_view sql);
    // Runs a batch that must succeed in every statement.
    void Ok(std::string_view sql);
    void Ok(EngineSession& s, std::string_view sql);
    // The last outcome of a batch that must succeed; its result set.
    StatementOutcome Query(std::string_view sql);
    // The message of the only failing statement of a batch.
    Message Error(std::string_view sql);
    // First column of the first row of a query, as data.
    Value Scalar(std::string_view sql);
    ResultColumn ScalarColumn(std::string_view sql);

    std::filesystem::path dir_;
    std::unique_ptr<Engine> engine_;
    std::unique_ptr<EngineSession> session_;
    std::atomic<bool> cancelled_{false};
};

std::string Describe(const std::vector<StatementOutcome>& outcomes);

} // namespace asetest::testing
