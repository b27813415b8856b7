// Benchmark: typed INSERT lines (every writable field type, literals of each type) executed into
// a new free table through the data-access connection the preview uses, once into a table
// without an index and once into one with a candidate key (the tag a primary key makes) and two
// regular tags, each kept exact as the rows arrive. Prints both rates and their ratio, and
// checks the index holds one key per row.
//
//   bench_vfp_typed_insert [rows=1000000] [folder=/tmp]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "vfp/cdx_reader.h"
#include "vfp/file.h"
#include "vfp/schema.h"

namespace {

const char* kFields =
    "(id I, code C(12), name V(40), note M, amount N(12,2), ratio B, price Y, qty F(8,1), "
    "day D, stamp T NULL, flag L, raw Q(8), pic W, bin C(4) NOCPTRANS";

std::string row(long r) {
  const std::string n = std::to_string(r);
  char day[16];
  std::snprintf(day, sizeof day, "%04ld-%02ld-%02ld", 1990 + r % 30, 1 + r % 12, 1 + r % 28);
  return "(" + n + ", 'C" + std::to_string(r * 7919 % 1000003) + "', 'Customer " +
         std::to_string(r % 977) + "', 'A note, it''s ordinary', " + std::to_string(r % 100000) +
         ".25, " + n + ".5, " + std::to_string(r % 5000) + ".1234, " + std::to_string(r % 999) +
         ".5, {^" + day + "}, " + (r % 10 ? std::string("{^") + day + " 12:34:56}" : "NULL") +
         ", " + (r % 2 ? ".T." : ".F.") + ", 0h0102" + std::to_string(r % 10) +
         "F, 0hCAFE, 0h00FF1020)";
}

double run(const std::string& folder, const std::string& table,
           const std::vector<std::string>& setup, long rows) {
  std::vector<std::string> lines;
  lines.reserve(std::size_t(rows));
  const std::string head = "INSERT INTO [" + folder + "/" + table + ".DBF] VALUES";
  for (long r = 0; r < rows; ++r) lines.push_back(head + row(r));
  ado::Connection c;
  c.open("Provider=vfpoledb.1;Data Source=" + folder + ";Collating Sequence=machine;");
  for (const auto& sql : setup) c.execute(sql);
  const auto t0 = std::chrono::steady_clock::now();
  for (const auto& l : lines) c.execute(l);
  c.close();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  std::string folder = argc > 2 ? argv[2] : "/tmp";
  folder += "/vfp_typed_insert_bench";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);

  const double plain =
      run(folder, "plain", {std::string("CREATE TABLE plain ") + kFields + ")"}, rows);
  std::printf("typed INSERT, no index: %ld rows in %.2f s = %.0f rows/s\n", rows, plain,
              rows / plain);
  // The candidate tag a primary key makes, and two regular tags.
  const double keyed = run(folder, "keyed",
                           {std::string("CREATE TABLE keyed ") + kFields + ", UNIQUE id TAG id)",
                            "INDEX ON UPPER(name) TAG name", "INDEX ON DTOS(day)+code TAG daycode"},
                           rows);
  std::printf(
      "typed INSERT, candidate key and two tags: %ld rows in %.2f s = %.0f rows/s (%.2f of the "
      "rate without an index)\n",
      rows, keyed, rows / keyed, plain / keyed);
  const vfp::TableSchema t = vfp::describeTable(folder + "/keyed.DBF");
  const auto cdx = vfp::cdx::IndexFile::open(*vfp::findCompanion(t.path, ".cdx"));
  for (const auto& tag : cdx.tags()) {
    std::size_t n = 0;
    cdx.forEachKey(tag, 0, [&](const std::string&, std::uint32_t) { ++n; });
    std::printf("tag %s: %zu keys%s\n", tag.name.c_str(), n,
                n == std::size_t(rows) ? "" : " (expected one per row!)");
  }
  std::printf("fields: %zu, tags: %zu\n", t.fields.size(), t.tags.size());
  std::filesystem::remove_all(folder);
  return 0;
}
