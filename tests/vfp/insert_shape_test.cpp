// The shortcut for the INSERT lines a transfer writes. The same lines run once with the shortcut
// and once forced through the general parser must leave byte-identical files and give the same
// message for every line; only lines of exactly the transfer's shape may take the shortcut.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support.h"
#include "vfp/error.h"
#include "vfp/session.h"

using namespace vfptest;
namespace fs = std::filesystem;

namespace {

struct Line {
  std::string sql;
  bool shaped;                             // expected to take the shortcut
  std::size_t length = std::string::npos;  // run only this much of sql
};

struct Outcome {
  std::vector<std::string> messages;         // "ok" or the error, one per line
  std::map<std::string, std::string> files;  // every file of the folder afterwards
  long long replaced = 0;
};

Outcome run(const std::string& dir, const std::vector<std::string>& setup,
            const std::vector<Line>& lines, bool fast) {
  for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
  Outcome out;
  {
    vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir));
    s.setFastInsert(fast);
    for (const auto& sql : setup) s.execute(sql);
    for (const auto& l : lines) {
      long long before = s.fastInserts();
      try {
        s.execute(std::string_view(l.sql).substr(0, l.length));
        out.messages.push_back("ok");
      } catch (const vfp::Error& e) {
        out.messages.push_back(e.what());
      }
      EXPECT_EQ(s.fastInserts() - before, fast && l.shaped ? 1 : 0) << l.sql.substr(0, 200);
    }
    s.flush();
    out.replaced = s.charactersReplaced();
  }
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.files[e.path().filename().string()] = readFile(e.path().string());
  return out;
}

void expectSameOutcome(const std::string& dir, const std::vector<std::string>& setup,
                       const std::vector<Line>& lines) {
  Outcome fast = run(dir, setup, lines, true);
  Outcome general = run(dir, setup, lines, false);
  ASSERT_EQ(fast.messages.size(), general.messages.size());
  for (std::size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(fast.messages[i], general.messages[i]) << lines[i].sql.substr(0, 200);
  EXPECT_EQ(fast.replaced, general.replaced);
  ASSERT_EQ(fast.files.size(), general.files.size());
  for (const auto& [name, bytes] : general.files) {
    ASSERT_TRUE(fast.files.count(name)) << name;
    const std::string& other = fast.files[name];
    ASSERT_EQ(other.size(), bytes.size()) << name;
    auto diff = std::mismatch(bytes.begin(), bytes.end(), other.begin());
    EXPECT_TRUE(diff.first == bytes.end())
        << name << " differs at byte " << (diff.first - bytes.begin());
  }
}

}  // namespace

TEST(InsertShape, TransferLinesGiveTheSameFilesAndMessagesThroughEitherPath) {
  TempFolder dir;
  const std::string t = "[" + dir.file("Orders.DBF") + "]";
  // Memos written ahead of a flush in more than one piece.
  const std::string big(700000, 'm'), big2(1500000, 'n');
  std::string tail = "INSERT INTO " + t + " VALUES('31', 'view', '')";
  const std::size_t tailLength = tail.size();
  tail += "\nINSERT INTO " + t + " VALUES('32', 'not this line', '')";
  std::vector<Line> lines = {
      {"INSERT INTO " + t + " VALUES('1', 'it''s', '')", true},
      {"INSERT INTO " + t + " VALUES('2', '''', '''''')", true},
      {"INSERT INTO " + t + " VALUES('3', 'Müller € 中文', 'Müller 中文')", true},
      {"INSERT INTO " + t + " VALUES('4', 'a'+CHR(13)+CHR(10)+'b', '')", true},
      {"INSERT INTO " + t + " VALUES('5', '" + std::string(200, 'x') + "'+'" +
           std::string(200, 'y') + "'+'end', '')",
       true},
      {"INSERT INTO " + t + " VALUES(CHR(10), CHR(13)+'', 'x')", true},
      {"INSERT INTO " + t + " VALUES('7', 'fewer values')", true},
      {"INSERT INTO " + t + " VALUES('8', 'a', 'b', 'one too many')", true},
      {"INSERT INTO [" + dir.file("nothere.dbf") + "] VALUES('1')", true},
      {"INSERT INTO [" + dir.file("no/such/x.dbf") + "] VALUES('1')", true},
      {"INSERT INTO [orders] VALUES('9', 'by its name', '')", true},
      {"INSERT INTO [ORDERS.DBF] VALUES('10', '', '')", true},
      {"INSERT INTO " + t + " VALUES('11', 'a, b), c', ''', ''')", true},
      {"INSERT INTO " + t + " VALUES('12', 'CHR(10)', '+')", true},
      {"INSERT INTO " + t + " VALUES('13', 'tab\there', 'raw\nline')", true},
      {"INSERT INTO " + t + " VALUES('14', '" + big + "', '" + big + "')", true},
      {tail, true, tailLength},
      {"INSERT INTO " + t + " VALUES('15', '" + big2 + "', '')", true},
      // Anything else goes through the general parser.
      {"insert into " + t + " values('20', 'lower case', '')", false},
      {"INSERT INTO " + t + " VALUES('21', 'x', '');", false},
      {"INSERT INTO " + t + " VALUES( '22', 'x', '')", false},
      {"INSERT INTO " + t + " VALUES('23','x','')", false},
      {"INSERT INTO " + t + " VALUES('24', 'a' + 'b', '')", false},
      {"INSERT INTO " + t + "  VALUES('25', 'x', '')", false},
      {"INSERT INTO " + t + " VALUES('26', \"double\", [bracket])", false},
      // Typed literals (bytes, NULL, logicals, numbers) take the shortcut as the typed transfer
      // writes them.
      {"INSERT INTO " + t + " VALUES('27', 'x', 0h414243)", true},
      {"INSERT INTO " + t + " VALUES('28', NULL, '')", true},
      {"INSERT INTO " + t + " VALUES('29', CHR(65), '')", false},
      {"INSERT INTO " + t + " VALUES('30', .T., '')", true},
      {"INSERT INTO " + t + " VALUES(33, 'x', '')", true},
      {"INSERT INTO " + t + " ([id]) VALUES('34')", false},
      {"INSERT INTO " + t + " VALUES('35', 'x', '') && a comment", false},
      {"INSERT INTO " + t + " VALUES('36', 'x', '')\n", false},
      {"INSERT INTO " + t + " VALUES('37', 'unterminated, '')", false},
      {"INSERT INTO " + t + " VALUES('38', 'x', ''))", false},
      {"INSERT INTO " + t + " VALUES('39', 'x', '') ", false},
      {"INSERT INTO " + t + " VALUES()", false},
      {"INSERT INTO " + t + " VALUES('40', 'x', '',)", false},
      {"INSERT INTO " + t + " VALUES('41', 'x'+, '')", false},
      {"INSERT INTO " + t + " VALUES('42', 'x'+CHR(10), '')", true},
      {"INSERT INTO " + t + " VALUES('43', CHR(10 ), '')", false},
      {"INSERT INTO [" + dir.file("we]ird.dbf") + "] VALUES('1')", false},
      {"INSERT INTO [] VALUES('1')", false},
      {"INSERT INTO orders VALUES('44', 'bare name', '')", false},
      {"INSERT INTO [" + dir.file("Orders.DBF") + "]VALUES('45', 'x', '')", false},
  };
  const std::vector<std::string> setup = {"CREATE TABLE '" + dir.file("Orders.DBF") +
                                          "'([id] M,[note] M,[pic] BLOB)"};
  expectSameOutcome(dir.path, setup, lines);

  // The lines did reach the cases they are meant to: rows, refusals and missing tables.
  Outcome o = run(dir.path, setup, lines, true);
  auto has = [&](const std::string& m) {
    return std::find(o.messages.begin(), o.messages.end(), m) != o.messages.end();
  };
  EXPECT_TRUE(has("Field count and value count do not match."));
  EXPECT_TRUE(has("File 'nothere.dbf' does not exist."));
  EXPECT_TRUE(has("Data type mismatch (field ID) in table 'Orders.DBF'."));
  EXPECT_EQ(o.replaced, 2);  // 中文 in the memo; the BLOB keeps its bytes
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  auto r = s.execute("SELECT * FROM orders");
  std::vector<std::string> notes;
  while (r->next()) notes.push_back(r->value(1).s);
  ASSERT_GE(notes.size(), 15u);
  EXPECT_EQ(notes[0], "it's");
  EXPECT_EQ(notes[1], "'");
  EXPECT_EQ(notes[2], "Müller € ??");
  EXPECT_EQ(notes[3], "a\r\nb");
  EXPECT_EQ(notes[9], "a, b), c");
  EXPECT_EQ(notes[12], big);
  EXPECT_EQ(notes[13], "view");
  EXPECT_EQ(notes[14], big2);
}

TEST(InsertShape, TypedFieldsConvertAndRefuseAlikeThroughEitherPath) {
  TempFolder dir;
  const std::string t = "[" + dir.file("typed.dbf") + "]";
  auto line = [&](const std::string& values, bool shaped = true) {
    return Line{"INSERT INTO " + t + " VALUES(" + values + ")", shaped};
  };
  std::vector<Line> lines = {
      line("'abc', '12.5', '42', '2021-08-31', '2021-08-31 12:34:56', 'T', '1.2345', '2.5', "
           "'short', 'memo', 'ab'"),
      line("'toolong', '12345.678', '-7', '', '', '', '', '', 'toolongv', '', ''"),
      line("'x', '1234567.1'"),
      line("'x', 'abc'"),
      line("'x', '1', '99999999999'"),
      line("'x', '1', '1', '2021-02-30'"),
      line("'x', '1', '1', '', '2021-08-31 25:00'"),
      line("'x', '1', '1', '', '', 'maybe'"),
      line("'x', '1', '1', '', '', 'no', 'lots'"),
      line("'ü€中', '', '', '', '', '', '', '1e400'"),
      line("'x', '', '', '', '', '', '', '', 'é', '', 'ÿÿÿÿÿ'"),
      line("'1', '2', '3', '2021-01-01', '', 'Y', '4', '5', '6', '', '', 'twelve'"),
      // Typed literals, as the typed transfer writes them, take the shortcut too; a literal the
      // term reader refuses, or one joined by "+", goes the general way.
      line("'x', 12.5, 42, {^2021-08-31}, {^2021-08-31 12:34:56}, .T., 1.2345, 2.5, 'v', "
           "NULL, 0h0102"),
      line("NULL, -1e-3, -2147483648, {}, {}, .F., -922337203685477.5808, -2.5e-300, '', "
           ".NULL., 0h"),
      line("'x', 1, 2147483648"),
      line("'x', 1, 1, {^2021-02-30}", false),
      line("'x', 1, 1, {^2021-02-03}+'x'", false),
      line("'x', 1, 1, {}, {^2021-08-31 12:34:56}, 1"),
  };
  const std::vector<std::string> setup = {
      "CREATE TABLE '" + dir.file("typed.dbf") +
      "'(c C(5), n N(8,2), i I, d D, t T, l L, y Y, b B, v V(6), m M NULL, q Q(4))"};
  expectSameOutcome(dir.path, setup, lines);

  Outcome o = run(dir.path, setup, lines, true);
  EXPECT_EQ(o.messages[0], "ok");
  EXPECT_EQ(o.messages[1], "ok");
  EXPECT_EQ(o.messages[2], "Numeric overflow. Data was lost (field N) in table 'typed.dbf'.");
  EXPECT_EQ(o.messages[3], "Data type mismatch (field N) in table 'typed.dbf'.");
  EXPECT_EQ(o.messages[11], "Field count and value count do not match.");
  EXPECT_EQ(o.messages[12], "ok");
  EXPECT_EQ(o.messages[13], "Field C does not accept null values in table 'typed.dbf'.");
  EXPECT_EQ(o.messages[14], "Numeric overflow. Data was lost (field I) in table 'typed.dbf'.");
  EXPECT_EQ(o.messages[15], "Date/Datetime evaluated to an invalid value.");
}

TEST(InsertShape, TextOfMixedScriptsConvertsPieceByPiece) {
  // ASCII runs are copied whole; the characters between them still go through the code page.
  TempFolder dir;
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  s.execute("CREATE TABLE cyr CODEPAGE = 1251 ([m] M, [c] C(30))");
  s.execute("CREATE TABLE han CODEPAGE = 936 ([m] M, [c] C(30))");
  const std::string mixed = "order 17: Привет, мир! and 12345678 more ASCII";
  const std::string han = "abcdefgh中文ijklmnop的";
  s.execute("INSERT INTO [cyr] VALUES('" + mixed + "', 'Ж" + std::string(9, 'a') + "ЖЖ')");
  s.execute("INSERT INTO [han] VALUES('" + han + "', '" + han + "😀')");
  EXPECT_EQ(s.charactersReplaced(), 1);  // code page 936 has no emoji
  for (auto [table, memo, chars] :
       {std::tuple{"cyr", mixed, "Ж" + std::string(9, 'a') + "ЖЖ"}, {"han", han, han + "?"}}) {
    auto r = s.execute(std::string("SELECT * FROM ") + table);
    ASSERT_TRUE(r->next());
    EXPECT_EQ(r->value(0).s, memo);
    EXPECT_EQ(r->value(1).s, chars);
  }
}
