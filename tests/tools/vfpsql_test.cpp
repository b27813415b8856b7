// vfpsql as scripts use it: statements from arguments or standard input, CSV out, errors on
// standard error with a failing exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/command_run.h"
#include "support/temp_folder.h"
#include "tools/vfpsql/csv.h"
#include "vfp/codepage.h"

namespace fs = std::filesystem;

namespace {

using qmtest::CommandRun;

CommandRun runVfpsql(const std::vector<std::string>& args, const std::string& input = "") {
  return qmtest::runCommand(qmtest::shellQuote(std::string(QM_BINARY_DIR) + "/tools/vfpsql"), args,
                            input);
}

using qmtest::TempFolder;

}  // namespace

TEST(Vfpsql, RunsStatementsAndPrintsRfc4180Csv) {
  TempFolder dir;
  auto r =
      runVfpsql({dir.path, "CREATE TABLE t (a C(12) NULL, m M, q Q(3), n N(6,2), d D, l L)",
                 "INSERT INTO t VALUES('x,y', 'say \"hi\"'+CHR(13)+CHR(10)+'bye', 0h00FF, 1.5, "
                 "{^2021-08-31}, .T.)",
                 "INSERT INTO t VALUES(NULL, '', 0h, '', {}, .F.)", "SELECT * FROM t", ".tables"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "A,M,Q,N,D,L\r\n"
            "\"x,y\",\"say \"\"hi\"\"\r\nbye\",0h00FF,1.50,2021-08-31,1\r\n"
            ",\"\",0h,,,0\r\n"
            "TABLE_NAME,TABLE_TYPE\r\nt,TABLE\r\n");
  EXPECT_EQ(r.err, "");
}

TEST(Vfpsql, ReadsStandardInputAndStopsAtTheFirstError) {
  TempFolder dir;
  auto r = runVfpsql({dir.path},
                     "CREATE TABLE t (n I)\nINSERT INTO t VALUES(1)\n\nINSERT INTO t VALUES('x')\n"
                     "INSERT INTO t VALUES(3)\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vfpsql: statement 4: Data type mismatch (field N) in table 't.dbf'.\n");
  auto check = runVfpsql({dir.path, "SELECT * FROM t"});
  EXPECT_EQ(check.out, "N\r\n1\r\n");  // the row before the error is kept, nothing after it ran
  auto bad = runVfpsql({dir.path + "/nope"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("Invalid path or file name"), std::string::npos);
  EXPECT_EQ(runVfpsql({}).status, 2);
}

TEST(Vfpsql, WarnsWhenCharactersCouldNotBeStored) {
  TempFolder dir;
  auto r = runVfpsql({dir.path, "CREATE TABLE t (m M)", "INSERT INTO t VALUES('日本')"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("2 character(s)"), std::string::npos) << r.err;
}

TEST(Vfpsql, CsvValuesKeepTheirExactForms) {
  std::string out;
  vfp::Value v;
  v.setDouble(0.1);
  vfpsql::appendCsvValue(out, v);
  out += '|';
  v.setDouble(1e300);
  vfpsql::appendCsvValue(out, v);
  out += '|';
  v.setDateTime({{9999, 12, 31}, 23, 59, 59});
  vfpsql::appendCsvValue(out, v);
  out += '|';
  v.setString(vfp::Value::Kind::Text) = "plain";
  vfpsql::appendCsvValue(out, v);
  EXPECT_EQ(out, "0.1|1e+300|9999-12-31 23:59:59|plain");
}

TEST(Vfpsql, ReadsATableThatNamesNoCodePageInTheJudgedPageOrTheOneNamed) {
  TempFolder dir;
  const std::string text = "Заказ будет отправлен на следующей неделе.";
  ASSERT_EQ(runVfpsql({dir.path, "CREATE TABLE t CODEPAGE = 866 (s C(60))",
                       "INSERT INTO t VALUES('" + text + "')"})
                .status,
            0);
  {
    std::fstream f(dir.path + "/t.dbf", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(29);
    f.put(0);  // the header names no code page
  }
  auto judged = runVfpsql({dir.path, "SELECT * FROM t", "SELECT * FROM t"});
  EXPECT_EQ(judged.status, 0) << judged.err;
  EXPECT_EQ(judged.out, "S\r\n" + text + "\r\nS\r\n" + text + "\r\n");
  // Said once, as the transfer's report says it.
  EXPECT_EQ(judged.err,
            "vfpsql: table t: code page 866 (DOS Cyrillic), judged from the text: the table's "
            "header names none\n");

  auto named = runVfpsql({"--codepage", "1251", dir.path, "SELECT * FROM t"});
  EXPECT_EQ(named.status, 0) << named.err;
  std::string bytes, as1251;
  vfp::converterFor(866)->fromUtf8(text, bytes);
  vfp::converterFor(1251)->toUtf8(bytes, as1251);
  EXPECT_EQ(named.out, "S\r\n" + as1251 + "\r\n");
  EXPECT_EQ(named.err, "");

  auto wrong = runVfpsql({"--codepage", "1257", dir.path, "SELECT * FROM t"});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_EQ(wrong.err, "vfpsql: --codepage 1257 is no code page FoxPro knows\n");
}
