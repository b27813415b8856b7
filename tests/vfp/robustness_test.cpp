// Damaged files, nonsense SQL and a write killed half-way: clear errors, never a crash, and a
// table that still opens with the rows written before.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "support.h"
#include "vfp/cdx_maintainer.h"
#include "vfp/cdx_reader.h"
#include "vfp/error.h"
#include "vfp/session.h"

using namespace vfptest;
namespace fs = std::filesystem;

namespace {

void writeFile(const std::string& path, const std::string& bytes) {
  // Removed first: truncating a file in place makes some file systems write it out at once.
  std::remove(path.c_str());
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), std::streamsize(bytes.size()));
}

// Opens and reads every value; only vfp::Error may come out.
void readEverything(const std::string& path) {
  try {
    vfp::Table t(path);
    vfp::RecordScanner scan(t);
    vfp::Value v;
    while (const auto* r = scan.next())
      for (int i : t.userFields()) t.decodeField(r, std::size_t(i), v);
    vfp::QueryResult q(path);
    while (q.next())
      for (std::size_t i = 0; i < q.fieldCount(); ++i) q.value(i);
  } catch (const vfp::Error&) {
    // A clear refusal is what damaged input should get.
  }
}

// One damaged copy: cut short, bytes flipped (mostly in the header), or a run of 0xFF/0x00.
std::string mutate(const std::string& in, std::mt19937& rng, std::size_t headerBias) {
  std::string s = in;
  switch (rng() % 4) {
    case 0:
      s.resize(rng() % (s.size() + 1));
      break;
    case 1:
      for (int k = 0, n = 1 + int(rng() % 4); k < n && !s.empty(); ++k) {
        std::size_t at = (rng() % 3 != 0 && headerBias > 0) ? rng() % std::min(headerBias, s.size())
                                                            : rng() % s.size();
        s[at] = char(s[at] ^ (1 << (rng() % 8)));
      }
      break;
    case 2:
      if (!s.empty()) {
        std::size_t at = rng() % std::min(headerBias ? headerBias : s.size(), s.size());
        std::size_t len = std::min<std::size_t>(1 + rng() % 8, s.size() - at);
        std::fill_n(s.begin() + std::ptrdiff_t(at), len, char(rng() % 2 ? 0xFF : 0x00));
      }
      break;
    default:
      if (!s.empty()) s[rng() % s.size()] = char(rng());
      break;
  }
  return s;
}

// A child process writes to the table at path and dies at flush step `step`, as a killed program
// would: no cleanup, nothing flushed after.
void DieAtFlushStep(const std::string& path, int step,
                    const std::function<void(vfp::TableWriter&)>& write) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    auto w = vfp::TableWriter::openForAppend(path);
    write(*w);
    w->beforeFlushStep = [step](int s) {
      if (s == step) _exit(0);
    };
    w->flush();
    _exit(3);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace

TEST(Robustness, DamagedTablesAndMemoFilesGiveErrorsNotCrashes) {
  // Small tables covering VFP (nulls, varchar, blobs, autoinc), FoxPro 2.x, dBase III/IV memos.
  const char* tables[] = {"fdbozzo__foxbin2prg/TESTS/DATOS_READONLY/fb2p_free.dbf",
                          "SebastiaanKlippert__go-foxpro-dbf/testdata/TEST.DBF",
                          "VFPX__Samples/Northwind/categories.dbf",
                          "infused__dbf/spec/fixtures/dbase_83.dbf",
                          "infused__dbf/spec/fixtures/dbase_8b.dbf",
                          "luads__php-xbase/tests/Resources/foxpro/pr90.dbf",
                          "yortus__DBFFile/test/fixtures/vfp9_memo_bs1.dbf",
                          "albfernandez__javadbf/src/test/resources/gbk.dbf",
                          "albfernandez__javadbf/src/test/resources/bug93_null_field/testfile.dbf"};
  std::mt19937 rng(20210831);
  int runs = 0;
  for (const char* rel : tables) {
    SCOPED_TRACE(rel);
    TempFolder dir;
    std::string src = fixture(rel);
    std::string name = fs::path(src).filename().string();
    std::string dbf = readFile(src);
    std::optional<std::string> memoSrc = vfp::findCompanion(src, ".fpt");
    if (!memoSrc) memoSrc = vfp::findCompanion(src, ".dbt");
    std::string memo = memoSrc ? readFile(*memoSrc) : "";
    std::string memoName = memoSrc ? fs::path(*memoSrc).filename().string() : "";
    vfp::Table original(src);
    for (int k = 0; k < 300; ++k, ++runs) {
      bool damageMemo = memoSrc && k % 3 == 2;
      writeFile(dir.file(name),
                damageMemo ? dbf : mutate(dbf, rng, original.header().headerLength));
      if (memoSrc) writeFile(dir.file(memoName), damageMemo ? mutate(memo, rng, 600) : memo);
      ASSERT_NO_FATAL_FAILURE(readEverything(dir.file(name))) << "mutation " << k;
    }
  }
  EXPECT_EQ(runs, 9 * 300);
}

// Inputs that once crashed or misbehaved, kept as regression cases.
TEST(Robustness, KnownBadHeadersAreRefusedClearly) {
  TempFolder dir;
  std::string good = readFile(fixture("SebastiaanKlippert__go-foxpro-dbf/testdata/dkeza.dbf"));
  struct Case {
    const char* what;
    std::size_t at;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"record length smaller than the fields", 10, std::string("\x05\x00", 2),
       "lies outside the record"},
      {"header length below the descriptors", 8, std::string("\x10\x00", 2), "corrupt header"},
      {"count past the end of the file", 4, std::string("\xFF\xFF\x00\x00", 4), "holds 1"},
      {"dBase 7 version byte", 0, std::string("\x04", 1), "dBase 7"},
      {"unknown version byte", 0, std::string("\x77", 1), "not a table"},
  };
  for (const auto& c : cases) {
    std::string bad = good;
    bad.replace(c.at, c.bytes.size(), c.bytes);
    writeFile(dir.file("bad.dbf"), bad);
    try {
      vfp::Table t(dir.file("bad.dbf"));
      ADD_FAILURE() << c.what << " was accepted";
    } catch (const vfp::Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.what << ": " << e.what();
    }
  }
  writeFile(dir.file("empty.dbf"), "");
  EXPECT_THROW(vfp::Table(dir.file("empty.dbf")), vfp::Error);
}

TEST(Robustness, NonsenseSqlGetsAClearErrorAndNeverCrashes) {
  TempFolder dir;
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  s.execute("CREATE TABLE t (c C(10) NULL, n N(8,2), m M, w W, d D, l L)");
  const std::string samples[] = {
      "CREATE TABLE 'x.DBF'([id] M,[note] M,[pic] BLOB)",
      "INSERT INTO [t] VALUES('it''s'+'a'+CHR(13), '12.5', 'memo', 0hCAFE, {^2021-08-31}, .T.)",
      "INSERT INTO t VALUES(NULL, -1, '', 0h, {}, .F.)",
      "DROP TABLE `x`",
      "SELECT * FROM \"t\"",
      "CREATE TABLE y (a N(5,2) NOT NULL, b I AUTOINC NEXTVALUE 3 STEP 2, c V(4) NOCPTRANS)",
  };
  // Names stay inside the test folder: no separators are ever inserted.
  const std::string alphabet = "'\"[]`(),+-.{}^0123456789hHnNuUlLTFx *;\t\r\n";
  std::mt19937 rng(4180);
  int errors = 0, runs = 0;
  for (int k = 0; k < 4000; ++k, ++runs) {
    std::string q = samples[rng() % std::size(samples)];
    for (int m = 0, n = 1 + int(rng() % 3); m < n; ++m) {
      std::size_t at = rng() % (q.size() + 1);
      switch (rng() % 3) {
        case 0:
          q.insert(at, 1, alphabet[rng() % alphabet.size()]);
          break;
        case 1:
          if (at < q.size()) q.erase(at, 1 + rng() % 4);
          break;
        default:
          if (at < q.size()) q[at] = alphabet[rng() % alphabet.size()];
          break;
      }
    }
    if (q.find_first_of("/\\") != std::string::npos) continue;
    try {
      s.execute(q);
    } catch (const vfp::Error& e) {
      ++errors;
      EXPECT_FALSE(std::string(e.what()).empty());
    }
  }
  EXPECT_GT(errors, runs / 4);
  const char* plain[] = {"",
                         "   ",
                         ";",
                         "SELECT",
                         "SELECT * FROM",
                         "INSERT INTO t VALUES(",
                         "CREATE TABLE t2 (",
                         "DROP TABLE",
                         "UPDATE t SET c = 'x' WHERE",
                         "DELETE FROM t WHERE (c = 'x'",
                         "bonjour",
                         "INSERT INTO t VALUES('a'')",
                         "INSERT INTO t VALUES({^2021-13-01}, 0, '', 0h, {}, .F.)"};
  for (const char* q : plain) EXPECT_THROW(s.execute(q), vfp::Error) << q;
}

TEST(Robustness, ATableKilledAtEachWriteStepOpensWithTheRowsWrittenBefore) {
  for (int step = 1; step <= 4; ++step) {
    SCOPED_TRACE(step);
    TempFolder dir;
    std::string path = dir.file("crash.dbf");
    auto row = [](int n) {
      std::vector<vfp::Value> v(2);
      v[0].setString(vfp::Value::Kind::Text) = std::to_string(n);
      // The rows a killed run adds carry memos large enough to be written ahead of the flush.
      v[1].setString(vfp::Value::Kind::Text) =
          "memo of row " + std::to_string(n) + std::string(n >= 4 ? 600000 : 100, 'x');
      return v;
    };
    {
      auto w = vfp::TableWriter::create(path, {{"n", 'N', 5}, {"m", 'M'}});
      for (int n = 1; n <= 3; ++n) w->append(row(n));
      w->flush();
    }
    DieAtFlushStep(path, step, [&](vfp::TableWriter& w) {
      for (int n = 4; n <= 5; ++n) w.append(row(n));
    });
    std::size_t expected =
        step <= 3 ? 3 : 5;  // the count is the last thing that makes rows visible
    auto check = [&](std::size_t rows) {
      vfp::Table t(path);
      ASSERT_EQ(t.countLiveRecords(), rows);
      vfp::RecordScanner scan(t);
      vfp::Value v;
      for (std::size_t n = 1; n <= rows; ++n) {
        const auto* r = scan.nextLive();
        t.decodeField(r, 1, v);
        EXPECT_EQ(v.s, row(int(n))[1].s);
      }
    };
    check(expected);
    // Writing goes on from there without damaging what is in the file.
    {
      auto w = vfp::TableWriter::openForAppend(path);
      w->append(row(int(expected) + 1));
      w->flush();
    }
    check(expected + 1);
  }
}

// Records changed in place go to the file with the index: a kill before leaves the old records
// and index, after the new ones; within (step 3: the changed records written, the new index
// complete beside the old) NAME.cdx.new is left, and the next write computes every key again
// from the records and replaces both.
TEST(Robustness, AnIndexedTableKilledAtEachWriteStepKeepsRecordsAndIndexTogether) {
  for (int step = 1; step <= 4; ++step) {
    SCOPED_TRACE(step);
    TempFolder dir;
    const std::string path = dir.file("t.dbf"), cdx = dir.file("t.cdx");
    {
      vfp::Session s(vfp::openCatalog(dir.path));
      s.execute("CREATE TABLE t FREE (n I, c C(6), m M)");
      s.execute("INDEX ON c TAG c CANDIDATE");
      for (int n = 1; n <= 5; ++n)
        s.execute("INSERT INTO t VALUES (" + std::to_string(n) + ", 'old" + std::to_string(n) +
                  "', 'memo')");
    }
    auto indexExact = [&] {
      return vfp::cdx::IndexFile::open(cdx).bytes() == vfp::IndexMaintainer::open(path)->build();
    };
    auto code = [&](std::uint32_t recno) {
      vfp::Table t(path);
      std::vector<std::uint8_t> rec(t.header().recordLength);
      t.readRecord(recno, rec.data());
      vfp::Value v;
      t.decodeField(rec.data(), std::size_t(t.userFields()[1]), v);
      return v.s;
    };
    // Two keys swapped through a third, memos changed, a record deleted, one appended.
    DieAtFlushStep(path, step, [&](vfp::TableWriter& w) {
      auto set = [&](std::uint32_t recno, const std::string& c) {
        std::vector<std::pair<std::size_t, vfp::Value>> v(2);
        v[0].first = 1;
        v[0].second.setString(vfp::Value::Kind::Text) = c;
        v[1].first = 2;
        v[1].second.setString(vfp::Value::Kind::Text) = c + " memo";
        const std::uint32_t r[] = {recno};
        w.update(r, v);
      };
      set(0, "tmp");
      set(1, "old1");
      set(0, "old2");
      const std::uint32_t gone[] = {3};
      w.markDeleted(gone);
      std::vector<vfp::Value> row(2);
      row[0].setInt(6);
      row[1].setString(vfp::Value::Kind::Text) = "new6";
      w.append(row);
    });
    EXPECT_EQ(vfp::Table(path).recordCount(), step <= 3 ? 5u : 6u);
    EXPECT_EQ(code(0), step <= 2 ? "old1" : "old2");
    EXPECT_EQ(fs::exists(cdx + ".new"), step == 3);
    EXPECT_EQ(indexExact(), step != 3);
    {
      auto w = vfp::TableWriter::openForAppend(path);
      std::vector<vfp::Value> row(1);
      row[0].setInt(7);
      w->append(row);
      w->flush();
    }
    EXPECT_FALSE(fs::exists(cdx + ".new"));
    EXPECT_TRUE(indexExact());
  }
}
