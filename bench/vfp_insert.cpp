// Benchmark: INSERT lines of the shape a MySQL-to-FoxPro transfer generates (ten memo columns,
// quoted text values) executed into a new free table, through the engine and through the
// data-access layer the preview window uses.
//
//   bench_vfp_insert [rows=1000000] [folder=/tmp] [general] [keep]
// "general" sends every line through the general parser of the engine (the shortcut for the
// transfer's lines off), "keep" leaves the tables in <folder>/vfp_insert_bench.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "vfp/session.h"

namespace {

std::vector<std::string> makeScript(const std::string& target, long rows) {
  const std::string note =
      "A sixty character note about the order, it''s quite ordinary";  // 60 chars unquoted
  std::vector<std::string> lines;
  lines.reserve(std::size_t(rows));
  for (long r = 0; r < rows; ++r) {
    std::string l = "INSERT INTO [" + target + "] VALUES('" + std::to_string(r + 1) +
                    "', '12345.67', 'it''s', " + "'2021-08-31', '" + note + "', 'Customer " +
                    std::to_string(r % 977) + "', '2021-08-31 12:34:56', '1', '', 'Berlin')";
    lines.push_back(std::move(l));
  }
  return lines;
}

const char* kCreate =
    "([id] M,[amount] M,[quote] M,[day] M,[note] M,[customer] M,[stamp] M,[flag] M,[empty] "
    "M,[city] M)";

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  std::string folder = argc > 2 ? argv[2] : "/tmp";
  bool general = false, keep = false;
  for (int i = 3; i < argc; ++i) {
    general = general || std::string(argv[i]) == "general";
    keep = keep || std::string(argv[i]) == "keep";
  }
  folder += "/vfp_insert_bench";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  using clock = std::chrono::steady_clock;

  {
    std::string target = folder + "/engine.DBF";
    auto script = makeScript(target, rows);
    vfp::Session s(std::make_shared<vfp::FolderCatalog>(folder));
    s.setFastInsert(!general);
    s.execute("CREATE TABLE '" + target + "'" + kCreate);
    auto t0 = clock::now();
    for (const auto& l : script) s.execute(l);
    s.flush();
    double sec = std::chrono::duration<double>(clock::now() - t0).count();
    std::printf(
        "engine session: %ld INSERTs in %.2f s = %.0f rows/s (dbf %.1f MB, fpt %.1f MB, %lld by "
        "the shortcut)\n",
        rows, sec, rows / sec, std::filesystem::file_size(target) / 1e6,
        std::filesystem::file_size(folder + "/engine.FPT") / 1e6, s.fastInserts());
  }
  if (!general) {
    std::string target = folder + "/ado.DBF";
    auto script = makeScript(target, rows);
    ado::Connection c;
    c.open("Provider=vfpoledb.1;Data Source=" + folder + ";Collating Sequence=general;");
    c.execute("CREATE TABLE '" + target + "'" + kCreate);
    auto t0 = clock::now();
    for (const auto& l : script) c.execute(l);
    c.close();
    double sec = std::chrono::duration<double>(clock::now() - t0).count();
    std::printf("data-access connection: %ld INSERTs in %.2f s = %.0f rows/s\n", rows, sec,
                rows / sec);
  }
  if (!keep) std::filesystem::remove_all(folder);
  return 0;
}
