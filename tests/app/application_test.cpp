// Start-up pieces of the calendar program: the forms in their order with their titles,
// and the engine's fatal path and lock-wait pump as the program installs them.
#include "application.h"

#include <gtest/gtest.h>

#include <QTimer>

#include "about_box.h"
#include "app/app_test_support.h"
#include "app/qt_test_environment.h"
#include "base/errors.h"
#include "main_form.h"
#include "options_dialog.h"
#include "table/hooks.h"

namespace dayvane {
namespace {

using testing::ScriptedPrompts;
using testing::WorkingDirectory;

TEST(ApplicationTest, CreatesTheFormsHiddenWithTheApplicationsTitleAndHelpFile) {
  WorkingDirectory wd;
  Forms forms = CreateForms();
  ASSERT_NE(forms.Form1, nullptr);
  EXPECT_EQ(forms.AboutBox->parent(), forms.Form1);
  EXPECT_EQ(forms.OptionsF->parent(), forms.Form1);
  EXPECT_FALSE(forms.Form1->isVisible());
  EXPECT_FALSE(forms.AboutBox->isVisible());
  EXPECT_FALSE(forms.OptionsF->isVisible());
  EXPECT_EQ(Application().Title, QStringLiteral("Orvelle v1.0"));
  EXPECT_EQ(Application().HelpFile, QStringLiteral("./orvelle.hlp"));
  delete forms.Form1;
}

TEST(ApplicationTest, EngineFailuresHaltWithAMessageBoxAndTheErrorCode) {
  ScriptedPrompts prompts;
  prompts.answers = {QMessageBox::Ok};
  InstallEngineHooks();
  int exit_code = -1;
  zedra::SetFatalExit([&exit_code](int code) { exit_code = code; });
  zedra::ResetErrorState();

  zedra::SetError(222, "Index damaged [Test]");
  ASSERT_EQ(prompts.asked.size(), 1u);
  EXPECT_EQ(prompts.asked[0].caption, QStringLiteral("Program halted."));
  EXPECT_EQ(prompts.asked[0].icon, QMessageBox::Critical);
  EXPECT_TRUE(prompts.asked[0].text.startsWith(QStringLiteral("Error # 222")));
  EXPECT_TRUE(prompts.asked[0].text.contains(QStringLiteral("Index damaged [Test]")));
  EXPECT_EQ(exit_code, 222);

  RemoveEngineHooks();
  zedra::SetFatalExit(nullptr);
  zedra::ResetErrorState();
}

TEST(ApplicationTest, LockWaitsKeepTheWindowSystemServed) {
  InstallEngineHooks();
  bool served = false;
  QTimer::singleShot(0, [&served] { served = true; });
  EXPECT_TRUE(zedra::CurrentWaitPump()(5));
  EXPECT_TRUE(served);
  RemoveEngineHooks();
}

}  // namespace
}  // namespace dayvane
