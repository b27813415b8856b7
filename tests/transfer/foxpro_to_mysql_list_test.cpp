// The chosen FoxPro tables walked into a script: the overwrite question in its cases, a table
// that cannot be read, and the MySQL list refilled from the server.
#include <gtest/gtest.h>

#include <QListWidget>
#include <algorithm>

#include "foxpro_to_mysql_support.h"
#include "platform/table_listing.h"
#include "support/mysql_sandbox.h"
#include "support/scripted_dialogs.h"

using namespace tomysql_test;
using testing_support::UiTestEnvironment;

namespace {

class FoxproToMySqlList : public qmtest::MySqlDatabaseTest {
 protected:
  UiTestEnvironment env;
  TempFolder dir;
  QListWidget List1, List2;

  void SetUp() override {
    qmtest::MySqlDatabaseTest::SetUp();
    List2.setSelectionMode(QAbstractItemView::ExtendedSelection);
    Fox(dir.path,
        {"CREATE TABLE alpha (a I)", "INSERT INTO alpha VALUES (1)", "CREATE TABLE beta (b C(3))",
         "INSERT INTO beta VALUES ('x')", "CREATE TABLE gamma (c L)", "CREATE TABLE delta (d D)"});
    List2.addItems({"alpha", "beta", "delta", "gamma"});
  }
  std::vector<std::string> asked;   // overwrite questions, in order
  std::vector<bool> answers;        // their answers, in order
  std::vector<std::string> failed;  // tables reported as unreadable
  std::vector<int> progress;
  int Build(CollectedScript& script) {
    transfer::SendToMySqlHooks hooks;
    hooks.confirmOverwrite = [this](const std::string& t) {
      asked.push_back(t);
      return answers.at(asked.size() - 1);
    };
    hooks.tableFailed = [this](const std::string& t, const std::string& error) {
      EXPECT_NE(error.find(t), std::string::npos) << error;
      failed.push_back(t);
    };
    hooks.progress = [this](int p) { progress.push_back(p); };
    return transfer::BuildSendToMySql(platform::ChosenTables(List2), platform::ListedTables(List1),
                                      FolderConnection(dir.path), script, hooks);
  }
};

TEST_F(FoxproToMySqlList, ExistingNamesAreOverwrittenOnlyAfterYes) {
  admin("CREATE TABLE ALPHA (old INT)");
  admin("CREATE TABLE beta (old INT)");
  admin("INSERT INTO beta VALUES (5)");
  admin("CREATE TABLE gamma (old INT)");
  MySQL::AddTablesToMySQLListbox(List1, connectionString());
  for (int i : {0, 1, 3}) List2.item(i)->setSelected(true);
  // Asked bottom-up, the name as the FoxPro list has it: gamma, beta, alpha.
  answers = {true, false, true};
  CollectedScript script;
  EXPECT_EQ(Build(script), 2);
  EXPECT_EQ(asked, (std::vector<std::string>{"gamma", "beta", "alpha"}));
  // Each replacing table is built apart and swapped in; alpha replaces the table MySQL holds
  // as ALPHA (this server keeps table names by case), under that name.
  ASSERT_EQ(script.lines.size(), 8u);
  EXPECT_EQ(script.lines[0].rfind("CREATE TABLE `gamma_qmnew`(", 0), 0u) << script.lines[0];
  EXPECT_EQ(script.lines[2], "RENAME TABLE `gamma` TO `gamma_qmold`, `gamma_qmnew` TO `gamma`");
  EXPECT_EQ(script.lines[3], "DROP TABLE IF EXISTS `gamma_qmold`");
  EXPECT_EQ(script.lines[6], "RENAME TABLE `ALPHA` TO `ALPHA_qmold`, `ALPHA_qmnew` TO `ALPHA`");
  auto run = Execute(script.lines, script.jobs, connectionString());
  MySQL::AddTablesToMySQLListbox(List1, connectionString());
  ASSERT_EQ(List1.count(), 3);
  EXPECT_EQ(List1.item(0)->text(), "ALPHA");
  EXPECT_EQ(run.jobsRun, (std::vector<std::string>{"gamma", "alpha"}));
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM ALPHA"),
            (std::vector<std::vector<std::string>>{{"1"}}));
  std::vector<std::string> columns;
  MySqlRows(connectionString(), "SELECT * FROM gamma", &columns);
  EXPECT_EQ(columns, std::vector<std::string>{"c"});
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM beta"),
            (std::vector<std::vector<std::string>>{{"5"}}));
}

TEST_F(FoxproToMySqlList, UnreadableTableIsReportedAndTheOthersGo) {
  List2.addItem("missing");
  List2.item(0)->setSelected(true);
  List2.item(4)->setSelected(true);
  CollectedScript script;
  EXPECT_EQ(Build(script), 1);
  EXPECT_EQ(failed, std::vector<std::string>{"missing"});
  EXPECT_TRUE(env.dialogs().shown.empty());
  EXPECT_EQ(progress, (std::vector<int>{50, 100}));
  EXPECT_EQ(script.jobs.size(), 1u);
}

TEST_F(FoxproToMySqlList, ALargeTableCallsBackWhileItsRecordsAreRead) {
  // The report reads every record before the preview opens; for a million records that is
  // longer than a window may go unanswered, so it calls back meanwhile.
  std::vector<std::string> statements = {"CREATE TABLE big (n N(8,0))"};
  for (int r = 0; r < 40000; ++r)
    statements.push_back("INSERT INTO big VALUES (" + std::to_string(r) + ")");
  Fox(dir.path, statements);
  List2.addItem("big");
  List2.findItems("big", Qt::MatchExactly).front()->setSelected(true);
  CollectedScript script;
  EXPECT_EQ(Build(script), 1);
  EXPECT_GE(progress.size(), 4u);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), 100);
}

}  // namespace
