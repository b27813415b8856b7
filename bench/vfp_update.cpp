// Benchmark: the statements a sync sends to a FoxPro table, one per changed row keyed by the
// primary key (half UPDATE, a quarter DELETE, a quarter INSERT of new keys), run through the
// engine against a table with every usual field type, a candidate key and a filtered tag.
// Reports statements per second, how the conditions found their records (index or whole-table
// reading), the same figure for a condition no index answers, and that the tags came out as a
// rebuild from the records gives them.
//
//   bench_vfp_update [rows=1000000] [statements=10000] [folder=/tmp] [keep]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/typical_foxpro_table.h"
#include "vfp/cdx_maintainer.h"
#include "vfp/cdx_reader.h"
#include "vfp/session.h"

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  const long statements = argc > 2 ? std::stol(argv[2]) : 10000;
  std::string folder = std::string(argc > 3 ? argv[3] : "/tmp") + "/vfp_update_bench";
  const bool keep = argc > 4 && std::string(argv[4]) == "keep";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  using clock = std::chrono::steady_clock;
  auto seconds = [](clock::duration d) { return std::chrono::duration<double>(d).count(); };

  auto t0 = clock::now();
  bench::MakeTypicalFoxproTable(folder, rows);
  {
    vfp::Session s(std::make_shared<vfp::FolderCatalog>(folder));
    s.execute("USE bench");
    s.execute("INDEX ON id TAG id CANDIDATE");
    s.execute("INDEX ON name TAG name FOR !DELETED()");
  }
  std::printf("table of %ld rows, candidate tag on id, name FOR !DELETED(): made in %.1f s\n", rows,
              seconds(clock::now() - t0));

  vfp::Session s(std::make_shared<vfp::FolderCatalog>(folder));
  // Spread over the table as a day's changes are: every k-th key.
  const long step = std::max(1L, rows / std::max(1L, statements));
  long updated = 0, deleted = 0, inserted = 0, changed = 0;
  t0 = clock::now();
  for (long i = 0; i < statements; ++i) {
    const long key = (i * step + 7) % std::max(1L, rows);
    const std::string k = std::to_string(key);
    switch (i % 4) {
      case 0:
      case 1:
        s.execute("UPDATE bench SET name = 'Changed " + k + "', amount = 12.75, day = " +
                  "{^2024-02-29}, stamp = {^2024-02-29 08:15:00}, flag = .T., note = 'changed " +
                  "note " + k + "', tag = NULL WHERE id = " + k);
        ++updated;
        break;
      case 2:
        s.execute("DELETE FROM bench WHERE id = " + k);
        ++deleted;
        break;
      default:
        s.execute("INSERT INTO bench VALUES (" + std::to_string(rows + i) +
                  ", 'New', 'Paris', 1.5, {^2024-03-01}, {^2024-03-01 09:00:00}, 1, 0.5, .F., "
                  "'new', 1.5, 2.5, 0h00000000, 'new')");
        ++inserted;
        break;
    }
    if (i % 4 != 3) changed += s.affected();
  }
  s.flush();
  const double took = seconds(clock::now() - t0);
  std::printf(
      "sync statements: %ld (%ld UPDATE, %ld DELETE, %ld INSERT), %ld rows changed by "
      "UPDATE/DELETE, in %.2f s = %.0f statements/s\n",
      statements, updated, deleted, inserted, changed, took, statements / took);
  std::printf("conditions answered through the index: %lld; by reading the whole table: %lld\n",
              s.indexedSearches(), s.tableScans());

  // The same kind of statement where no tag can help: every record is read.
  const int unindexed = 5;
  t0 = clock::now();
  for (int i = 0; i < unindexed; ++i)
    s.execute("UPDATE bench SET flag = .F. WHERE qty = 49 AND ratio = " + std::to_string(i) + ".5");
  s.flush();
  const double scan = seconds(clock::now() - t0) / unindexed;
  std::printf(
      "unindexed condition (qty = 49 AND ratio = n): %.3f s per statement = %.0f rows/s "
      "read; whole-table readings now %lld\n",
      scan, rows / scan, s.tableScans());

  const auto onDisk = vfp::cdx::IndexFile::open(folder + "/bench.cdx");
  const bool exact = onDisk.bytes() == vfp::IndexMaintainer::open(folder + "/bench.DBF")->build();
  std::printf("index after the run equals a rebuild from the records: %s\n", exact ? "yes" : "NO");
  if (!keep) std::filesystem::remove_all(folder);
  return exact ? 0 : 1;
}
