// Benchmark: filling the FoxPro table list from a folder of many free tables (one yield per
// table, each name placed in the case-insensitive order), first hidden, then relisting it on
// screen; and placing names arriving in random order in a visible list.
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

  const std::string connection =
      "Provider=vfpoledb.1;Data Source=" + folder.string() + ";Collating Sequence=general;";
  // A hidden list, then the same list on screen and listed again: relisting what the user sees
  // should cost what a hidden list costs.
  TableList list;
  auto start = clock_type::now();
  Foxpro::AddTablesToFoxproListbox(list, connection);
  double hidden = seconds(start);
  std::printf("FoxPro listing, hidden list: %d tables in %.3f s\n", list.count(), hidden);
  list.resize(300, 400);
  list.show();
  QApplication::processEvents();
  start = clock_type::now();
  Foxpro::AddTablesToFoxproListbox(list, connection);
  double visible = seconds(start);
  std::printf("FoxPro relisting, visible list: %d tables in %.3f s\n", list.count(), visible);
  std::printf("RESULT relist_visible_s=%.3f hidden_s=%.3f\n", visible, hidden);

  TableList alone;
  alone.resize(300, 400);
  alone.show();
  start = clock_type::now();
  for (const QString& n : names) {
    alone.addItem(n);
    QApplication::processEvents();
  }
  std::printf("placing %zu names in random order in a visible list, yielding after each: %.3f s\n",
              names.size(), seconds(start));

  std::filesystem::remove_all(folder);
  return 0;
}
