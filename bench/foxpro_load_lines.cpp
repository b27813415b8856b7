// Benchmark: the client's share of the FoxPro -> MySQL row copy, without a server: the rows of
// the copy benchmark's table turned into LOAD DATA lines, once straight from the record bytes
// (as the copy does) and once through the record set's values (the general path). Reports the
// process's CPU time per row, which the load of other programs on the machine hardly changes.
//
//   bench_foxpro_load_lines [rows=1000000] [folder=/tmp] [rounds=2] [only-the-copy's-path=0]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/typical_foxpro_table.h"
#include "ado/dataaccess.h"
#include "transfer/local_load.h"
#include "vfp/database.h"

namespace {

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The table of bench_foxpro_to_mysql.

// Draws every row as the load does, a 4 MB chunk of text at a time.
void run(const std::string& fox, bool general, long rows) {
  ado::Connection source;
  source.setCursorLocation(ado::adUseClient);
  source.open(fox);
  ado::RecordSet rs;
  rs.open("SELECT * FROM \"bench\"", source);
  long long key = 0;
  auto lines = transfer::LoadRowsOf(rs, key, general);
  std::string text;
  std::size_t bytes = 0;
  const double cpu0 = cpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  lines->newChunk();
  while (lines->next(&text)) {
    if (text.size() >= (4u << 20)) {
      bytes += text.size();
      text.clear();
      lines->newChunk();
    }
  }
  bytes += text.size();
  const double cpu = cpuSeconds() - cpu0;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%-28s %lld rows, %.1f MB of text: CPU %.2f s = %.0f ns/row (wall %.2f s)\n",
              general ? "through values (general):" : "from record bytes (copy):", key,
              double(bytes) / 1e6, cpu, cpu * 1e9 / double(rows), wall);
}

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  std::string folder = std::string(argc > 2 ? argv[2] : "/tmp") + "/foxpro_load_lines_bench";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  bench::MakeTypicalFoxproTable(folder, rows);
  const std::string fox = "Provider=vfpoledb.1;Data Source=" + folder + ";";
  const int rounds = argc > 3 ? std::stoi(argv[3]) : 2;
  const bool copyOnly = argc > 4 && std::stoi(argv[4]) != 0;
  for (int round = 0; round < rounds; ++round) {
    if (!copyOnly) run(fox, true, rows);
    run(fox, false, rows);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
