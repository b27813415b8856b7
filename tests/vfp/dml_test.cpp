// UPDATE and DELETE: the records the condition names change, every tag stays what a rebuild from
// the records gives, and a change a key refuses changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <set>

#include "support.h"
#include "vfp/cdx_maintainer.h"
#include "vfp/cdx_reader.h"
#include "vfp/database.h"
#include "vfp/session.h"

using vfp::cdx::IndexFile;
using vfptest::errorOf;
using vfptest::TempFolder;

namespace {

// What a rebuild from the records gives, byte for byte, is what the index file holds.
void expectIndexExact(const std::string& table, const std::string& cdx) {
  const IndexFile onDisk = IndexFile::open(cdx);
  EXPECT_TRUE(onDisk.bytes() == vfp::IndexMaintainer::open(table)->build()) << table;
}

struct Row {
  int id;
  bool vNull, dNull, tsNull, ok;
  double amt, f;
  int month, day;
};

Row rowOf(int i) {
  return {i,        i % 7 == 0, i % 11 == 0, i % 5 == 0, i % 2 == 0,
          i * 1.25, i * 0.5,    1 + i % 12,  1 + i % 28};
}

std::string insertOf(const Row& r) {
  char d[32], ts[40];
  std::snprintf(d, sizeof d, "{^2024-%02d-%02d}", r.month, r.day);
  std::snprintf(ts, sizeof ts, "{^2024-%02d-%02d 10:%02d:00}", r.month, r.day, r.id % 60);
  const std::string n = std::to_string(r.id);
  return "INSERT INTO t VALUES (" + n + ", 'name" + n + "', " +
         (r.vNull ? std::string("NULL") : "'v" + n + "'") + ", " + std::to_string(r.amt) + ", " +
         std::to_string(r.f) + ", " + n + ".5, " + std::to_string(r.id % 4) + ", " +
         (r.dNull ? std::string("NULL") : d) + ", " + (r.tsNull ? std::string("NULL") : ts) + ", " +
         (r.ok ? ".T." : ".F.") + ", " + (r.id % 3 ? "'memo " + n + "'" : "NULL") + ")";
}

}  // namespace

// A free table with a field of every type the conditions compare and tags of several shapes
// (a candidate key, a FOR !DELETED() filter, a nullable date, a compound expression): each
// statement changes the records a direct reading of its condition names, the equality on the
// key is answered through the index, and the tags end as a rebuild gives them.
TEST(Dml, ConditionsOfEveryTypeChangeTheirRecordsAndEveryTagStaysExact) {
  TempFolder dir;
  vfp::Session s(vfp::openCatalog(dir.path));
  ASSERT_EQ(errorOf(s,
                    "CREATE TABLE t FREE (id I, name C(12), v V(10) NULL, amt N(9,2), "
                    "f F(10,3), b B, cur Y, d D NULL, ts T NULL, ok L, note M NULL)"),
            "(no error)");
  for (const char* tag : {"INDEX ON id TAG id CANDIDATE", "INDEX ON name TAG name FOR !DELETED()",
                          "INDEX ON d TAG d", "INDEX ON UPPER(name)+STR(amt, 9, 2) TAG mix"})
    ASSERT_EQ(errorOf(s, tag), "(no error)");
  constexpr int kRows = 300;
  std::vector<Row> rows;
  for (int i = 1; i <= kRows; ++i) rows.push_back(rowOf(i));
  for (const Row& r : rows) s.execute(insertOf(r));
  // Statements follow the rows still queued: nothing is flushed in between.
  std::set<int> deleted;
  auto expect = [&](const std::string& sql, const std::function<bool(const Row&)>& holds) {
    std::uint32_t n = 0;
    for (const Row& r : rows)
      if (!deleted.count(r.id) && holds(r)) ++n;
    SCOPED_TRACE(sql);
    s.execute(sql);
    EXPECT_EQ(s.affected(), n);
    if (sql.starts_with("DELETE"))
      for (const Row& r : rows)
        if (holds(r)) deleted.insert(r.id);
  };
  const long long scansBefore = s.tableScans();
  expect("UPDATE t SET name = 'renamed', amt = 0.5, note = 'a longer memo' WHERE id = 17",
         [](const Row& r) { return r.id == 17; });
  EXPECT_EQ(s.indexedSearches(), 1);
  EXPECT_EQ(s.tableScans(), scansBefore);
  rows[16].amt = 0.5;
  expect("DELETE FROM t WHERE v IS NULL", [](const Row& r) { return r.vNull; });
  expect("DELETE FROM t WHERE d >= {^2024-06-01} AND d < {^2024-07-01} AND NOT ok",
         [](const Row& r) { return !r.dNull && r.month == 6 && !r.ok; });
  expect("UPDATE t SET ok = .T., ts = NULL WHERE (amt > 300 OR f <= 5.5) AND cur <> 3",
         [](const Row& r) { return (r.amt > 300 || r.f <= 5.5) && r.id % 4 != 3; });
  expect("DELETE FROM t WHERE ts IS NOT NULL AND ts < {^2024-03-01 12:00:00} AND b != 40.5",
         [](const Row& r) {
           return !r.tsNull && !((r.amt > 300 || r.f <= 5.5) && r.id % 4 != 3) && r.month < 3 &&
                  r.id != 40;
         });
  expect("UPDATE t SET v = 'short' WHERE name = 'name2' AND id == 29",
         [](const Row& r) { return r.id == 29; });
  // Both fields of a compound key pinned: its tag names the record.
  const long long searched = s.indexedSearches(), scanned = s.tableScans();
  expect("UPDATE t SET ok = .F. WHERE amt = 31.25 AND name = 'name25      '",
         [](const Row& r) { return r.id == 25; });
  EXPECT_EQ(s.indexedSearches(), searched + 1);
  EXPECT_EQ(s.tableScans(), scanned);
  expect("DELETE FROM t WHERE d IS NULL OR id = 300",
         [](const Row& r) { return r.dNull || r.id == 300; });
  s.flush();

  expectIndexExact(dir.file("t.dbf"), dir.file("t.cdx"));
  const IndexFile cdx = IndexFile::open(dir.file("t.cdx"));
  std::set<std::uint32_t> live;
  for (const Row& r : rows)
    if (!deleted.count(r.id)) live.insert(std::uint32_t(r.id));  // record number = id
  std::set<std::uint32_t> inName;
  for (const auto& k : cdx.keys(*cdx.findTag("NAME"), ' ')) inName.insert(k.recno);
  EXPECT_EQ(inName, live);
  EXPECT_EQ(cdx.keys(*cdx.findTag("ID"), 0).size(), std::size_t(kRows));  // deleted ones too

  auto q = s.execute("SELECT * FROM t");
  EXPECT_EQ(q->rowCount(), live.size());
  while (q->next()) {
    if (q->value(0).i != 17) continue;
    EXPECT_EQ(q->value(1).s, "renamed");
    EXPECT_EQ(q->value(3).s, "0.50");
    EXPECT_EQ(q->value(10).s, "a longer memo");
  }
  if (!vfptest::independentReadersAvailable()) GTEST_SKIP() << "the Python readers run on Linux";
  TempFolder work;
  const auto lines = vfptest::compareWithReaders({dir.file("t.dbf")}, work.path);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "OK dbfread " + dir.file("t.dbf") + " " + std::to_string(live.size())),
            lines.end())
      << testing::PrintToString(lines);
}

// A container table's primary key: an UPDATE that would give two records one key, directly or
// among the records it changes itself, fails with FoxPro's words and leaves every file as it
// was; a change that keeps the key unique goes through with the index exact.
TEST(Dml, APrimaryKeyStaysUniqueAndARefusedStatementChangesNothing) {
  TempFolder dir;
  vfptest::copyFixtureFolder(vfptest::fixture("VFPX__Samples/Data/products.dbf"), dir.path);
  const auto before = vfptest::folderBytes(dir.path);
  {
    vfp::Session s(vfp::openCatalog(dir.file("testdata.dbc")));
    const std::string violated = "Uniqueness of index PRODUCT_ID is violated";
    EXPECT_NE(errorOf(s, "UPDATE products SET product_id = '     2' WHERE product_id = '     1'")
                  .find(violated),
              std::string::npos);
    EXPECT_NE(errorOf(s,
                      "UPDATE products SET product_id = 'SAME', prod_name = 'x' "
                      "WHERE unit_price > 20")
                  .find(violated),
              std::string::npos);
    EXPECT_NE(errorOf(s, "UPDATE products SET discontinu = .T. WHERE unit_price > {^2024-01-01}")
                  .find("cannot compare"),
              std::string::npos);
  }
  EXPECT_TRUE(vfptest::folderBytes(dir.path) == before);

  vfp::Session s(vfp::openCatalog(dir.file("testdata.dbc")));
  EXPECT_EQ(errorOf(s, "UPDATE products SET product_id = 'NEW1' WHERE product_id = '     1'"),
            "(no error)");
  EXPECT_EQ(s.affected(), 1u);
  EXPECT_EQ(errorOf(s, "DELETE FROM products WHERE product_id = '     2'"), "(no error)");
  // The key a record gave up is free again; the deleted record still holds its own, as in
  // FoxPro.
  EXPECT_EQ(errorOf(s, "UPDATE products SET product_id = '     1' WHERE product_id = '     3'"),
            "(no error)");
  EXPECT_NE(errorOf(s, "INSERT INTO products VALUES ('     2')").find("Uniqueness"),
            std::string::npos);
  EXPECT_EQ(s.indexedSearches(), 3);
  // Recalled, the record is live under its own key again; "in" inside the condition's text is
  // not the table's IN.
  EXPECT_EQ(errorOf(s, "RECALL FOR product_id = '     2' AND prod_name != 'in IN x' IN products"),
            "(no error)");
  EXPECT_EQ(s.affected(), 1u);
  EXPECT_EQ(errorOf(s, "RECALL FOR product_id = '     2' IN products"), "(no error)");
  EXPECT_EQ(s.affected(), 0u);
  expectIndexExact(dir.file("products.dbf"), dir.file("products.cdx"));
}

// Many statements keyed on fields no tag indexes, the way a sync writes them: the table is read
// for the first two on each field and never again, and every statement still changes exactly
// the records a direct reading names, as values move between keys, records come, go and come
// back, and a shorter text matches every code it begins.
TEST(Dml, StatementsKeyedOnUntaggedFieldsReadTheTableOnceAndChangeTheirRecords) {
  TempFolder dir;
  vfp::Session s(vfp::openCatalog(dir.path));
  ASSERT_EQ(errorOf(s, "CREATE TABLE t FREE (id I, code C(6), name V(8) NULL, amt B)"),
            "(no error)");
  struct R {
    int id;
    std::string code;
    bool named, deleted;
    double amt;
  };
  std::vector<R> rows;
  auto code = [](int n) {
    char c[8];
    std::snprintf(c, sizeof c, "c%05d", n);
    return std::string(c);
  };
  auto insert = [&](int id, const std::string& c) {
    rows.push_back({id, c, id % 3 != 0, false, id % 7 == 0 ? -0.0 : id * 0.5});
    const R& r = rows.back();
    s.execute("INSERT INTO t VALUES (" + std::to_string(id) + ", '" + c + "', " +
              (r.named ? "'n" + std::to_string(id % 40) + " '" : std::string("NULL")) + ", " +
              (id % 7 == 0 ? std::string("-0.0") : std::to_string(r.amt)) + ")");
  };
  for (int i = 1; i <= 400; ++i) insert(i, code(i % 350));  // some codes twice
  std::mt19937 random(11);
  const long long scansBefore = s.tableScans();
  int prefixStatements = 0;
  for (int step = 0; step < 600; ++step) {
    const int n = 1 + int(random() % 420);
    const std::string c = code(int(random() % 360));
    std::string sql;
    std::function<bool(const R&)> holds;
    std::function<void(R&)> apply;
    bool live = true;
    switch (random() % 7) {
      case 0:  // the key itself changes
        sql = "UPDATE t SET code = '" + code(n) + "' WHERE code = '" + c + "'";
        holds = [&](const R& r) { return r.code == c; };
        apply = [&](R& r) { r.code = code(n); };
        break;
      case 1:
        sql = "UPDATE t SET amt = " + std::to_string(n) + " WHERE id = " + std::to_string(n);
        holds = [&](const R& r) { return r.id == n; };
        apply = [&](R& r) { r.amt = n; };
        break;
      case 2:
        sql = "DELETE FROM t WHERE code = '" + c + "' AND id > 100";
        holds = [&](const R& r) { return r.code == c && r.id > 100; };
        apply = [](R& r) { r.deleted = true; };
        break;
      case 3:
        sql = "RECALL FOR id = " + std::to_string(n) + " IN t";
        holds = [&](const R& r) { return r.id == n; };
        apply = [](R& r) { r.deleted = false; };
        live = false;
        break;
      case 4:
        sql = "UPDATE t SET amt = 1 WHERE amt = 0";  // -0 is 0
        holds = [](const R& r) { return r.amt == 0; };
        apply = [](R& r) { r.amt = 1; };
        break;
      case 5:  // a shorter text matches every code it begins: no lookup answers it
        sql = "UPDATE t SET amt = 2 WHERE code = '" + c.substr(0, 5) + "'";
        holds = [&](const R& r) { return r.code.starts_with(c.substr(0, 5)); };
        apply = [](R& r) { r.amt = 2; };
        ++prefixStatements;
        break;
      default:
        insert(int(rows.size()) + 1, c);
        continue;
    }
    std::uint32_t expected = 0;
    for (const R& r : rows)
      if (r.deleted != live && holds(r)) ++expected;
    SCOPED_TRACE(sql);
    s.execute(sql);
    ASSERT_EQ(s.affected(), expected);
    for (R& r : rows)
      if (r.deleted != live && holds(r)) apply(r);
  }
  // The first statement on each of code, id and amt reads the table; the second makes its
  // lookup from one more reading.
  EXPECT_EQ(s.tableScans() - scansBefore, 6 + prefixStatements);
  s.flush();
  auto q = s.execute("SELECT * FROM t");
  std::size_t at = 0, live = 0;
  while (q->next()) {
    while (rows[at].deleted) ++at;
    EXPECT_EQ(q->value(0).i, rows[at].id);
    EXPECT_EQ(q->value(1).s, rows[at].code);
    EXPECT_EQ(q->value(3).d, rows[at].amt);
    ++at, ++live;
  }
  EXPECT_EQ(live, std::size_t(std::count_if(rows.begin(), rows.end(),
                                            [](const R& r) { return !r.deleted; })));
}
