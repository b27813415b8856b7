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
#include "support/mysql_sandbox.h"
#include "support/scripted_dialogs.h"
#include "transfer/form4.h"
#include "transfer/mysql_to_foxpro.h"

using namespace tomysql_test;

namespace {

class RoundTrip : public qmtest::MySqlDatabaseTest {
 protected:
  testing_support::UiTestEnvironment env;
  TempFolder there, back;
  QWidget window;
  QListWidget List1{&window}, List2{&window};
  QProgressBar ProgressBar1{&window};
  platform::WindowPointer pointer{window};
  platform::MainWindowView view{window, List1, List2, ProgressBar1, pointer};
  platform::ConnectionFields fields;
  QString notes;
  QString reports;  // Notes as each preview opened

  void SetUp() override {
    qmtest::MySqlDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fields.useDbcFile = false;
    fields.server = QString::fromStdString(sandbox().host);
    fields.port = QString::fromStdString(sandbox().port);
    fields.user = QString::fromStdString(sandbox().adminUser);
    fields.password = QString::fromStdString(sandbox().adminPassword);
    fields.database = QString::fromStdString(database());
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

}  // namespace
