// Benchmark: quillmere-transfer --sync --to-mysql of a 1M-row FoxPro table of which 1% changed
// (half of those rows updated, a quarter new, a quarter deleted), next to the full typed copy
// of the same table in the same run, each timed as a whole process from start to exit with its
// peak memory (the process's own maximum resident size). A second sync right after must find
// nothing.
//
//   source /tmp/<sandbox>/env   # QM_MYSQL_HOST, _PORT, _USER, _PASSWORD, _DATABASE
//   bench_sync_to_mysql [rows=1000000] [folder=/tmp] [tool=<build>/tools/quillmere-transfer]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/bench_tool.h"
#include "vfp/session.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;
using bench::env;
using bench::Run;
using bench::Tool;

// The table's rows; `changed` makes the second version: of every hundredth row, two in four
// take a new name, one in four is gone, and a quarter as many rows as that are new at the end.
void MakeTable(const std::string& folder, long rows, bool changed) {
  fs::remove(folder + "/bench.dbf");
  fs::remove(folder + "/bench.cdx");
  fs::remove(folder + "/bench.fpt");
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(folder));
  s.execute(
      "CREATE TABLE bench (id I, name C(40), city V(80), amount N(12,2), day D, stamp T, qty I, "
      "ratio B, flag L, note M, cost Y, tag V(20) NULL)");
  auto insert = [&](long r, const std::string& name) {
    s.execute("INSERT INTO bench VALUES (" + std::to_string(r) + ", '" + name + "', 'Berlin, " +
              std::to_string(r % 100) + " Unter den Linden', " + std::to_string(r % 100000) +
              ".25, " + (r % 10 ? "{^2021-08-31}" : "{}") + ", {^2021-08-31 12:34:56}, " +
              std::to_string(r % 50) + ", " + std::to_string(r) + ".5, " + (r % 2 ? ".T." : ".F.") +
              ", 'A note, it''s \"quoted\"' + CHR(13) + CHR(10) + 'x', " +
              std::to_string(r % 5000) + ".125, " +
              (r % 5 ? "'tag " + std::to_string(r % 31) + "'" : "NULL") + ")");
  };
  for (long r = 0; r < rows; ++r) {
    std::string name = "Customer " + std::to_string(r % 977);
    if (changed && r % 100 == 0) {
      const long quarter = (r / 100) % 4;
      if (quarter == 3) continue;                              // deleted
      if (quarter < 2) name = "Renamed " + std::to_string(r);  // updated
    }
    insert(r, name);
  }
  if (changed)
    for (long r = rows; r < rows + rows / 400; ++r) insert(r, "New " + std::to_string(r));
  s.execute("INDEX ON id TAG id CANDIDATE");
  s.flush();
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  // No stored settings: everything comes from the command line.
  const bench::ToolBench where(argv[0], argc > 3 ? argv[3] : nullptr, argc > 2 ? argv[2] : "/tmp",
                               "qm-bench-sync");
  const std::string& tool = where.tool;
  const std::string& folder = where.folder;
  const std::vector<std::string> source = {"--foxpro", folder};

  std::printf("making the %ld-row table ...\n", rows);
  std::fflush(stdout);
  MakeTable(folder, rows, false);
  const Run full =
      Tool(tool, {"--to-mysql", "--typed", "--overwrite", "bench", source[0], source[1]},
           folder + "/full.txt");
  std::printf("full typed copy: %.2f s, at most %ld KB, exit status %d\n", full.seconds,
              full.maxRssKb, full.status);
  std::fflush(stdout);

  MakeTable(folder, rows, true);
  const bool ran = bench::SyncTwice(
      tool, {"--sync", "--to-mysql", "--delete", "bench", source[0], source[1]}, folder, full);
  fs::remove_all(folder);
  return ran ? 0 : 1;
}
