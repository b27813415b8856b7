// The copy's rows read straight from the FoxPro record bytes must give the very lines and values
// the record set gives: odd stored numbers, nulls, blank and broken dates, memos full of
// separators, deleted records. And a stored number already in its canonical form is handed out
// as the general parse and format would make it.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "foxpro_to_mysql_support.h"
#include "transfer/local_load.h"
#include "vfp/convert.h"
#include "vfp/table.h"

using namespace tomysql_test;

namespace {

// Overwrites the bytes of one field of one record in the .dbf (or the deletion flag, field "").
void Patch(const std::string& dbf, std::uint32_t recno, const std::string& field,
           const std::string& bytes) {
  std::uint64_t at;
  {
    vfp::Table t(dbf);
    at = t.header().recordOffset(recno);
    if (!field.empty()) {
      const vfp::FieldDescriptor* f = nullptr;
      for (const auto& d : t.header().fields)
        if (d.name == field) f = &d;
      ASSERT_NE(f, nullptr) << field;
      ASSERT_EQ(bytes.size(), f->length) << field;
      at += f->offset;
    }
  }
  std::fstream out(dbf, std::ios::in | std::ios::out | std::ios::binary);
  out.seekp(std::streamoff(at));
  out.write(bytes.data(), std::streamsize(bytes.size()));
  ASSERT_TRUE(out.good());
}

struct Drawn {
  std::string text;
  std::vector<std::vector<ado::Value>> chunks;
};

// Every row through one kind of source, in chunks of `perChunk` rows.
Drawn DrawAll(const std::string& folder, const std::string& table, bool general, int perChunk) {
  ado::Connection c;
  c.setCursorLocation(ado::adUseClient);
  c.open(FolderConnection(folder));
  ado::RecordSet rs;
  rs.open("SELECT * FROM \"" + table + "\"", c);
  long long key = 5;
  auto rows = transfer::LoadRowsOf(rs, key, general);
  Drawn d;
  for (bool more = true; more;) {
    rows->newChunk();
    int n = 0;
    while (n < perChunk && (more = rows->next(&d.text))) ++n;
    d.chunks.emplace_back();
    rows->chunkRows(d.chunks.back());
  }
  return d;
}

TEST(LoadLine, RecordBytesGiveTheLinesAndValuesOfTheRecordSet) {
  TempFolder dir;
  std::vector<std::string> statements = {
      "CREATE TABLE odd (n N(10,2) NULL, f F(8,3), w N(5,0), i I, b B, y Y, d D NULL, t T NULL, "
      "l L, c C(6) NULL, v V(12), m M, cb C(2) NOCPTRANS)"};
  for (int r = 0; r < 40; ++r)
    statements.push_back(
        "INSERT INTO odd VALUES ('" + std::to_string(r * 7 - 100) + ".25', '-" + std::to_string(r) +
        ".5', " + std::to_string(r) + ", " + std::to_string(r - 20) + ", " + std::to_string(r) +
        ".125, '" + std::to_string(r) + ".0001', " + (r % 3 ? "{^2021-08-31}" : "NULL") + ", " +
        (r % 4 ? "{^2000-02-29 23:59:59}" : "{}") + ", .T., " +
        (r % 5 ? "'é" + std::to_string(r) + "'" : "NULL") + ", 'v\\" + std::to_string(r) +
        "', 'tab' + CHR(9) + 'back\\slash' + CHR(13) + CHR(10) + "
        "'end' + CHR(0) + 'x', 0h0A09)");
  Fox(dir.path, statements);
  const std::string dbf = dir.path + "/odd.dbf";
  // Stored numbers as other programs (and FoxPro on overflow) leave them.
  const char* const odd[] = {"          ", "**********", "     -0.00", "  -12.50  ", "    1.5e3 ",
                             "1.25E+02  ", "    +12.50", "    012.50", "      -.50", "        5.",
                             "    12.5  ", "        -0", "   abc    ", "  12.50...", "     0.000",
                             "  -0000.01", "1234567.89", "        .5", "    -5e-2 ", "     1 2  "};
  for (std::uint32_t r = 0; r < std::size(odd); ++r) Patch(dbf, r, "N", std::string(odd[r], 10));
  Patch(dbf, 13, "N", std::string("  12.50\0\0\0", 10));
  Patch(dbf, 0, "W", "  -0 ");
  Patch(dbf, 1, "W", "*****");
  Patch(dbf, 2, "F", "  1.5E+2");
  Patch(dbf, 3, "D", "        ");
  Patch(dbf, 4, "D", "20210231");
  Patch(dbf, 5, "D", " 2021083");
  Patch(dbf, 6, "D", std::string(8, '\0'));
  Patch(dbf, 7, "T", std::string(8, '\0'));
  Patch(dbf, 8, "", "*");  // deleted: left out by both
  Patch(dbf, 9, "C", std::string("  a  \0", 6));

  const Drawn general = DrawAll(dir.path, "odd", true, 7);
  const Drawn direct = DrawAll(dir.path, "odd", false, 7);
  EXPECT_EQ(direct.text, general.text);
  ASSERT_EQ(direct.chunks.size(), general.chunks.size());
  for (std::size_t k = 0; k < direct.chunks.size(); ++k) {
    ASSERT_EQ(direct.chunks[k].size(), general.chunks[k].size()) << "chunk " << k;
    for (std::size_t v = 0; v < direct.chunks[k].size(); ++v)
      EXPECT_TRUE(direct.chunks[k][v] == general.chunks[k][v])
          << "chunk " << k << " value " << v << ": " << Canonical(direct.chunks[k][v]) << " vs "
          << Canonical(general.chunks[k][v]);
  }
  // 39 live rows, keys from 5; the line of each row is the AppendLoadLine of its values.
  std::size_t rows = 0;
  std::string again;
  for (const auto& chunk : general.chunks) {
    rows += chunk.size() / 14;
    for (std::size_t at = 0; at < chunk.size(); at += 14)
      transfer::AppendLoadLine(again, chunk.data() + at, 14);
  }
  EXPECT_EQ(rows, 39u);
  EXPECT_EQ(again, direct.text);
  // Fields spelled out: odd numbers, blank and bad dates, separators escaped.
  std::vector<std::vector<std::string>> lines;
  for (std::size_t from = 0, to; (to = direct.text.find('\n', from)) != std::string::npos;
       from = to + 1) {
    lines.emplace_back();
    const std::string line = direct.text.substr(from, to - from);
    for (std::size_t a = 0, b;; a = b + 1) {
      b = line.find('\t', a);
      lines.back().push_back(line.substr(a, b == std::string::npos ? b : b - a));
      if (b == std::string::npos) break;
    }
    ASSERT_EQ(lines.back().size(), 14u) << line;
  }
  ASSERT_EQ(lines.size(), 39u);
  // key, n, f, w, ..., d, t, ..., c
  auto pick = [&](std::size_t line, std::initializer_list<std::size_t> columns) {
    std::vector<std::string> out;
    for (auto k : columns) out.push_back(lines[line][k]);
    return out;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(pick(0, {0, 1, 2, 3}), (V{"5", "\\N", "-0.500", "0"}));
  EXPECT_EQ(pick(1, {0, 1, 2, 3}), (V{"6", "\\N", "-1.500", "\\N"}));
  EXPECT_EQ(pick(2, {1, 2, 3}), (V{"0.00", "150", "2"}));
  EXPECT_EQ(pick(3, {1, 7, 8}), (V{"-12.50", "\\N", "2000-02-29 23:59:59"}));
  EXPECT_EQ(pick(4, {1, 7, 8}), (V{"1500", "\\N", "\\N"}));
  EXPECT_EQ(pick(5, {1, 7}), (V{"125", "\\N"}));
  EXPECT_EQ(pick(6, {1, 7}), (V{"12.50", "\\N"}));
  EXPECT_EQ(pick(7, {1, 7, 8}), (V{"12.50", "2021-08-31", "\\N"}));
  EXPECT_EQ(pick(8, {0, 1, 10}), (V{"13", "5", "  a"}));  // record 9: 8 is deleted
  EXPECT_EQ(pick(9, {1}), (V{"12.5"}));
  EXPECT_EQ(pick(10, {1}), (V{"0"}));
  EXPECT_EQ(pick(11, {1}), (V{"\\N"}));
  EXPECT_EQ(pick(12, {1}), (V{"12.50"}));
  EXPECT_EQ(pick(13, {1, 10}), (V{"0.000", "é14"}));
  EXPECT_EQ(pick(1, {5, 6, 9, 11, 12, 13}),
            (V{"1.125", "1.0001", "\x01", "v\\\\1", "tab\\tback\\\\slash\\r\\nend\\0x", "\\n\\t"}));
}

// The canonical form is what parse-and-format gives back; anything else takes that road.
TEST(LoadLine, StoredNumbersComeOutAsTheGeneralParseMakesThem) {
  auto general = [](std::string_view field) -> std::optional<std::string> {
    std::string_view t = field;
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\0'))
      t.remove_suffix(1);
    auto d = vfp::parseDecimal(t);
    if (t.empty() || !d) return std::nullopt;
    const auto dot = t.find('.');
    const bool exp = t.find_first_of("eE") != std::string_view::npos;
    return vfp::formatDecimal(*d, (dot == std::string_view::npos || exp) ? int(d->fraction.size())
                                                                         : int(t.size() - dot - 1));
  };
  EXPECT_EQ(vfp::normalizeStoredNumber("   -12.50"), "-12.50");
  EXPECT_EQ(vfp::normalizeStoredNumber("  -0.00"), "0.00");
  EXPECT_EQ(vfp::normalizeStoredNumber(" 007"), "7");
  EXPECT_EQ(vfp::normalizeStoredNumber("  -.5"), "-0.5");
  EXPECT_EQ(vfp::normalizeStoredNumber("  5."), "5");
  EXPECT_EQ(vfp::normalizeStoredNumber("*****"), std::nullopt);
  EXPECT_EQ(vfp::normalizeStoredNumber("     "), std::nullopt);
  std::mt19937 random(13);
  const std::string alphabet = "0000123456789-+.. eE*";
  for (int n = 0; n < 200000; ++n) {
    std::string field(1 + random() % 9, ' ');
    for (auto& c : field) c = alphabet[random() % alphabet.size()];
    ASSERT_EQ(vfp::normalizeStoredNumber(field), general(field)) << '"' << field << '"';
  }
}

// Text is escaped eight bytes at a time where nothing needs it: every byte that needs it is
// found wherever it falls, among bytes close to them in value.
TEST(LoadLine, EveryByteThatNeedsEscapingIsFoundAtAnyPosition) {
  auto reference = [](const std::string& s) {
    std::string out;
    for (char c : s) {
      switch (c) {
        case '\\':
          out += "\\\\";
          break;
        case '\t':
          out += "\\t";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\0':
          out += "\\0";
          break;
        default:
          out += c;
      }
    }
    return out + "\n";
  };
  const std::string alphabet("ab\\\t\n\r\x0b\x0c\x0e\x1f[]]\x5b\x5d\x80\xdc\xff\0", 20);
  std::mt19937 random(7);
  for (int n = 0; n < 50000; ++n) {
    std::string s(random() % 40, 'x');
    for (auto& c : s)
      if (random() % 4 == 0) c = alphabet[random() % alphabet.size()];
    const ado::Value v = ado::Value::fromText(s);
    std::string line;
    transfer::AppendLoadLine(line, &v, 1);
    ASSERT_EQ(line, reference(s)) << n;
  }
}

}  // namespace
