// Benchmark: SELECT * FROM a 1,000,000-row free table without memos, every value of every row
// read, through the engine and through a data-access record set; then a table with ten memos.
//
//   bench_vfp_read [rows=1000000] [folder=/tmp]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "vfp/session.h"

namespace {

using clock_type = std::chrono::steady_clock;

void build(const std::string& path, long rows, bool memos) {
  std::vector<vfp::ColumnSpec> cols = {{"id", 'I'},    {"name", 'C', 30}, {"amount", 'N', 12, 2},
                                       {"price", 'Y'}, {"ratio", 'B'},    {"day", 'D'},
                                       {"stamp", 'T'}, {"flag", 'L'},     {"city", 'C', 15}};
  if (memos)
    for (int k = 0; k < 10; ++k) cols.push_back({"m" + std::to_string(k), 'M'});
  auto w = vfp::TableWriter::create(path, cols);
  std::vector<vfp::Value> v(cols.size());
  for (long r = 0; r < rows; ++r) {
    v[0].setInt(r);
    v[1].setString(vfp::Value::Kind::Text) = "Customer number " + std::to_string(r);
    v[2].setString(vfp::Value::Kind::Decimal) = std::to_string(r % 100000) + ".25";
    v[3].setString(vfp::Value::Kind::Decimal) = "12.3456";
    v[4].setDouble(r * 0.5);
    v[5].setDate({2021, 8, 1 + int(r % 28)});
    v[6].setDateTime({{2021, 8, 31}, 12, 34, int(r % 60)});
    v[7].setBool(r % 2);
    v[8].setString(vfp::Value::Kind::Text) = "Berlin";
    for (std::size_t k = 9; k < cols.size(); ++k)
      v[k].setString(vfp::Value::Kind::Text) =
          "A sixty character note about the order, it's quite ordinary";
    w->append(v);
  }
  w->flush();
}

void readEngine(const std::string& folder, const std::string& table, long rows) {
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(folder));
  auto t0 = clock_type::now();
  auto r = s.execute("SELECT * FROM \"" + table + "\"");
  std::size_t bytes = 0;
  long n = 0;
  while (r->next()) {
    for (std::size_t i = 0; i < r->fieldCount(); ++i) bytes += r->value(i).s.size();
    ++n;
  }
  double sec = std::chrono::duration<double>(clock_type::now() - t0).count();
  std::printf("  engine: %ld rows (count %u) in %.2f s = %.0f rows/s [%zu text bytes]\n", n,
              r->rowCount(), sec, n / sec, bytes);
  if (n != rows) std::printf("  WRONG ROW COUNT\n");
}

void readAdo(const std::string& folder, const std::string& table) {
  ado::Connection c;
  c.setCursorLocation(ado::adUseClient);
  c.open("Provider=vfpoledb.1;Data Source=" + folder + ";Collating Sequence=general;");
  auto t0 = clock_type::now();
  ado::RecordSet rs;
  rs.open("SELECT * FROM \"" + table + "\"", c, ado::adOpenStatic, ado::adLockOptimistic);
  long long n = 0, count = rs.recordCount();
  int fields = rs.fieldCount();
  for (; !rs.eof(); rs.moveNext(), ++n)
    for (int i = 0; i < fields; ++i) rs.value(i);
  double sec = std::chrono::duration<double>(clock_type::now() - t0).count();
  std::printf("  data-access record set: %lld rows (count %lld) in %.2f s = %.0f rows/s\n", n,
              count, sec, n / sec);
}

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  std::string folder = std::string(argc > 2 ? argv[2] : "/tmp") + "/vfp_read_bench";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  build(folder + "/plain.dbf", rows, false);
  build(folder + "/memos.dbf", rows, true);
  std::printf("table without memos (%.1f MB):\n",
              std::filesystem::file_size(folder + "/plain.dbf") / 1e6);
  readEngine(folder, "plain", rows);
  readAdo(folder, "plain");
  std::printf("table with ten memo fields:\n");
  readEngine(folder, "memos", rows);
  readAdo(folder, "memos");
  std::filesystem::remove_all(folder);
  return 0;
}
