// Executing a script without a window, against a temporary folder of FoxPro free tables: how the
// text is cut into commands, what progress is reported, where a failure stops, and when the
// per-table jobs run. On MySQL, lines sent several to a command still behave one by one.
#include "transfer/script_runner.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "foxpro_to_mysql_support.h"
#include "support/mysql_sandbox.h"
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

class ScriptRunnerMySql : public qmtest::MySqlDatabaseTest {
 protected:
  std::vector<int> progress;

  ScriptOutcome run(const QStringList& lines, std::vector<transfer::ScriptJob*> jobs = {},
                    const std::function<void()>& waiting = {}) {
    const std::string cs = connectionString();
    progress.clear();
    return ExecuteScript(
        lines.join("\r\n"), [cs] { return cs; }, jobs,
        [this](int p) {
          progress.push_back(p);
          return true;
        },
        waiting);
  }
  std::vector<std::vector<std::string>> rows(const std::string& query) {
    return tomysql_test::MySqlRows(connectionString(), query);
  }
  static QString insert(int id, const QString& value = QStringLiteral("'x'")) {
    return QStringLiteral("INSERT INTO t VALUES (%1, %2)").arg(id).arg(value);
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

TEST_F(ScriptRunnerMySql, ALineFailingInsideABatchEndsTheRunThereWithTheServersOwnMessage) {
  admin("CREATE TABLE t (id INT PRIMARY KEY, v TEXT)");
  const auto waiting = [] {};
  // The line alone, as every line ran before batches: the message to expect.
  const ScriptOutcome alone = run({insert(5)}, {}, waiting);
  ASSERT_EQ(alone.end, ScriptOutcome::End::Finished);
  const ScriptOutcome duplicate = run({insert(5)}, {}, waiting);
  ASSERT_EQ(duplicate.end, ScriptOutcome::End::Failed);

  // The first batch is lines 1 to 1000; the second starts at line 1001, and its 401st fails.
  QStringList script{QStringLiteral("START TRANSACTION")};
  for (int i = 0; i < 1500; ++i) script << insert(i == 1400 ? 5 : 10 + i);
  script << QStringLiteral("COMMIT");
  ScriptOutcome out = run(script, {}, waiting);
  EXPECT_EQ(out.end, ScriptOutcome::End::Failed);
  EXPECT_EQ(out.failingLine, insert(5));
  EXPECT_EQ(out.error, duplicate.error);
  EXPECT_EQ(out.commandsRun, 1401);
  // The transaction stays open on the connection the run closed: nothing was committed.
  EXPECT_EQ(rows("SELECT COUNT(*) FROM t"), (std::vector<std::vector<std::string>>{{"1"}}));

  script.removeAt(1401);
  script.insert(1401, QStringLiteral("INSERT INTO t VALUES (5, 'x') oops"));
  const ScriptOutcome syntaxAlone = run({script[1401]});
  out = run(script);
  EXPECT_EQ(out.failingLine, script[1401]);
  EXPECT_EQ(out.error, syntaxAlone.error);  // not quoting the lines after it
  EXPECT_EQ(out.commandsRun, 1401);

  // Autocommitted: the lines before the failing one stay, the ones after it did not run.
  script.removeFirst();
  script.removeLast();
  script[700] = insert(10);
  out = run(script, {}, waiting);
  EXPECT_EQ(out.failingLine, insert(10));
  EXPECT_EQ(out.error, QString(duplicate.error).replace("'5'", "'10'"));
  EXPECT_EQ(out.commandsRun, 700);
  EXPECT_EQ(rows("SELECT COUNT(*), MAX(id) FROM t"),
            (std::vector<std::vector<std::string>>{{"701", "709"}}));
}

TEST_F(ScriptRunnerMySql, BatchedLinesKeepTheirTextOrderAndStatementBoundaries) {
  admin("CREATE TABLE t (id INT PRIMARY KEY, v TEXT)");
  const QStringList values{
      R"('a;b')",         R"('x # y')", R"('-- z')",       R"('/* c */')",        R"('it''s')",
      R"('back\\slash')", R"('q\'s;')", R"("dq \";\" x")", R"(CONCAT('`', "'"))", R"('\n')"};
  QStringList script;
  for (int i = 0; i < values.size(); ++i) script << insert(i, values[i]);
  script << QStringLiteral("INSERT INTO t (`id`, `v`) VALUES (10, 'named')");
  // A line holding two statements fails as one command and runs neither.
  const QString two = insert(100) + ";" + insert(101);
  script << two << insert(102);
  ScriptOutcome out = run(script, {}, [] {});
  EXPECT_EQ(out.end, ScriptOutcome::End::Failed);
  EXPECT_EQ(out.failingLine, two);
  EXPECT_TRUE(out.error.contains("SQL syntax")) << out.error.toStdString();
  EXPECT_EQ(out.commandsRun, values.size() + 1);
  EXPECT_EQ(rows("SELECT id, v FROM t ORDER BY id"),
            (std::vector<std::vector<std::string>>{{"0", "a;b"},
                                                   {"1", "x # y"},
                                                   {"2", "-- z"},
                                                   {"3", "/* c */"},
                                                   {"4", "it's"},
                                                   {"5", "back\\slash"},
                                                   {"6", "q's;"},
                                                   {"7", "dq \";\" x"},
                                                   {"8", "`'"},
                                                   {"9", "\n"},
                                                   {"10", "named"}}));

  // Batches, a line that is not DML, a line a job claims and the lines after it run in order:
  // the SET sees the three rows before it, the job the five rows up to its own line.
  admin("DELETE FROM t");
  CountingJob job("t", insert(4).toStdString());
  out = run({QStringLiteral("SET @n = 0"), insert(1), QString(), insert(2), insert(3),
             QStringLiteral("SET @n = (SELECT COUNT(*) FROM t)"), insert(10, "@n"), insert(4),
             insert(5), insert(6)},
            {&job});
  EXPECT_EQ(out.end, ScriptOutcome::End::Finished);
  EXPECT_EQ(out.commandsRun, 9);
  EXPECT_EQ(job.runs, 1);
  EXPECT_EQ(job.rowsSeen, 5);
  EXPECT_EQ(rows("SELECT v FROM t WHERE id = 10"), (std::vector<std::vector<std::string>>{{"3"}}));
  EXPECT_EQ(rows("SELECT COUNT(*) FROM t"), (std::vector<std::vector<std::string>>{{"7"}}));
  // Before each line or batch, at its first line; the job's own half step after line 7.
  EXPECT_EQ(progress, (std::vector<int>{0, 11, 55, 66, 77, 83, 88}));
}
