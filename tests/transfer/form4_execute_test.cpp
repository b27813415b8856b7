// "Execute SQL Commands Now" in the preview window, against a temporary folder of FoxPro free
// tables and against the private MariaDB: what the user is told, what Notes shows, when the
// window closes, and a run that the user interrupts by closing the window or ending the program.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "platform/dialogs.h"
#include "platform/pointer.h"
#include "preview/form4.h"
#include "preview/script_editor.h"
#include "support/mysql_sandbox.h"
#include "support/mysql_ui_test.h"
#include "support/scripted_dialogs.h"
#include "support/table_rows.h"
#include "transfer/script_job.h"

using testing_support::UiTestEnvironment;

using testing_support::RowCount;

namespace {

// The message the database gives for the statement.
QString errorOf(const std::string& connectionString, const std::string& sql) {
  ado::Connection cn;
  cn.open(connectionString);
  try {
    cn.execute(sql);
  } catch (const ado::DataAccessError& e) {
    return QString::fromUtf8(e.what());
  }
  return "<no error>";
}

// A job that does what the test asks when its line has run.
class ActionJob : public transfer::ScriptJob {
 public:
  ActionJob(std::string table, std::string line, std::function<void(std::vector<std::string>&)> act)
      : table_(std::move(table)), line_(std::move(line)), act_(std::move(act)) {}
  std::string table() const override { return table_; }
  bool runsAfter(const std::string& line) const override { return line == line_; }
  void run(ado::Connection&, const std::function<void(int)>& progress,
           std::vector<std::string>& notes) override {
    progress(100);
    act_(notes);
  }

 private:
  std::string table_;
  std::string line_;
  std::function<void(std::vector<std::string>&)> act_;
};

void moveMouse(QWidget* w) {
  QMouseEvent e(QEvent::MouseMove, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &e);
}

// Shows the window modally and runs the steps while it is open.
void whileOpen(UiTestEnvironment& env, Form4& form, std::function<void()> steps) {
  env.dialogs().modalScripts.push_back([steps](QDialog&) {
    steps();
    return 0;
  });
  platform::ShowModal(form);
}

class FoxproPreview : public ::testing::Test {
 protected:
  UiTestEnvironment env;
  QTemporaryDir dir;

  void SetUp() override {
    env.app().connectionFields = [this] {
      platform::ConnectionFields f;
      f.useDbcFile = false;
      f.freeTableFolder = dir.path();
      return f;
    };
  }
  std::string foxpro() const {
    return "Provider=vfpoledb.1;Data Source=" + dir.path().toStdString() +
           ";Collating Sequence=general;";
  }
  long long rows(const std::string& table) {
    ado::Connection cn;
    cn.open(foxpro());
    return RowCount(cn, table);
  }
  QStringList messages() {
    QStringList out;
    for (const auto& m : env.dialogs().messages()) out << m.text;
    return out;
  }
};

}  // namespace

TEST_F(FoxproPreview, EmptyPreviewFinishesAndCloses) {
  Form4 form;
  bool visibleAfter = true;
  whileOpen(env, form, [&] {
    form.PushButton3_Click();
    visibleAfter = form.isVisible();
  });
  EXPECT_EQ(messages(), QStringList{"Transfer finished."});
  EXPECT_FALSE(visibleAfter);
  EXPECT_TRUE(transfer::ScriptExecuted());
  EXPECT_EQ(form.pointer().state(), platform::WindowPointer::State::Normal);
}

TEST_F(FoxproPreview, ExecutePressedThroughAccessibilityWhileFinishedIsUpStartsNoSecondRun) {
  Form4 form;
  form.AppendCommand("CREATE TABLE a (n I)");
  form.AppendCommand("INSERT INTO a VALUES (1)");
  int pressed = 0;
  // A screen reader presses the button while the closing message is up: a modal box does not
  // stop that.
  env.dialogs().whileMessageShown = [&](const QString&) {
    if (pressed++ > 0) return;
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(form.PushButton3);
    ASSERT_NE(button, nullptr);
    ASSERT_NE(button->actionInterface(), nullptr);
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    // The press arrives as an animated click; the box's own event loop would deliver it.
    QEventLoop loop;
    QTimer::singleShot(400, &loop, &QEventLoop::quit);
    loop.exec();
  };
  whileOpen(env, form, [&] { form.PushButton3_Click(); });
  EXPECT_EQ(pressed, 1);
  EXPECT_EQ(rows("a"), 1);
  EXPECT_EQ(messages(), QStringList{"Transfer finished."});
}

TEST_F(FoxproPreview, ThreeLinesRunWithTheBarBeforeEachLine) {
  Form4 form;
  form.AppendCommand("CREATE TABLE a (n I)");
  form.AppendCommand("INSERT INTO a VALUES (1)");
  form.AppendCommand("INSERT INTO a VALUES (2)");
  std::vector<int> bar;
  QObject::connect(form.ProgressBar1, &QProgressBar::valueChanged,
                   [&](int v) { bar.push_back(v); });
  whileOpen(env, form, [&] { form.PushButton3_Click(); });
  // Three commands and the empty line after the last break.
  EXPECT_EQ(bar, (std::vector<int>{33, 66, 100}));
  EXPECT_EQ(rows("a"), 2);
  EXPECT_EQ(messages(), QStringList{"Transfer finished."});
}

TEST_F(FoxproPreview, FailingSecondLineIsShownInNotesAndASecondPressStartsAgain) {
  ASSERT_EQ(rows("a"), -1);
  {
    ado::Connection cn;
    cn.open("Provider=vfpoledb.1;Data Source=" + dir.path().toStdString() + ";");
    cn.execute("CREATE TABLE a (n I)");
  }
  Form4 form;
  form.AppendCommand("INSERT INTO a VALUES (1)");
  form.AppendCommand("INSERT INTO missing VALUES (1)");
  form.AppendCommand("INSERT INTO a VALUES (3)");
  QString notes;
  bool visible = false;
  whileOpen(env, form, [&] {
    form.PushButton3_Click();
    notes = form.Text1->toPlainText();
    visible = form.isVisible();
    EXPECT_EQ(form.pointer().state(), platform::WindowPointer::State::Normal);
    form.PushButton3_Click();
  });
  EXPECT_TRUE(visible);
  EXPECT_EQ(notes, "INSERT INTO missing VALUES (1)\n" +
                       errorOf(foxpro(), "INSERT INTO missing VALUES (1)"));
  EXPECT_EQ(messages(),
            (QStringList{"Transfer problem. See Notes.", "Transfer problem. See Notes."}));
  // The first line ran on each press; the third never did.
  EXPECT_EQ(rows("a"), 2);
  EXPECT_EQ(form.Script(),
            "INSERT INTO a VALUES (1)\r\nINSERT INTO missing VALUES (1)\r\nINSERT "
            "INTO a VALUES (3)\r\n");
}

TEST_F(FoxproPreview, OtherSendTypesRunNothingAndFinish) {
  Form4 form;
  form.m_SendType = 2;
  form.AppendCommand("CREATE TABLE a (n I)");
  whileOpen(env, form, [&] { form.PushButton3_Click(); });
  EXPECT_EQ(messages(), QStringList{"Transfer finished."});
  EXPECT_EQ(rows("a"), -1);
}

TEST_F(FoxproPreview, JobNotesKeepTheWindowOpenAfterTheRun) {
  Form4 form;
  form.AppendCommand("CREATE TABLE a (t C(10))");
  form.AddJob(std::make_unique<ActionJob>("a", "CREATE TABLE a (t C(10))",
                                          [](auto& notes) { notes.push_back("2 rows refused"); }));
  form.AddJob(std::make_unique<ActionJob>("b", "CREATE TABLE b (n I)", [](auto&) {}));
  form.AppendCommand("INSERT INTO a VALUES ('\u0436')");
  bool visible = false;
  whileOpen(env, form, [&] {
    form.PushButton3_Click();
    visible = form.isVisible();
  });
  EXPECT_TRUE(visible);
  EXPECT_EQ(messages(), QStringList{"Transfer finished."});
  QStringList notes = form.Text1->toPlainText().split('\n');
  ASSERT_EQ(notes.size(), 3) << form.Text1->toPlainText().toStdString();
  EXPECT_EQ(notes[0], "2 rows refused");
  EXPECT_TRUE(notes[1].contains("table b")) << notes[1].toStdString();
  EXPECT_TRUE(notes[2].contains("1 character")) << notes[2].toStdString();
}

TEST_F(FoxproPreview, ClosingTheWindowStopsTheRunAfterTheCurrentLine) {
  Form4 form;
  form.AppendCommand("CREATE TABLE a (n I)");
  form.AppendCommand("CREATE TABLE b (n I)");
  form.AddJob(std::make_unique<ActionJob>("a", "CREATE TABLE a (n I)", [&](auto&) {
    // A press while running starts nothing; closing stops the run.
    form.PushButton3_Click();
    form.close();
  }));
  whileOpen(env, form, [&] { form.PushButton3_Click(); });
  EXPECT_EQ(rows("a"), 0);
  EXPECT_EQ(rows("b"), -1);
  EXPECT_TRUE(messages().isEmpty());
  EXPECT_FALSE(form.running());
}

TEST_F(FoxproPreview, EditsDuringARunDoNotChangeWhatRuns) {
  Form4 form;
  form.AppendCommand("CREATE TABLE a (n I)");
  form.AppendCommand("CREATE TABLE b (n I)");
  form.AppendCommand("CREATE TABLE e (n I)");
  bool editable = false, replaceOffered = false, replaced = false;
  form.AddJob(std::make_unique<ActionJob>("a", "CREATE TABLE a (n I)", [&](auto&) {
    // Nothing waits for the run: the user types, finds and replaces, or gets a new text.
    editable = !form.RichTextBox1->isReadOnly();
    replaceOffered = form.PushButton1->isEnabled();
    QAccessibleInterface* access = QAccessible::queryAccessibleInterface(form.RichTextBox1);
    access->editableTextInterface()->insertText(0, "CREATE TABLE x (n I)\r\n");
    replaced = form.ReplaceInScript("b (", "d (", [] { return true; });
    form.SetScript("CREATE TABLE c (n I)");
  }));
  form.AddJob(std::make_unique<ActionJob>("b", "CREATE TABLE b (n I)", [&](auto&) {
    // A second edit after the lines were set apart changes nothing either.
    form.SetScript("CREATE TABLE f (n I)");
  }));
  whileOpen(env, form, [&] { form.PushButton3_Click(); });
  EXPECT_TRUE(editable);
  EXPECT_TRUE(replaceOffered);
  EXPECT_TRUE(replaced);
  EXPECT_EQ(rows("b"), 0);
  EXPECT_EQ(rows("e"), 0);
  for (const char* never : {"c", "d", "f", "x"}) EXPECT_EQ(rows(never), -1) << never;
  EXPECT_EQ(messages(), QStringList{"Transfer finished."});
  EXPECT_EQ(form.Script(), "CREATE TABLE f (n I)");
}

TEST_F(FoxproPreview, EndingTheProgramStopsTheRunWithoutAWord) {
  Form4 form;
  form.AppendCommand("CREATE TABLE a (n I)");
  form.AppendCommand("CREATE TABLE b (n I)");
  form.AddJob(
      std::make_unique<ActionJob>("a", "CREATE TABLE a (n I)", [&](auto&) { env.app().quit(); }));
  whileOpen(env, form, [&] { form.PushButton3_Click(); });
  EXPECT_EQ(env.endRequests, 1);
  EXPECT_EQ(rows("b"), -1);
  EXPECT_TRUE(messages().isEmpty());
}

TEST_F(FoxproPreview, DiscardingTheWindowDuringARunLeavesTheRunAloneWithIt) {
  auto* form = new Form4;
  form->AppendCommand("CREATE TABLE a (n I)");
  form->AppendCommand("CREATE TABLE b (n I)");
  form->AddJob(
      std::make_unique<ActionJob>("a", "CREATE TABLE a (n I)", [&](auto&) { delete form; }));
  form->PushButton3_Click();
  EXPECT_EQ(rows("a"), 0);
  EXPECT_EQ(rows("b"), -1);
  EXPECT_TRUE(messages().isEmpty());
}

TEST_F(FoxproPreview, PointerShowsTheHourglassThroughoutARun) {
  using State = platform::WindowPointer::State;
  Form4 form;
  form.AppendCommand("CREATE TABLE a (n I)");
  form.AppendCommand("INSERT INTO missing VALUES (1)");  // fails, so the window stays open
  State overButtonDuringRun = State::Normal;
  form.AddJob(std::make_unique<ActionJob>("a", "CREATE TABLE a (n I)", [&](auto&) {
    moveMouse(form.PushButton2);
    overButtonDuringRun = form.pointer().state();
  }));
  State overButtonAfter = State::Wait, overPreviewAfter = State::Wait;
  whileOpen(env, form, [&] {
    form.PushButton3_Click();
    moveMouse(form.PushButton4);
    overButtonAfter = form.pointer().state();
    moveMouse(form.RichTextBox1->viewport());
    overPreviewAfter = form.pointer().state();
  });
  EXPECT_EQ(overButtonDuringRun, State::Wait);
  EXPECT_EQ(overButtonAfter, State::Custom);
  EXPECT_EQ(overPreviewAfter, State::Normal);
}

namespace {

class MySqlPreview : public qmtest::MySqlUiTest {
 protected:
  long long rows(const std::string& table) {
    ado::Connection cn;
    cn.open(connectionString());
    return RowCount(cn, "`" + table + "`");
  }
};

}  // namespace

TEST_F(MySqlPreview, ScriptRunsLineByLineAndStopsAtTheServersRefusal) {
  Form4 form;
  form.m_SendType = 1;
  form.AppendCommand("CREATE TABLE t (n INT)");
  form.AppendCommand("INSERT INTO t VALUES (1)");
  form.AppendCommand("INSERT INTO t VALUES (1");  // a command over two lines fails at its first
  form.AppendCommand(")");
  QString notes;
  whileOpen(env, form, [&] {
    form.PushButton3_Click();
    notes = form.Text1->toPlainText();
  });
  EXPECT_EQ(notes,
            "INSERT INTO t VALUES (1\n" + errorOf(connectionString(), "INSERT INTO t VALUES (1"));
  EXPECT_TRUE(notes.contains("SQL syntax")) << notes.toStdString();
  EXPECT_EQ(rows("t"), 1);

  Form4 second;
  second.m_SendType = 1;
  second.AppendCommand("INSERT INTO t VALUES (2)\r\n\r\nINSERT INTO t VALUES (3)");
  bool visible = true;
  whileOpen(env, second, [&] {
    second.PushButton3_Click();
    visible = second.isVisible();
  });
  EXPECT_FALSE(visible);
  EXPECT_EQ(rows("t"), 3);
  EXPECT_TRUE(transfer::ScriptExecuted());
}

TEST_F(MySqlPreview, UnreachableServerIsReportedInNotes) {
  env.app().connectionFields = [] {
    platform::ConnectionFields f;
    f.server = "127.0.0.1";
    f.port = "1";
    return f;
  };
  Form4 form;
  form.m_SendType = 1;
  whileOpen(env, form, [&] { form.PushButton3_Click(); });
  EXPECT_FALSE(form.Text1->toPlainText().isEmpty());
  ASSERT_EQ(env.dialogs().messages().size(), 1u);
  EXPECT_EQ(env.dialogs().messages()[0].text, "Transfer problem. See Notes.");
}
