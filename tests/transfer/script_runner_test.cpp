// Executing a script without a window, against a temporary folder of FoxPro free tables: how the
// text is cut into commands, what progress is reported, where a failure stops, and when the
// per-table jobs run.
#include "transfer/script_runner.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "support/table_rows.h"
#include "transfer/mysql_to_foxpro.h"
#include "transfer/script_job.h"

using transfer::ExecuteScript;
using transfer::ScriptOutcome;

using testing_support::RowCount;

namespace {

std::string foxproFolder(const QTemporaryDir& dir) {
  return "Provider=vfpoledb.1;Data Source=" + dir.path().toStdString() +
         ";Collating Sequence=general;";
}

// Counts the rows of its table when it runs, so a test sees where in the script it ran.
class CountingJob : public transfer::ScriptJob {
 public:
  CountingJob(std::string table, std::string line)
      : table_(std::move(table)), line_(std::move(line)) {}
  std::string table() const override { return table_; }
  bool runsAfter(const std::string& line) const override { return line == line_; }
  void run(ado::Connection& target, const std::function<void(int)>& progress,
           std::vector<std::string>& notes) override {
    ++runs;
    rowsSeen = RowCount(target, table_);
    progress(50);
    if (!failWith.empty()) throw ado::DataAccessError(failWith);
    notes.push_back("copied " + table_);
  }
  int runs = 0;
  long long rowsSeen = -2;
  std::string failWith;

 private:
  std::string table_;
  std::string line_;
};

class ScriptRunnerTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  std::vector<int> progress;

  ScriptOutcome run(const QString& script, std::vector<transfer::ScriptJob*> jobs = {}) {
    std::string cs = foxproFolder(dir);
    return ExecuteScript(
        script, [cs] { return cs; }, jobs,
        [this](int p) {
          progress.push_back(p);
          return true;
        });
  }
  long long rows(const std::string& table) {
    ado::Connection cn;
    cn.open(foxproFolder(dir));
    return RowCount(cn, table);
  }
};

}  // namespace

TEST(ScriptLines, SplitAtCrLfOnly) {
  transfer::ScriptLines none(QString{});
  EXPECT_EQ(none.size(), 0);
  transfer::ScriptLines lines(QStringLiteral("a\r\nb\rc\nd\r\n\r\n"));
  ASSERT_EQ(lines.size(), 4);
  EXPECT_EQ(lines.line(0), "a");
  EXPECT_EQ(lines.line(1), "b\rc\nd");  // only CR LF separates commands
  EXPECT_EQ(lines.line(2), "");
  EXPECT_EQ(lines.line(3), "");
}

TEST(ScriptLines, ALongScriptIsIndexedInStretchesAndCanBeStopped) {
  // 300,000 lines of 10 characters: about three pauses; the lines are the same either way.
  QString text;
  for (int i = 0; i < 300000; ++i)
    text += QStringLiteral("line%1\r\n").arg(i % 10000, 4, 10, QLatin1Char('0'));
  int pauses = 0;
  transfer::ScriptLines paused(text, [&] { return ++pauses > 0; });
  EXPECT_TRUE(paused.complete());
  EXPECT_GE(pauses, 2);
  EXPECT_LE(pauses, 4);
  ASSERT_EQ(paused.size(), 300001);
  EXPECT_EQ(paused.line(299999), "line9999");
  EXPECT_EQ(paused.line(300000), "");
  transfer::ScriptLines stopped(text, [] { return false; });
  EXPECT_FALSE(stopped.complete());
}

TEST_F(ScriptRunnerTest, EmptyScriptsAndEmptyLinesRunNothingAndFinish) {
  ScriptOutcome empty = run(QString());
  EXPECT_EQ(empty.end, ScriptOutcome::End::Finished);
  EXPECT_TRUE(progress.empty());

  ScriptOutcome blanks = run(QStringLiteral("\r\n\r\n"));
  EXPECT_EQ(blanks.end, ScriptOutcome::End::Finished);
  EXPECT_EQ(blanks.commandsRun, 0);
  EXPECT_EQ(progress, (std::vector<int>{0, 50, 100}));
}

TEST_F(ScriptRunnerTest, OneLineWithoutBreakAndThreeLinesReportProgressBeforeEachLine) {
  ScriptOutcome one = run(QStringLiteral("CREATE TABLE a (n I)"));
  EXPECT_EQ(one.end, ScriptOutcome::End::Finished);
  EXPECT_EQ(one.commandsRun, 1);
  EXPECT_EQ(progress, std::vector<int>{100});
  EXPECT_EQ(rows("a"), 0);

  progress.clear();
  ScriptOutcome three = run(QStringLiteral(
      "INSERT INTO a VALUES (1)\r\nINSERT INTO a VALUES (2)\r\nINSERT INTO a VALUES (3)"));
  EXPECT_EQ(three.end, ScriptOutcome::End::Finished);
  EXPECT_EQ(three.commandsRun, 3);
  EXPECT_EQ(progress, (std::vector<int>{0, 50, 100}));
  EXPECT_EQ(rows("a"), 3);
}

TEST_F(ScriptRunnerTest, FailingLineStopsTheRunAndEarlierLinesStay) {
  ScriptOutcome out = run(QStringLiteral(
      "CREATE TABLE a (n I)\r\nINSERT INTO nowhere VALUES (1)\r\nCREATE TABLE b (n I)\r\n"));
  EXPECT_EQ(out.end, ScriptOutcome::End::Failed);
  EXPECT_TRUE(out.hasFailingLine);
  EXPECT_EQ(out.failingLine, "INSERT INTO nowhere VALUES (1)");
  EXPECT_FALSE(out.error.isEmpty());
  EXPECT_EQ(out.notesText(), out.failingLine + "\r\n" + out.error);
  EXPECT_EQ(rows("a"), 0);
  EXPECT_EQ(rows("b"), -1);
}

TEST_F(ScriptRunnerTest, ConnectionFailureHasNoCurrentLine) {
  auto out = ExecuteScript(
      QStringLiteral("CREATE TABLE a (n I)"),
      [] { return std::string("Provider=vfpoledb.1;Data Source=/no/such/folder;"); }, {},
      [](int) { return true; });
  EXPECT_EQ(out.end, ScriptOutcome::End::Failed);
  EXPECT_FALSE(out.hasFailingLine);
  EXPECT_EQ(out.notesText(), out.error);
  EXPECT_FALSE(out.error.isEmpty());
}

TEST_F(ScriptRunnerTest, JobRunsAfterItsLineAndBeforeTheNext) {
  CountingJob job("a", "CREATE TABLE a (n I)");
  ScriptOutcome out =
      run(QStringLiteral("CREATE TABLE a (n I)\r\nINSERT INTO a VALUES (1)\r\nCREATE TABLE "
                         "a2 (n I)\r\nCREATE TABLE a (n I)"),
          {&job});
  // Its line comes twice: it runs once, after the first.
  EXPECT_EQ(out.end, ScriptOutcome::End::Finished);
  EXPECT_EQ(job.runs, 1);
  EXPECT_EQ(job.rowsSeen, 0);
  EXPECT_EQ(out.notes, QStringList{"copied a"});
  // Its progress lies between the bar values of its line and of the next (0 and 33).
  EXPECT_EQ(progress, (std::vector<int>{0, 16, 33, 66, 100}));
}

TEST_F(ScriptRunnerTest, JobWhoseLineWasRemovedIsNotedAndAFailingJobStopsTheRun) {
  CountingJob gone("gone", "CREATE TABLE gone (n I)");
  CountingJob failing("a", "CREATE TABLE a (n I)");
  failing.failWith = "row 3 refused";
  ScriptOutcome out =
      run(QStringLiteral("CREATE TABLE a (n I)\r\nCREATE TABLE b (n I)"), {&gone, &failing});
  EXPECT_EQ(out.end, ScriptOutcome::End::Failed);
  EXPECT_EQ(out.failingLine, "CREATE TABLE a (n I)");
  EXPECT_TRUE(out.error.contains("row 3 refused")) << out.error.toStdString();
  EXPECT_TRUE(out.error.contains("a")) << out.error.toStdString();
  EXPECT_EQ(rows("b"), -1);

  CountingJob gone2("gone", "CREATE TABLE gone (n I)");
  ScriptOutcome finished = run(QStringLiteral("CREATE TABLE c (n I)"), {&gone2});
  EXPECT_EQ(finished.end, ScriptOutcome::End::Finished);
  EXPECT_EQ(finished.notes, QStringList{transfer::SkippedJobNote("gone")});
  EXPECT_EQ(finished.notesText(), transfer::SkippedJobNote("gone"));
}

TEST_F(ScriptRunnerTest, CharactersOutsideTheCodePageAreCountedInTheNotes) {
  ScriptOutcome out = run(QStringLiteral(
      "CREATE TABLE a (t C(20))\r\nINSERT INTO a VALUES ('caf\u00e9 \u0436\u0437 \u20ac')"));
  EXPECT_EQ(out.end, ScriptOutcome::End::Finished);
  // é and € are in code page 1252, the two Cyrillic letters are not.
  EXPECT_EQ(out.notes, QStringList{transfer::ReplacedCharactersNote(2)});
  EXPECT_TRUE(transfer::ReplacedCharactersNote(2).contains("2 characters"));
}

TEST_F(ScriptRunnerTest, ATableLeftHalfWrittenIsRemovedUnlessItsOldOneIsAlreadyGone) {
  const std::string folder = dir.path().toStdString() + "/";
  const std::string built = folder + "t_qmnew.DBF";
  auto script = [&](const std::string& tail) {
    return QString::fromStdString("CREATE TABLE '" + built + "'([a] M)\r\nINSERT INTO [" + built +
                                  "] VALUES('1')\r\n" + tail);
  };
  auto job = [&] {
    return transfer::HalfWrittenTableJob("t", built, "'" + built + "'", "[" + built + "]", true);
  };
  run("CREATE TABLE t (a M)\r\nINSERT INTO t VALUES('old')");
  // An insertion of the new copy fails: the copy goes, the old table stays.
  auto first = job();
  ScriptOutcome cut =
      run(script("INSERT INTO [" + built + "] VALUES('1', 'one too many')"), {&first});
  EXPECT_EQ(cut.end, ScriptOutcome::End::Failed);
  ASSERT_EQ(cut.notes.size(), 1);
  EXPECT_EQ(cut.notes[0],
            "The new copy of table t was not complete when the run ended: its file t_qmnew.DBF "
            "was removed, and t is as it was.");
  EXPECT_FALSE(QFile::exists(QString::fromStdString(built)));
  EXPECT_EQ(rows("t"), 1);
  // Once the old table is dropped the copy is all there is: a later failure keeps it.
  auto second = job();
  ScriptOutcome late =
      run(script("DROP TABLE [t]\r\nRENAME TABLE [" + built + "] TO [a/b]"), {&second});
  EXPECT_EQ(late.end, ScriptOutcome::End::Failed);
  EXPECT_TRUE(late.notes.isEmpty()) << late.notes.join("\n").toStdString();
  EXPECT_EQ(rows("t_qmnew"), 1);
}
