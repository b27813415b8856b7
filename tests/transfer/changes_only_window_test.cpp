// "Send changes only" from the main window: after a typed send and changes on both sides, the
// preview holds only the rows that changed, the user is asked whether rows only MySQL has go
// and, for a table without a key, which fields match its rows; executed, MySQL equals FoxPro.
// A second send finds nothing and opens no preview. Both directions.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <map>

#include "foxpro_to_mysql_support.h"
#include "preview/form4.h"
#include "preview/send_tables.h"
#include "support/main_window_parts.h"
#include "support/mysql_sandbox.h"

using namespace tomysql_test;

namespace {

class ChangesOnlyWindow : public qmtest::MySqlDatabaseTest, protected qmtest::MainWindowParts {
 protected:
  TempFolder fox;
  platform::ConnectionFields fields;

  void SetUp() override {
    qmtest::MySqlDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fields = adminFields(fox.path);
    env.app().connectionFields = [this] { return fields; };
  }
  std::vector<std::vector<std::string>> rows(const std::string& table) {
    return MySqlRows(connectionString(), "SELECT * FROM " + table + " ORDER BY 1");
  }
};

TEST_F(ChangesOnlyWindow, OnlyTheChangedRowsAreShownAndRunAndASecondSendFindsNothing) {
  Fox(fox.path, {"CREATE TABLE items (id I, name C(8))", "INSERT INTO items VALUES (1, 'a')",
                 "INSERT INTO items VALUES (2, 'b')", "INSERT INTO items VALUES (3, 'c')",
                 "INDEX ON id TAG id CANDIDATE", "CREATE TABLE loose (a I, b C(4))",
                 "INSERT INTO loose VALUES (1, 'x')", "INSERT INTO loose VALUES (2, 'y')"});
  CollectedScript full;
  transfer::SendToMySqlHooks typed;
  typed.typed = true;
  ASSERT_EQ(2, transfer::BuildSendToMySql({"items", "loose"}, {}, FolderConnection(fox.path), full,
                                          typed));
  ASSERT_TRUE(Execute(full.lines, full.jobs, connectionString()).notes.empty());
  Fox(fox.path, {"UPDATE items SET name = 'z' WHERE id = 2", "DELETE FROM items WHERE id = 3",
                 "INSERT INTO items VALUES (4, 'd')", "UPDATE loose SET b = 'w' WHERE a = 2"});
  admin("INSERT INTO items VALUES (9, 'only')");

  view.changesOnly = true;
  List1.addItems({"items", "loose"});
  List2.addItems({"items", "loose"});
  selectIn(List2, {"items", "loose"});
  env.dialogs().messageAnswers = {platform::vbYes};  // rows only MySQL has go
  env.dialogs().textAnswers = {"a"};                 // loose has no key
  QString script;
  env.dialogs().modalScripts.push_back([&](QDialog& d) {
    auto& form = dynamic_cast<Form4&>(d);
    script = form.Script();
    form.PushButton3_Click();
    return 0;
  });
  transfer::SendTablesToMySql(view);
  EXPECT_EQ(script.count(QStringLiteral("INSERT INTO")), 1) << script.toStdString();
  EXPECT_EQ(script.count(QStringLiteral("UPDATE ")), 2) << script.toStdString();
  EXPECT_EQ(script.count(QStringLiteral("DELETE FROM")), 2) << script.toStdString();
  const auto& shown = env.dialogs().shown;
  ASSERT_EQ(shown.size(), 4u);  // the question, the key's input box, the preview, its end
  EXPECT_TRUE(shown[0].text.startsWith("Delete the rows that only MySQL has?"));
  EXPECT_TRUE(shown[1].text.startsWith("loose has no primary or candidate key."));
  EXPECT_EQ(shown[2].kind, testing_support::Shown::Kind::Modal);
  EXPECT_EQ(shown[3].text, "Transfer finished.");
  EXPECT_EQ(rows("items"),
            (std::vector<std::vector<std::string>>{{"1", "a"}, {"2", "z"}, {"4", "d"}}));
  EXPECT_EQ(rows("loose"), (std::vector<std::vector<std::string>>{{"1", "x"}, {"2", "w"}}));

  // Level now: said in a message, with no preview to open.
  env.dialogs().shown.clear();
  env.dialogs().messageAnswers = {platform::vbNo};
  env.dialogs().textAnswers = {"a"};
  transfer::SendTablesToMySql(view);
  const auto& again = env.dialogs().shown;
  ASSERT_EQ(again.size(), 3u);
  EXPECT_EQ(again[2].kind, testing_support::Shown::Kind::Message);
  EXPECT_TRUE(again[2].text.startsWith("Nothing changed.")) << again[2].text.toStdString();
}

// The other way: MySQL's changes since a typed send to FoxPro arrive as FoxPro lines.
TEST_F(ChangesOnlyWindow, ToFoxproOnlyTheChangedRowsAreRunAndASecondSendFindsNothing) {
  admin("CREATE TABLE stock (id INT PRIMARY KEY, name CHAR(8) NOT NULL)");
  admin("INSERT INTO stock VALUES (1, 'a'), (2, 'b'), (3, 'c')");
  List1.addItems({"stock"});
  selectIn(List1, {"stock"});
  QString script;
  auto executeThePreview = [&] {
    env.dialogs().modalScripts.push_back([&](QDialog& d) {
      auto& form = dynamic_cast<Form4&>(d);
      script = form.Script();
      form.PushButton3_Click();
      return 0;
    });
  };
  view.typed = true;
  executeThePreview();
  transfer::SendTablesToFoxpro(view);
  admin("UPDATE stock SET name = 'z' WHERE id = 2");
  admin("DELETE FROM stock WHERE id = 3");
  admin("INSERT INTO stock VALUES (4, 'd')");
  Fox(fox.path, {"INSERT INTO stock VALUES (9, 'only')"});

  view.changesOnly = true;
  env.dialogs().shown.clear();
  env.dialogs().messageAnswers = {platform::vbYes};
  executeThePreview();
  transfer::SendTablesToFoxpro(view);
  EXPECT_EQ(script.count(QStringLiteral("INSERT INTO")), 1) << script.toStdString();
  EXPECT_EQ(script.count(QStringLiteral("UPDATE ")), 1) << script.toStdString();
  EXPECT_EQ(script.count(QStringLiteral("DELETE FROM")), 2) << script.toStdString();
  ASSERT_FALSE(env.dialogs().shown.empty());
  EXPECT_TRUE(env.dialogs().shown[0].text.startsWith("Delete the rows that only FoxPro has?"));
  ado::Connection c;
  c.open(FolderConnection(fox.path));
  ado::RecordSet rs;
  rs.open("SELECT * FROM stock", c);
  std::map<std::string, std::string> records;
  for (; !rs.eof(); rs.moveNext()) records[rs.value(0).toText()] = rs.value(1).toText();
  rs.close();
  c.close();
  EXPECT_EQ(records, (std::map<std::string, std::string>{{"1", "a"}, {"2", "z"}, {"4", "d"}}));

  env.dialogs().shown.clear();
  env.dialogs().messageAnswers = {platform::vbNo};
  transfer::SendTablesToFoxpro(view);
  ASSERT_EQ(env.dialogs().shown.size(), 2u);
  EXPECT_TRUE(env.dialogs().shown[1].text.startsWith("Nothing changed."))
      << env.dialogs().shown[1].text.toStdString();
}

}  // namespace
