// A test against the sandbox's database with the program's window services stood in for, the
// connection window's fields naming the administrator in the test's own database.
#pragma once

#include "support/mysql_sandbox.h"
#include "support/scripted_dialogs.h"

namespace qmtest {

class MySqlUiTest : public MySqlDatabaseTest {
 protected:
  testing_support::UiTestEnvironment env;

  void SetUp() override {
    MySqlDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    env.app().connectionFields = [this] { return adminFields(); };
  }
};

}  // namespace qmtest
