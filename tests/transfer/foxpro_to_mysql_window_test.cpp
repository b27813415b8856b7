// "Send Table/s To MySQL" driven through the main window's parts, against the private MariaDB and
// a temporary FoxPro folder, with the preview executed or closed by the test.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QWidget>
#include <cstdlib>
#include <functional>

#include "core/connection_strings.h"
#include "foxpro_to_mysql_support.h"
#include "platform/main_window_view.h"
#include "platform/pointer.h"
#include "preview/form4.h"
#include "preview/send_tables.h"
#include "support/main_window_parts.h"
#include "support/mysql_sandbox.h"
#include "support/scripted_dialogs.h"
#include "vfp/codepage.h"

using namespace tomysql_test;
using testing_support::UiTestEnvironment;

namespace {

class SendToMySqlWindow : public qmtest::MySqlDatabaseTest, protected qmtest::MainWindowParts {
 protected:
  TempFolder fox;
  platform::ConnectionFields fields;
  QString previewScript;
  QString notes;
  QString reportShown;  // Notes as the preview opened
  int previewsShown = 0;
  std::vector<int> barWhileBuilt;

  void SetUp() override {
    qmtest::MySqlDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fields = adminFields(fox.path);
    env.app().connectionFields = [this] { return fields; };
    Fox(fox.path, {"CREATE TABLE orders (id I, note C(10) NULL, day D)",
                   "INSERT INTO orders VALUES (1, 'it''s', {^2021-08-31})",
                   "INSERT INTO orders VALUES (2, NULL, {})", "CREATE TABLE zeta (z L)",
                   "INSERT INTO zeta VALUES (.T.)"});
    List2.addItems({"orders", "zeta"});
    QObject::connect(&ProgressBar1, &QProgressBar::valueChanged,
                     [this](int v) { barWhileBuilt.push_back(v); });
  }

  void select(const QStringList& chosen) { selectIn(List2, chosen); }

  void whenPreviewOpens(bool execute) {
    env.dialogs().modalScripts.push_back([this, execute](QDialog& d) {
      auto& form = dynamic_cast<Form4&>(d);
      ++previewsShown;
      EXPECT_EQ(form.m_SendType, 1);
      EXPECT_EQ(pointer.state(), platform::WindowPointer::State::Normal);
      previewScript = form.Script();
      reportShown = form.Text1->toPlainText();
      if (execute) form.PushButton3_Click();
      // Notes of the run, when it left any; the report stays otherwise.
      notes = form.Text1->toPlainText() == reportShown ? QString() : form.Text1->toPlainText();
      return 0;
    });
  }
};

TEST_F(SendToMySqlWindow, TheSelectionIsSentWhateverMadeItAndNoneAsksForATable) {
  // A current entry without a selection is no choice.
  List2.setCurrentRow(0, QItemSelectionModel::NoUpdate);
  transfer::SendTablesToMySql(view);
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Please select a table to send.");
  EXPECT_EQ(previewsShown, 0);

  // "Select All" leaves no current entry; the selection is what counts.
  env.dialogs().shown.clear();
  List2.setCurrentRow(-1, QItemSelectionModel::NoUpdate);
  List2.selectAll();
  ASSERT_EQ(List2.currentRow(), -1);
  whenPreviewOpens(false);
  transfer::SendTablesToMySql(view);
  EXPECT_TRUE(env.dialogs().messages().empty());
  ASSERT_EQ(previewsShown, 1);
  EXPECT_TRUE(previewScript.contains("CREATE TABLE `orders`("));
  EXPECT_TRUE(previewScript.contains("CREATE TABLE `zeta`("));
}

TEST_F(SendToMySqlWindow, AnUnreadableTableIsReportedInTheWindowAndTheOthersGo) {
  List2.addItem("missing");
  select({"missing", "zeta"});
  whenPreviewOpens(false);
  transfer::SendTablesToMySql(view);
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Application Error");
  EXPECT_TRUE(shown[0].text.contains("missing")) << shown[0].text.toStdString();
  EXPECT_TRUE(shown[0].text.contains("Form2.PushButton4_Click at line 118"));
  ASSERT_EQ(previewsShown, 1);
  EXPECT_TRUE(previewScript.contains("CREATE TABLE `zeta`("));
}

TEST_F(SendToMySqlWindow, ExecutedPreviewCopiesRowsAndRelistsFromTheServer) {
  admin("CREATE TABLE orders (old INT)");
  admin("CREATE TABLE other (x INT)");
  List1.addItems({"orders", "stale"});
  select({"orders", "zeta"});
  env.dialogs().messageAnswers = {platform::vbYes};
  whenPreviewOpens(true);

  transfer::SendTablesToMySql(view);

  ASSERT_EQ(previewsShown, 1);
  EXPECT_EQ(previewScript,
            "CREATE TABLE `zeta`( `tempid0` INTEGER UNSIGNED NOT NULL,`z` BIT ) DEFAULT "
            "CHARSET=utf8mb4;\r\n"
            "ALTER TABLE `zeta` DROP COLUMN `tempid0`\r\n"
            "CREATE TABLE `orders_qmnew`( `tempid0` INTEGER UNSIGNED NOT NULL,`id` INT,"
            "`note` TEXT,`day` TEXT ) DEFAULT CHARSET=utf8mb4;\r\n"
            "ALTER TABLE `orders_qmnew` DROP COLUMN `tempid0`\r\n"
            "RENAME TABLE `orders` TO `orders_qmold`, `orders_qmnew` TO `orders`\r\n"
            "DROP TABLE IF EXISTS `orders_qmold`\r\n");
  EXPECT_TRUE(notes.isEmpty()) << notes.toStdString();
  EXPECT_EQ(reportShown,
            "Table orders:\n"
            "  replaces the MySQL table orders: built as orders_qmnew, which takes its place once "
            "complete\n"
            "  column day: dates go as text (2024-01-31), as always\n"
            "  column day: 1 blank dates arrive as NULL");
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "Would you like to overwrite orders?");
  EXPECT_EQ(shown[1].text, "Transfer finished.");
  std::vector<std::string> columns;
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM orders", &columns),
            (std::vector<std::vector<std::string>>{{"1", "it's", "2021-08-31"},
                                                   {"2", "<null>", "<null>"}}));
  EXPECT_EQ(columns, (std::vector<std::string>{"id", "note", "day"}));
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM zeta"),
            (std::vector<std::vector<std::string>>{{"1"}}));
  EXPECT_EQ(entries(List1), (QStringList{"orders", "other", "zeta"}));
  EXPECT_EQ(barWhileBuilt, (std::vector<int>{50, 100, 0}));
  EXPECT_EQ(ProgressBar1.format(), "Progress Bar");
  EXPECT_EQ(pointer.state(), platform::WindowPointer::State::Normal);
}

TEST_F(SendToMySqlWindow, ClosedPreviewLeavesMySqlUntouched) {
  admin("CREATE TABLE orders (old INT)");
  admin("INSERT INTO orders VALUES (7)");
  List1.addItem("orders");
  select({"orders", "zeta"});
  env.dialogs().messageAnswers = {platform::vbYes};
  whenPreviewOpens(false);

  transfer::SendTablesToMySql(view);

  ASSERT_EQ(previewsShown, 1);
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM orders"),
            (std::vector<std::vector<std::string>>{{"7"}}));
  EXPECT_EQ(MySqlRows(connectionString(), "SHOW TABLES").size(), 1u);
  EXPECT_EQ(entries(List1), QStringList{"orders"});
}

TEST_F(SendToMySqlWindow, RefusedRowShowsInNotesAndTheOthersArrive) {
  select({"orders"});
  env.dialogs().modalScripts.push_back([this](QDialog& d) {
    auto& form = dynamic_cast<Form4&>(d);
    // The user narrows a column in the preview; the strict server refuses the longer text.
    form.SetScript(form.Script().replace("`note` TEXT", "`note` VARCHAR(3)"));
    form.PushButton3_Click();
    notes = form.Text1->toPlainText();
    return 0;
  });

  transfer::SendTablesToMySql(view);

  EXPECT_TRUE(notes.contains("Record 1 of orders was not sent")) << notes.toStdString();
  EXPECT_EQ(notes.count("was not sent"), 1) << notes.toStdString();
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM orders"),
            (std::vector<std::vector<std::string>>{{"2", "<null>", "<null>"}}));
  EXPECT_EQ(entries(List1), QStringList{"orders"});
}

// Server-wide settings, changed for one test and given back afterwards; such tests run alone,
// as the ctest test transfer_local_loading_on_and_off, and are skipped in the parallel run.
class ServerSettingsForThisTest {
 public:
  explicit ServerSettingsForThisTest(std::function<void(const std::string&)> admin)
      : admin_(std::move(admin)) {}
  void set(const std::string& name, const std::string& value, const std::string& usual) {
    usual_.emplace_back(name, usual);
    admin_("SET GLOBAL " + name + " = " + value);
  }
  ~ServerSettingsForThisTest() {
    for (const auto& [name, usual] : usual_) admin_("SET GLOBAL " + name + " = " + usual);
  }

 private:
  std::function<void(const std::string&)> admin_;
  std::vector<std::pair<std::string, std::string>> usual_;
};

TEST_F(SendToMySqlWindow, LocalLoadingOffIsSaidBeforeExecuteAndTheWindowClosesOnSuccess) {
  if (!std::getenv("QM_RUNS_ALONE")) GTEST_SKIP() << "runs alone (server-wide setting)";
  ServerSettingsForThisTest settings([this](const std::string& sql) { admin(sql); });
  settings.set("local_infile", "0", "1");
  select({"zeta"});
  bool closed = false;
  env.dialogs().modalScripts.push_back([&](QDialog& d) {
    auto& form = dynamic_cast<Form4&>(d);
    reportShown = form.Text1->toPlainText();
    form.PushButton3_Click();
    closed = form.result() == QDialog::Accepted;
    notes = closed ? QString() : form.Text1->toPlainText();
    return 0;
  });
  transfer::SendTablesToMySql(view);
  EXPECT_TRUE(reportShown.contains("local_infile is off")) << reportShown.toStdString();
  EXPECT_TRUE(closed) << notes.toStdString();
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM zeta"),
            (std::vector<std::vector<std::string>>{{"1"}}));
}

TEST_F(SendToMySqlWindow, AMemoLargerThanTheServersPacketIsNamedBeforeExecuteAndOnlyItsRowFails) {
  if (!std::getenv("QM_RUNS_ALONE")) GTEST_SKIP() << "runs alone (server-wide setting)";
  ServerSettingsForThisTest settings([this](const std::string& sql) { admin(sql); });
  settings.set("local_infile", "0", "1");
  settings.set("max_allowed_packet", "1048576", "16777216");
  // Record 2's memo of 1.2 MB cannot go in an INSERT statement on a server taking at most 1 MB.
  const std::string part(250, 'x');
  std::string memo = "'" + part + "'";
  for (int i = 1; i < 4800; ++i) memo += " + '" + part + "'";
  Fox(fox.path,
      {"CREATE TABLE big (n I, m M)", "INSERT INTO big VALUES (1, 'small')",
       "INSERT INTO big VALUES (2, " + memo + ")", "INSERT INTO big VALUES (3, 'small')"});
  List2.addItem("big");
  select({"big"});
  whenPreviewOpens(true);
  transfer::SendTablesToMySql(view);
  EXPECT_TRUE(reportShown.contains("record 2, field m: 1200000 bytes"))
      << reportShown.toStdString();
  EXPECT_EQ(notes.count("was not sent"), 1) << notes.toStdString();
  EXPECT_TRUE(notes.contains("Record 2 of big was not sent")) << notes.toStdString();
  EXPECT_TRUE(notes.contains("max_allowed_packet")) << notes.toStdString();
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT n FROM big"),
            (std::vector<std::vector<std::string>>{{"1"}, {"3"}}));
}

}  // namespace

TEST_F(SendToMySqlWindow, ATableThatNamesNoCodePageIsReadInTheJudgedOrTheStoredOne) {
  const std::vector<std::string> russian = {"Съешь же ещё этих мягких французских булок.",
                                            "Заказ будет отправлен на следующей неделе.",
                                            "Просим оплатить счёт до конца месяца."};
  const auto expected = UnmarkedTable(fox.path, "dos", 866, russian);
  List2.addItem("dos");
  select({"dos"});
  whenPreviewOpens(true);
  transfer::SendTablesToMySql(view);
  ASSERT_EQ(previewsShown, 1);
  EXPECT_EQ(reportShown,
            "Table dos:\n"
            "  code page 866 (DOS Cyrillic), judged from the text: the table's header names none");
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT t, m FROM dos"), expected);

  // The stored setting names the page instead, and says so; the rows go in that one.
  fields.foxproCodePage = "1251";
  admin("DROP TABLE dos");
  List1.clear();
  whenPreviewOpens(true);
  transfer::SendTablesToMySql(view);
  ASSERT_EQ(previewsShown, 2);
  EXPECT_EQ(reportShown,
            "Table dos:\n"
            "  code page 1251 (Windows Cyrillic), named by the setting FoxproCodePage: the "
            "table's header names none");
  std::string bytes, as1251;
  vfp::converterFor(866)->fromUtf8(russian[0], bytes);
  vfp::converterFor(1251)->toUtf8(bytes, as1251);
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT t FROM dos")[0][0], as1251);
}
