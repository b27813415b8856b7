// A preview of a million lines, used as a user would: one line edited in the middle, find and
// replace over all, save, copy and execute. The file, the clipboard and the table must hold
// exactly what the editor shows, which is what a screen reader reads from it.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "ado/dataaccess.h"
#include "support/scripted_dialogs.h"
#include "transfer/form4.h"
#include "transfer/form5.h"
#include "transfer/script_editor.h"

using testing_support::UiTestEnvironment;

namespace {

constexpr int kRows = 999999;  // plus the CREATE TABLE line: a million lines
constexpr int kEditedRow = 500000;

QByteArray insertLine(int id, const char* city) {
  return "INSERT INTO [orders] VALUES(" + QByteArray::number(id) + ", '" + city + "')";
}

}  // namespace

TEST(PreviewOfAMillionLines, EditReplaceSaveCopyAndExecuteGiveWhatTheEditorShows) {
  UiTestEnvironment env;
  QTemporaryDir dir;
  env.app().connectionFields = [&] {
    platform::ConnectionFields f;
    f.useDbcFile = false;
    f.freeTableFolder = dir.path();
    return f;
  };

  Form4 form;
  form.m_SendType = 0;
  form.AppendCommand("CREATE TABLE [orders] ([id] I, [city] C(10))");
  for (int id = 1; id <= kRows; ++id) form.AppendCommand(insertLine(id, "Berlin"));
  form.show();
  while (form.loading()) QCoreApplication::processEvents();
  ASSERT_EQ(form.RichTextBox1->lineCount(), kRows + 2);

  // The user changes one line in the middle, through the editor's accessible editable text.
  QAccessibleInterface* access = QAccessible::queryAccessibleInterface(form.RichTextBox1);
  ASSERT_NE(access, nullptr);
  ASSERT_NE(access->editableTextInterface(), nullptr);
  const QByteArray edited = insertLine(kEditedRow, "Berlin");
  const QByteArray whole(form.RichTextBox1->utf8().data(),
                         qsizetype(form.RichTextBox1->utf8().size()));
  const qsizetype at = whole.indexOf("\r\n" + edited + "\r\n") + 2 + edited.indexOf("Berlin");
  ASSERT_GT(at, 2);
  access->editableTextInterface()->replaceText(int(at), int(at + 6), "Munich");

  // Find and replace over the whole script, through the dialog.
  env.dialogs().modalScripts.push_back([](QDialog& d) {
    auto& dialog = static_cast<Form5&>(d);
    dialog.Text1->setText("Berlin");
    dialog.Text2->setText("Hamburg");
    dialog.PushButton3->click();
    return 0;
  });
  form.PushButton1_Click();
  while (form.loading()) QCoreApplication::processEvents();

  QByteArray expected = "CREATE TABLE [orders] ([id] I, [city] C(10))\r\n";
  expected.reserve(48 * (kRows + 1));
  for (int id = 1; id <= kRows; ++id)
    expected += insertLine(id, id == kEditedRow ? "Munich" : "Hamburg") + "\r\n";

  // What the editor shows, as a screen reader reads it, is the expected script.
  const int count = access->textInterface()->characterCount();
  ASSERT_EQ(count, expected.size());
  EXPECT_TRUE(access->textInterface()->text(0, count) == QString::fromUtf8(expected));

  // Saved, it is that text plus a closing line break (ASCII: the same in any code page).
  const QString path = dir.filePath("script.txt");
  env.dialogs().textAnswers.push_back(path);
  form.PushButton2_Click();
  QFile saved(path);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_TRUE(saved.readAll() == expected + "\r\n");

  form.PushButton4_Click();
  EXPECT_TRUE(env.clipboard().text == QString::fromUtf8(expected));

  // Executed, the table holds every row as the editor showed it.
  form.PushButton3_Click();
  EXPECT_EQ(env.dialogs().messages().back().text, "Transfer finished.");
  ado::Connection cn;
  cn.open("Provider=vfpoledb.1;Data Source=" + dir.path().toStdString() + ";");
  ado::RecordSet rs(cn.execute("SELECT * FROM orders"));
  int rows = 0, wrong = 0;
  for (; !rs.eof(); rs.moveNext()) {
    ++rows;
    const bool isEdited = rs.value(0).asInt() == kEditedRow;
    if (rs.value(1).asString() != (isEdited ? "Munich" : "Hamburg")) ++wrong;
    if (rs.value(0).asInt() != rows) ++wrong;
  }
  EXPECT_EQ(rows, kRows);
  EXPECT_EQ(wrong, 0);
}
