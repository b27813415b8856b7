// The preview's text: how appended commands read back, the file "Save SQL Commands As Text File"
// writes, and the clipboard copy.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>

#include "platform/pointer.h"
#include "support/scripted_dialogs.h"
#include "preview/form4.h"
#include "preview/script_editor.h"
#include "transfer/script_file.h"

using testing_support::Shown;
using testing_support::UiTestEnvironment;

namespace {

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void showAndLoad(Form4& form) {
  form.show();
  while (form.loading()) QCoreApplication::processEvents();
}

}  // namespace

TEST(Form4Text, AppendedCommandsReadBackWithCrLfWhetherLoadedOrNot) {
  UiTestEnvironment env;
  Form4 form;
  form.AppendCommand("A\u00a0B");  // a non-breaking space stays one
  form.AppendCommand("two\rlines");
  form.AppendCommand("and\r\nagain\n");
  const QString expected = "A\u00a0B\r\ntwo\r\nlines\r\nand\r\nagain\r\n\r\n";
  EXPECT_EQ(form.Script(), expected);
  showAndLoad(form);
  EXPECT_EQ(form.Script(), expected);
  EXPECT_FALSE(form.RichTextBox1->isReadOnly());
  form.AppendCommand("late");
  EXPECT_EQ(form.Script(), expected + "late\r\n");
}

// What a screen reader reads and types is the script: the editor's accessible text and
// editable-text interfaces work on the same text save, copy and execution read.
TEST(Form4Text, WhatTheUserTypesIsWhatTheScriptReads) {
  UiTestEnvironment env;
  Form4 form;
  form.AppendCommand("SELECT 1");
  form.AppendCommand("SELECT \u00e9");
  showAndLoad(form);
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(form.RichTextBox1);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(a->textInterface(), nullptr);
  ASSERT_NE(a->editableTextInterface(), nullptr);
  const int count = a->textInterface()->characterCount();
  EXPECT_EQ(a->textInterface()->text(0, count), "SELECT 1\r\nSELECT \u00e9\r\n");
  a->editableTextInterface()->insertText(count, "SELECT 3\n");
  a->editableTextInterface()->replaceText(0, 1, "D");
  EXPECT_EQ(form.Script(), "DELECT 1\r\nSELECT \u00e9\r\nSELECT 3\r\n");
  // Typed keys land where the caret is, with CR LF for Enter.
  form.RichTextBox1->goToStart();
  for (auto [key, text] : {std::pair{int(Qt::Key_X), QString("X")}, {int(Qt::Key_Return), "\r"}}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(form.RichTextBox1, &press);
  }
  EXPECT_EQ(form.Script(), "X\r\nDELECT 1\r\nSELECT \u00e9\r\nSELECT 3\r\n");
  form.AppendCommand("SELECT 4");
  while (form.loading()) QCoreApplication::processEvents();
  EXPECT_EQ(form.Script(), "X\r\nDELECT 1\r\nSELECT \u00e9\r\nSELECT 3\r\nSELECT 4\r\n");
}

TEST(Form4Text, LargeScriptArrivesInPiecesAndReadsWholeMeanwhile) {
  UiTestEnvironment env;
  Form4 form;
  QString expected;
  for (int i = 0; i < 60000; ++i) {
    QString line =
        QStringLiteral("INSERT INTO [t] VALUES (%1, 'some text to make the line long')").arg(i);
    form.AppendCommand(line);
    expected += line + "\r\n";
  }
  // Built without a window, the editor takes the script a megabyte at a time as it comes.
  form.show();
  EXPECT_FALSE(form.loading());
  EXPECT_EQ(form.RichTextBox1->lineCount(), 60001);
  EXPECT_EQ(form.Script(), expected);
  // A whole new text arrives in pieces while the window answers, and reads whole meanwhile.
  const QString more = QString(expected).replace("some", "more");
  form.SetScript(more);
  ASSERT_TRUE(form.loading());
  EXPECT_TRUE(form.RichTextBox1->isReadOnly());
  EXPECT_EQ(form.Script(), more);
  // Replacing the whole text while pieces are still arriving starts over from the new text.
  const QString most = QString(expected).replace("some", "most");
  form.SetScript(most);
  while (form.loading()) QCoreApplication::processEvents();
  EXPECT_EQ(form.Script(), most);
  EXPECT_EQ(form.RichTextBox1->lineCount(), 60001);
  EXPECT_FALSE(form.RichTextBox1->isReadOnly());
}

TEST(Form4Text, ALargeLoadedScriptReplacedWholeReadsBackAndTakesEdits) {
  UiTestEnvironment env;
  Form4 form;
  QString expected;
  for (int i = 0; i < 30000; ++i) {
    QString line = QStringLiteral("INSERT INTO [t] VALUES (%1, 'Berlin')").arg(i);
    form.AppendCommand(line);
    expected += line + "\r\n";
  }
  showAndLoad(form);
  ASSERT_EQ(form.RichTextBox1->lineCount(), 30001);
  const QString replaced = QString(expected).replace("Berlin", "Hamburg");
  EXPECT_TRUE(form.ReplaceInScript("Berlin", "Hamburg", [] { return true; }));
  while (form.loading()) QCoreApplication::processEvents();
  EXPECT_EQ(form.Script(), replaced);
  EXPECT_EQ(form.RichTextBox1->lineCount(), 30001);
  EXPECT_FALSE(form.RichTextBox1->isReadOnly());
  // What the user types into the new text is what the script holds.
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(form.RichTextBox1);
  ASSERT_NE(a, nullptr);
  const int at = int(replaced.indexOf("INSERT INTO [t] VALUES (15000,"));
  a->editableTextInterface()->insertText(at, "-- ");
  EXPECT_TRUE(form.Script().contains("\r\n-- INSERT INTO [t] VALUES (15000, 'Hamburg')\r\n"));
  EXPECT_EQ(form.Script().size(), replaced.size() + 3);
  // Undo takes back the typing, not the loading.
  form.RichTextBox1->SendScintilla(QsciScintillaBase::SCI_UNDO);
  EXPECT_EQ(form.Script(), replaced);
  form.RichTextBox1->SendScintilla(QsciScintillaBase::SCI_UNDO);
  EXPECT_EQ(form.Script(), replaced);
}

TEST(Form4Save, FileIsTheTextPlusOneCrLfAndReplacesAnExistingOne) {
  UiTestEnvironment env;
  QTemporaryDir dir;
  QString path = dir.filePath("script.txt");
  QFile old(path);
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write(QByteArray(10000, 'x'));
  old.close();

  Form4 form;
  form.AppendCommand("INSERT INTO [t] VALUES ('caf\u00e9')");
  form.AppendCommand("SELECT 1");
  env.dialogs().textAnswers.push_back(path);
  form.PushButton2_Click();

  long long replaced = 0;
  QByteArray expected =
      transfer::EncodeScriptText(form.Script() + "\r\n", transfer::ScriptFileCodeset(), &replaced);
  EXPECT_EQ(readFile(path), expected);
  if (transfer::ScriptFileCodeset() == "UTF-8") {
    EXPECT_EQ(readFile(path), "INSERT INTO [t] VALUES ('caf\xc3\xa9')\r\nSELECT 1\r\n\r\n");
  }
  ASSERT_EQ(env.dialogs().shown.size(), 1u);
  const Shown& dialog = env.dialogs().shown[0];
  EXPECT_EQ(dialog.kind, Shown::Kind::SaveFile);
  EXPECT_EQ(dialog.caption, "Save List");
  EXPECT_EQ(dialog.filter, "Text Files(*.txt)|*.txt|All Files (*.*)|*.*|");
  EXPECT_FALSE(dialog.confirmOverwrite);
  EXPECT_EQ(form.pointer().state(), platform::WindowPointer::State::Normal);
}

TEST(Form4Save, CancelWritesNothingAndAnUnwritablePathIsReported) {
  UiTestEnvironment env;
  QTemporaryDir dir;
  Form4 form;
  form.AppendCommand("SELECT 1");
  form.PushButton2_Click();  // no answer: cancelled
  EXPECT_TRUE(QDir(dir.path()).isEmpty());
  EXPECT_TRUE(env.dialogs().messages().empty());

  env.dialogs().textAnswers.push_back(dir.filePath("no/such/folder/script.txt"));
  form.PushButton2_Click();
  auto messages = env.dialogs().messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Application Error");
  EXPECT_TRUE(messages[0].text.contains("script.txt")) << messages[0].text.toStdString();
  EXPECT_TRUE(messages[0].text.contains("Form4.PushButton2_Click "))
      << messages[0].text.toStdString();
  EXPECT_EQ(form.pointer().state(), platform::WindowPointer::State::Normal);
}

TEST(Form4Save, SingleByteCodePagesWriteQuestionMarksAndCountThem) {
  EXPECT_EQ(transfer::ScriptFileCodeset("ISO-8859-1", 1), "ISO-8859-1");
  EXPECT_EQ(transfer::ScriptFileCodeset("KOI8-R", 1), "KOI8-R");
  EXPECT_EQ(transfer::ScriptFileCodeset("UTF-8", 6), "UTF-8");
  EXPECT_EQ(transfer::ScriptFileCodeset("ANSI_X3.4-1968", 1), "UTF-8");
  EXPECT_EQ(transfer::ScriptFileCodeset("EUC-JP", 3), "UTF-8");

  long long replaced = -1;
  EXPECT_EQ(transfer::EncodeScriptText("caf\u00e9 \u20ac \u0436\u00e9\r\n", "CP1252", &replaced),
            QByteArray("caf\xe9 \x80 ?\xe9\r\n"));
  EXPECT_EQ(replaced, 1);
  EXPECT_EQ(transfer::EncodeScriptText("\u0436\U0001F600", "KOI8-R", &replaced),
            QByteArray("\xd6?"));
  EXPECT_EQ(replaced, 1);
  EXPECT_EQ(transfer::EncodeScriptText("\u0436", "UTF-8", &replaced), QByteArray("\xd0\xb6"));
  EXPECT_EQ(replaced, 0);
}

TEST(Form4Copy, EveryPressPutsTheScriptOnTheClipboardAndSaysSo) {
  UiTestEnvironment env;
  Form4 form;
  form.AppendCommand("CREATE TABLE a (n I)");
  env.clipboard().failuresBeforeSuccess = 3;
  form.PushButton4_Click();
  form.PushButton4_Click();
  EXPECT_EQ(env.clipboard().text, "CREATE TABLE a (n I)\r\n");
  EXPECT_EQ(env.clipboard().format, 0);
  auto messages = env.dialogs().messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, "Data sent to clipboard.");
  EXPECT_EQ(messages[1].caption, env.app().title());
}
