#pragma once

#include "app/shell/Yield.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

namespace veltrane::test {

// One QApplication per test executable, on the offscreen platform unless told otherwise, so the
// tests run without a display and outside scripts/test.
class GuiTestApplication : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
        // As in the program: the windows keep their event loop running while servers answer.
        YieldWhileServersWait();
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "gui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

} // namespace veltrane::test
