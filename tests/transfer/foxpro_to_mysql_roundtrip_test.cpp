// A FoxPro table of every field type sent to MySQL and back to FoxPro through both send buttons'
// transfers and the preview: the values read back equal, in their text forms (nulls as empty).
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QWidget>

#include "foxpro_to_mysql_support.h"
#include "platform/main_window_view.h"
#include "platform/pointer.h"
#include "preview/form4.h"
#include "preview/send_tables.h"
#include "support/main_window_parts.h"
#include "support/mysql_sandbox.h"
#include "support/scripted_dialogs.h"
#include "transfer/mysql_to_foxpro.h"

using namespace tomysql_test;

namespace {

class RoundTrip : public qmtest::MySqlDatabaseTest, protected qmtest::MainWindowParts {
 protected:
  TempFolder there, back;
  platform::ConnectionFields fields;
  QString notes;
  QString reports;  // Notes as each preview opened

  void SetUp() override {
    qmtest::MySqlDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fields = adminFields();
    fields.useDbcFile = false;
    env.app().connectionFields = [this] { return fields; };
  }
  void executePreview() {
    env.dialogs().modalScripts.push_back([this](QDialog& d) {
      auto& form = dynamic_cast<Form4&>(d);
      const QString report = form.Text1->toPlainText();
      reports += report + "\n";
      form.PushButton3_Click();
      // Notes of the run replace the report; without any the report stays.
      if (form.Text1->toPlainText() != report) notes += form.Text1->toPlainText();
      return 0;
    });
  }
};

TEST_F(RoundTrip, EveryFieldTypeComesBackEqual) {
  Fox(there.path,
      {"CREATE TABLE every (c C(5) NULL, cb C(2) NOCPTRANS, v V(8), vb V(4) NOCPTRANS, m M, "
       "mb M NOCPTRANS, n N(12,3), f F(6,1), i I, b B, y Y, d D NULL, t T, l L, g G, w W, q Q(3))",
       "INSERT INTO every VALUES('abc', 0h0102, 'var', 0hFF, 'memo', 0h00, '-12.500', '1.5', 42, "
       "2.25, '3.1416', {^2021-08-31}, {^2021-08-31 10:20:30}, .T., 0h01, 0h0203, 0h0A0B)",
       "INSERT INTO every VALUES(NULL, 0h, '', 0h, '', 0h, '0.000', '0.0', 0, 0, 0, NULL, {}, .F., "
       "0h, 0h, 0h)",
       "INSERT INTO every VALUES('x''`y', 0hFFFF, 'ü€', 0h00, 'line1' + CHR(13) + CHR(10) + "
       "'line2', 0h, '1234567.890', '-0.5', -2147483647, 1E300, '-922337203685477.5807', {}, "
       "{^1900-01-01 00:00:01}, .F., 0h, 0h, 0h)"});
  fields.freeTableFolder = QString::fromStdString(there.path);
  List2.addItem("every");
  List2.item(0)->setSelected(true);
  List2.setCurrentRow(0, QItemSelectionModel::NoUpdate);
  executePreview();
  transfer::SendTablesToMySql(view);
  ASSERT_TRUE(notes.isEmpty()) << notes.toStdString();
  ASSERT_EQ(List1.count(), 1);

  fields.freeTableFolder = QString::fromStdString(back.path);
  List2.clear();
  List1.item(0)->setSelected(true);
  List1.setCurrentRow(0, QItemSelectionModel::NoUpdate);
  executePreview();
  transfer::SendTablesToFoxpro(view);
  ASSERT_TRUE(notes.isEmpty()) << notes.toStdString();

  auto sent = FoxRows(FolderConnection(there.path), "every");
  auto returned = FoxRows(FolderConnection(back.path), "every");
  ASSERT_EQ(returned.size(), sent.size());
  // Nulls reach MySQL as nulls; the way back writes every null as the empty value, as that
  // transfer does for any MySQL table.
  for (auto& row : sent)
    for (auto& v : row)
      if (v == "<null>") v.clear();
  for (std::size_t r = 0; r < sent.size(); ++r) EXPECT_EQ(returned[r], sent[r]) << "row " << r;
}

TEST_F(RoundTrip, MySqlValuesComeBackAsTheirTextsWithTheNullsTheReportNames) {
  admin(
      "CREATE TABLE mix (i INT, d DOUBLE, f FLOAT, de DECIMAL(65,30), u BIGINT UNSIGNED, t TIME, "
      "z DATE, dt DATETIME(6), s VARCHAR(20), b VARBINARY(4), e ENUM('x','y')) "
      "DEFAULT CHARSET=utf8mb4");
  admin(
      "INSERT INTO mix VALUES (1, 1e20, 3.4e38, "
      "'-12345678901234567890123456789012345.000000000000000000000000000001', "
      "18446744073709551615, '-838:59:59', '0000-00-00', '2021-08-31 23:59:58.000001', "
      "'Café € ''q''', 0x00FF, 'y'), (NULL, 1e-5, -1.5, NULL, 0, NULL, NULL, NULL, NULL, NULL, "
      "NULL), (-2, 0.1, 0, 0, 1, '00:00:00', '2024-02-29', NULL, '', '', 'x')");
  auto original = MySqlRows(connectionString(), "SELECT * FROM mix");

  fields.freeTableFolder = QString::fromStdString(there.path);
  List1.addItem("mix");
  List1.item(0)->setSelected(true);
  List1.setCurrentRow(0, QItemSelectionModel::NoUpdate);
  executePreview();
  transfer::SendTablesToFoxpro(view);
  ASSERT_TRUE(notes.isEmpty()) << notes.toStdString();
  EXPECT_TRUE(reports.contains("column i: 1 NULLs are written as empty text"))
      << reports.toStdString();
  EXPECT_TRUE(reports.contains("column dt: 2 NULLs are written as empty text"))
      << reports.toStdString();

  // Back to MySQL over the original table.
  ASSERT_EQ(List2.count(), 1);
  List2.item(0)->setSelected(true);
  List2.setCurrentRow(0, QItemSelectionModel::NoUpdate);
  env.dialogs().messageAnswers = {platform::vbYes};  // overwrite mix
  executePreview();
  transfer::SendTablesToMySql(view);
  ASSERT_TRUE(notes.isEmpty()) << notes.toStdString();
  auto returned = MySqlRows(connectionString(), "SELECT * FROM mix");
  // Every value comes back as the text the server printed; a NULL as the empty text, as the
  // report said.
  for (auto& row : original)
    for (auto& v : row)
      if (v == "<null>") v.clear();
  ASSERT_EQ(returned.size(), original.size());
  for (std::size_t r = 0; r < original.size(); ++r) EXPECT_EQ(returned[r], original[r]) << r;
}

}  // namespace
