// Test support for the calendar's widgets: one QApplication for the whole test program,
// on the offscreen platform unless the caller chose another.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace dayvane::testing {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[8] = "dayvane";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

// Registers the environment once per test program: include this header from one source file.
inline ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace dayvane::testing
