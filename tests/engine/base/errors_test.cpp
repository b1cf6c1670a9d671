// Error codes, texts, the error state and the fatal path.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "engine.h"

namespace zedra {
namespace {

class ErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineStartup();
    SetFatalSink([this](const std::string& caption, const std::string& text) {
      captions_.push_back(caption);
      texts_.push_back(text);
    });
    SetFatalExit([this](int code) { exit_codes_.push_back(code); });
  }
  void TearDown() override {
    SetFatalSink(nullptr);
    SetFatalExit(nullptr);
    Errors().ErrorHook = nullptr;
    Errors().RaiseOnReport = false;
    EngineShutdown();
  }
  std::vector<std::string> captions_, texts_;
  std::vector<int> exit_codes_;
};

TEST_F(ErrorsTest, TextsOfCodes) {
  EXPECT_EQ(ErrorText(0), "");
  EXPECT_EQ(ErrorText(7), "Error # 7 (Undefined error)");
  EXPECT_EQ(ErrorText(1250), "Error # 1250 (Network Error)");
  EXPECT_EQ(ErrorText(1203), "Error # 1203 (Network Error)");
  EXPECT_EQ(ErrorText(1300), "Error # 1300 (File format not supported)");
  EXPECT_EQ(ErrorText(65535), "Error # 65535 (Undefined error)");
  EXPECT_EQ(ErrorText(210), "Error # 210 (Not a dBASE data file)");
  // Trailing blanks are part of these texts.
  EXPECT_EQ(ErrorCodeText(227), "Insufficient disk space ");
  EXPECT_EQ(ErrorCodeText(228), "Unbalanced Push/Pop operation ");
  EXPECT_EQ(ErrorCodeText(1103), "Invalid Operation ");
  // Shared and repeated texts.
  EXPECT_EQ(ErrorCodeText(14), ErrorCodeText(20));
  EXPECT_EQ(ErrorCodeText(4), ErrorCodeText(18));
  for (uint16_t c = 150; c <= 161; ++c) EXPECT_EQ(ErrorCodeText(c), ErrorCodeText(c - 131)) << c;
  EXPECT_EQ(ErrorCodeText(162), ErrorCodeText(32));
  EXPECT_EQ(ErrorCodeText(350), "Undefined error");
}

TEST_F(ErrorsTest, CollectingAnErrorClearsIt) {
  EXPECT_TRUE(SetAutoReport(false));
  SetError(222, "Bad node [ReadNode(7)]");
  EXPECT_TRUE(texts_.empty());
  EXPECT_EQ(ErrorCode(), 222);
  EXPECT_EQ(GetErrorText(), "Error # 222 (Corrupted index file)\r\nBad node [ReadNode(7)]");
  EXPECT_EQ(GetErrorText(), "");
  // ErrorCode itself stays for callers that test it.
  EXPECT_EQ(ErrorCode(), 222);
  EXPECT_FALSE(SetAutoReport(true));
}

TEST_F(ErrorsTest, TakeErrorMessageEmptiesAndClearsLastError) {
  AutoReportScope quiet(false);
  SetError(5, "msg");
  EXPECT_EQ(TakeErrorMessage(), "msg");
  EXPECT_EQ(Errors().LastError, 0);
  EXPECT_EQ(TakeErrorMessage(), "");
}

TEST_F(ErrorsTest, AutoReportWithCodeZeroShowsNothing) {
  SetError(0, "kept");
  EXPECT_TRUE(texts_.empty());
  EXPECT_TRUE(exit_codes_.empty());
  EXPECT_EQ(Errors().PendingMessage, "kept");
}

TEST_F(ErrorsTest, FatalPathShowsCutTextAndExitsWithCode) {
  std::string message(400, 'x');
  SetError(210, message);
  ASSERT_EQ(texts_.size(), 1u);
  EXPECT_EQ(captions_[0], "Program halted.");
  EXPECT_EQ(texts_[0].size(), 255u);
  EXPECT_EQ(texts_[0].substr(0, 36), "Error # 210 (Not a dBASE data file)\r");
  EXPECT_EQ(exit_codes_, std::vector<int>{210});
  EXPECT_TRUE(Errors().Halted);
  // Once halted, further reports are ignored.
  SetError(2, "again");
  EXPECT_EQ(texts_.size(), 1u);
}

TEST_F(ErrorsTest, HookAndRaiseOnReport) {
  int calls = 0;
  Errors().ErrorHook = [&] { ++calls; };
  SetError(3, "hooked");
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(texts_.empty());
  Errors().ErrorHook = nullptr;

  Errors().RaiseOnReport = true;
  try {
    SetError(33, "Lock failed [RLock(4)]");
    FAIL() << "no exception";
  } catch (const EZedraError& e) {
    EXPECT_STREQ(e.what(), "Error # 33 (File lock violation)\r\nLock failed [RLock(4)]");
  }
  EXPECT_TRUE(texts_.empty());
}

TEST_F(ErrorsTest, RaiseErrorThrowsOnlyWithAutoReportOff) {
  {
    AutoReportScope quiet(false);
    EXPECT_THROW(RaiseError(221, "x [SetOrderTo]"), EZedraError);
  }
  RaiseError(221, "y");  // AutoReport on: the fatal path ran instead
  EXPECT_EQ(exit_codes_, std::vector<int>{221});
  EXPECT_THROW(RaiseEngineError("plain"), EZedraError);
}

TEST_F(ErrorsTest, FreeingNothingReportsCode9) {
  AutoReportScope quiet(false);
  void* block = EngineGetMem(100);
  ASSERT_NE(block, nullptr);
  EngineFreeMem(block, 100);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(ErrorCode(), 0);
  EngineFreeMem(block, 100);
  EXPECT_EQ(ErrorCode(), 9);
  EXPECT_EQ(GetErrorText(),
            "Error # 9 (Memory block address invalid)\r\nAttempt to free NIL pointer [FreeMem()]");
  EXPECT_EQ(LargestFreeBlock(), 2147483647);
}

}  // namespace
}  // namespace zedra
