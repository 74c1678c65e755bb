// A test fixture that runs one ase-testserver per test and checks that it stops cleanly.
#pragma once

#include "ServerProcess.h"

#include <gtest/gtest.h>

namespace tdsserver {

inline const Login kSa{"sa", "sa-secret"};
// A second login whose password has a blank and quotes in it.
inline const Login kAlice{"alice", "wonder land'\"x"};

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        try {
            server_.Start({kSa, kAlice});
        } catch (const std::exception& e) {
            FAIL() << "cannot start " << ASE_TESTSERVER_PATH << ": " << e.what();
        }
    }

    // The server must end with status 0 on SIGTERM and print nothing after its listening line.
    void TearDown() override {
        if (!server_.Running())
            return;
        const int status = server_.Stop();
        EXPECT_EQ(status, 0) << "exit status after SIGTERM (negative: killed by that signal, "
                                "-1000: still running after 20 s)";
        EXPECT_EQ(server_.LaterOutput(), "") << "the server printed more than its listening line";
    }

    int Port() const { return server_.Port(); }

    ServerProcess server_;
};

} // namespace tdsserver
