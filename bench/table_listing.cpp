// Benchmark: filling the FoxPro table list from a folder of many free tables (one yield per
// table, each name placed in the case-insensitive order), and placing names in a table list
// alone, arriving in random order.
//
//   QT_QPA_PLATFORM=offscreen bench_table_listing [tables=5000] [folder=/tmp]
#include "platform/table_listing.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "catalogue/table_list.h"
#include "platform/application.h"
#include "vfp/table.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds(clock_type::time_point since) {
  return std::chrono::duration<double>(clock_type::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  platform::Application app;
  long tables = argc > 1 ? std::stol(argv[1]) : 5000;
  std::filesystem::path folder =
      std::filesystem::path(argc > 2 ? argv[2] : "/tmp") / "quillmere-bench-listing";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);

  std::vector<QString> names;
  std::mt19937 random(7);
  for (long t = 0; t < tables; ++t) {
    std::string name = (t % 2 ? "Table_" : "table_") + std::to_string(random() % 1000000);
    names.push_back(QString::fromStdString(name));
    vfp::TableWriter::create((folder / (name + ".dbf")).string(), {{"id", 'I'}});
  }

  TableList list;
  auto start = clock_type::now();
  Foxpro::AddTablesToFoxproListbox(
      list, "Provider=vfpoledb.1;Data Source=" + folder.string() + ";Collating Sequence=general;");
  std::printf("FoxPro listing: %d tables in %.3f s\n", list.count(), seconds(start));

  TableList alone;
  start = clock_type::now();
  for (const QString& n : names) alone.addItem(n);
  std::printf("placing %zu names in random order: %.3f s\n", names.size(), seconds(start));

  std::filesystem::remove_all(folder);
  return 0;
}
