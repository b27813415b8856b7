// The FoxPro list walked into a script: the overwrite question in its cases, a table that cannot
// be read, and the MySQL list refilled from the server.
#include <gtest/gtest.h>

#include <QListWidget>

#include "foxpro_to_mysql_support.h"
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
  int Build(CollectedScript& script) {
    return transfer::BuildSendToMySql(List2, List1, FolderConnection(dir.path), script, nullptr,
                                      {});
  }
};

TEST_F(FoxproToMySqlList, ExistingNamesAreOverwrittenOnlyAfterYes) {
  admin("CREATE TABLE ALPHA (old INT)");
  admin("CREATE TABLE beta (old INT)");
  admin("INSERT INTO beta VALUES (5)");
  admin("CREATE TABLE gamma (old INT)");
  transfer::RefillMySqlList(List1, connectionString());
  for (int i : {0, 1, 3}) List2.item(i)->setSelected(true);
  // Asked bottom-up: gamma, beta, alpha.
  env.dialogs().messageAnswers = {platform::vbYes, platform::vbNo, platform::vbYes};
  CollectedScript script;
  EXPECT_EQ(Build(script), 2);
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[1].text, "Would you like to overwrite beta?");
  EXPECT_EQ(shown[1].caption, "Overwrite?");
  EXPECT_EQ(shown[1].style & platform::kMsgBoxButtonsMask, platform::vbYesNo);
  EXPECT_EQ(shown[2].text, "Would you like to overwrite alpha?");
  ASSERT_EQ(script.lines.size(), 6u);
  EXPECT_EQ(script.lines[0], "DROP TABLE IF EXISTS `gamma`");
  EXPECT_EQ(script.lines[3], "DROP TABLE IF EXISTS `alpha`");
  // MySQL here keeps table names by case: ALPHA stays beside the new alpha, nothing stops.
  auto run = Execute(script.lines, script.jobs, connectionString());
  transfer::RefillMySqlList(List1, connectionString());
  ASSERT_EQ(List1.count(), 4);
  EXPECT_EQ(List1.item(0)->text().toLower(), "alpha");
  EXPECT_EQ(List1.item(1)->text().toLower(), "alpha");
  EXPECT_EQ(run.jobsRun, (std::vector<std::string>{"gamma", "alpha"}));
  std::vector<std::string> columns;
  MySqlRows(connectionString(), "SELECT * FROM gamma", &columns);
  EXPECT_EQ(columns, std::vector<std::string>{"c"});
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM beta"),
            (std::vector<std::vector<std::string>>{{"5"}}));
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM alpha"),
            (std::vector<std::vector<std::string>>{{"1"}}));
}

TEST_F(FoxproToMySqlList, UnreadableTableIsReportedAndTheOthersGo) {
  List2.addItem("missing");
  List2.item(0)->setSelected(true);
  List2.item(4)->setSelected(true);
  std::vector<int> progress;
  CollectedScript script;
  EXPECT_EQ(transfer::BuildSendToMySql(List2, List1, FolderConnection(dir.path), script, nullptr,
                                       [&](int p) { progress.push_back(p); }),
            1);
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Application Error");
  EXPECT_TRUE(shown[0].text.contains("missing")) << shown[0].text.toStdString();
  EXPECT_EQ(progress, (std::vector<int>{50, 100}));
  EXPECT_EQ(script.jobs.size(), 1u);
}

}  // namespace
