// vfpsql.exe, the Windows build, run under Wine beside the Linux vfpsql: the same statements write
// the same files byte for byte (apart from the date in a table's header), and the fixture
// containers list and read the same. Runs when scripts/windows-test names the program
// (QM_WINDOWS_VFPSQL) and Wine (QM_WINE); skipped otherwise.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "support/command_run.h"
#include "support/temp_folder.h"
#include "vfp/file.h"

namespace fs = std::filesystem;

namespace {

using Outcome = qmtest::CommandRun;
using qmtest::shellQuote;

class Programs : public testing::Test {
 protected:
  void SetUp() override {
    const char* exe = std::getenv("QM_WINDOWS_VFPSQL");
    const char* wine = std::getenv("QM_WINE");
    if (!exe || !wine || !*exe || !*wine)
      GTEST_SKIP() << "set by scripts/windows-test: QM_WINDOWS_VFPSQL and QM_WINE";
    windows_ = shellQuote(wine) + " " + shellQuote(exe);
    linux_ = shellQuote(std::string(QM_BINARY_DIR) + "/tools/vfpsql");
  }

  // Runs one of the programs in folder `cwd` with statements on standard input. Wine hands the
  // arguments over in the locale's character set: UTF-8, so Unicode names arrive whole.
  Outcome run(bool windows, const std::string& cwd, const std::vector<std::string>& args,
              const std::string& input) {
    return qmtest::runCommand(
        "cd " + shellQuote(cwd) + " && LC_ALL=C.UTF-8 " + (windows ? windows_ : linux_), args,
        input);
  }

  qmtest::TempFolder work_;
  std::string windows_, linux_;
};

// Every file under a folder, by relative path; the header date of tables (bytes 1-3 of a .dbf or
// .dbc) blanked, since each program writes the day it runs.
std::map<std::string, std::string> filesUnder(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::string bytes = qmtest::readWholeFile(e.path().string());
    const std::string ext = vfp::toLowerAscii(e.path().extension().string());
    if ((ext == ".dbf" || ext == ".dbc") && bytes.size() > 4) bytes.replace(1, 3, 3, '\0');
    out[fs::relative(e.path(), root).string()] = bytes;
  }
  return out;
}

void copyFolder(const fs::path& from, const fs::path& to) {
  fs::create_directories(to);
  for (const auto& e : fs::directory_iterator(from)) {
    if (!e.is_regular_file()) continue;
    fs::copy_file(e.path(), to / e.path().filename());
    fs::permissions(to / e.path().filename(), fs::perms::owner_write, fs::perm_options::add);
  }
}

}  // namespace

using WindowsVfpsql = Programs;

TEST_F(WindowsVfpsql, WritesTheSameFilesAsTheLinuxBuild) {
  const std::string freeTables =
      "CREATE TABLE Müller (name C(12) NULL, note M, price Y, qty N(8,2), born D, stamp T, "
      "ok L, i I, b B(4), v V(10) NULL, q Q(4), g G, w W)\n"
      "INSERT INTO Müller VALUES('Zoë €', 'größer'+CHR(13)+CHR(10)+'ß', 12.3456, -5.25, "
      "{^2021-08-31}, {^2021-08-31 12:34:56}, .T., -7, 2.5, 'kurz', 0h00FF, 0h0102, 0h)\n"
      "INSERT INTO Müller VALUES(NULL, '', 0, 0, {}, {}, .F., 0, 0, NULL, 0h, '', '')\n"
      "INSERT INTO Müller VALUES('emoji 😀', 'x', 1, 1, {^1999-12-31}, {}, .T., 1, 1, 'v', 0h, "
      "'', '')\n"
      "CREATE TABLE gone (a C(3))\n"
      "DROP TABLE gone\n"
      "SELECT * FROM Müller\n";
  const std::string container =
      "CREATE TABLE fresh (id I, label C(20), memo M)\n"
      "INSERT INTO fresh VALUES(1, 'one', 'first memo')\n"
      "INSERT INTO region VALUES(5, 'Middle')\n"  // region keeps an index: maintained alike
      "DROP TABLE territories\n"
      ".tables\n";
  std::map<std::string, std::string> written[2];
  Outcome runs[2][2];
  for (int windows = 0; windows < 2; ++windows) {
    const fs::path root = fs::path(work_.path) / (windows ? "windows" : "linux");
    fs::create_directories(root / "Données");
    copyFolder(fs::path(QM_FIXTURES_DIR) / "VFPX__Samples/Northwind", root / "nw");
    runs[windows][0] = run(windows, root.string(), {"Données"}, freeTables);
    runs[windows][1] = run(windows, root.string(), {"nw/northwind.dbc"}, container);
    written[windows] = filesUnder(root);
  }
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(runs[0][k].status, 0) << runs[0][k].err;
    EXPECT_EQ(runs[1][k].status, runs[0][k].status) << runs[1][k].err;
    EXPECT_EQ(runs[1][k].out, runs[0][k].out);
    EXPECT_EQ(runs[1][k].err, runs[0][k].err);
  }
  EXPECT_NE(runs[0][0].out.find("Zoë €"), std::string::npos) << runs[0][0].out;
  ASSERT_TRUE(written[0].count("Données/Müller.dbf")) << written[0].size();
  ASSERT_TRUE(written[0].count("nw/fresh.dbf"));
  EXPECT_FALSE(written[0].count("nw/territories.dbf"));
  // Same names, same bytes.
  std::vector<std::string> names[2];
  for (int w = 0; w < 2; ++w)
    for (const auto& [name, bytes] : written[w]) names[w].push_back(name);
  EXPECT_EQ(names[1], names[0]);
  for (const auto& [name, bytes] : written[0]) {
    auto other = written[1].find(name);
    if (other == written[1].end()) continue;
    EXPECT_TRUE(other->second == bytes) << name << " differs between the Linux and Windows builds";
  }
}

TEST_F(WindowsVfpsql, ListsAndReadsTheFixtureContainersAsTheLinuxBuild) {
  int containers = 0, tables = 0;
  for (const auto& e : fs::recursive_directory_iterator(QM_FIXTURES_DIR)) {
    if (!e.is_regular_file() || vfp::toLowerAscii(e.path().extension().string()) != ".dbc")
      continue;
    ++containers;
    const std::string cwd = e.path().parent_path().string();
    const std::string source = e.path().filename().string();
    const Outcome list[2] = {run(false, cwd, {source}, ".tables\n"),
                             run(true, cwd, {source}, ".tables\n")};
    EXPECT_EQ(list[1].out, list[0].out) << source;
    EXPECT_EQ(list[1].err, list[0].err) << source;
    // Every table read in full; after a refused one the rest go on in a new run.
    std::vector<std::string> statements;
    std::istringstream lines(list[0].out);
    std::string line;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) {
      auto comma = line.rfind(',');
      if (comma == std::string::npos || line.compare(comma, 7, ",TABLE\r") != 0) continue;
      statements.push_back("SELECT * FROM [" + line.substr(0, comma) + "]");
    }
    tables += int(statements.size());
    std::size_t from = 0;
    while (from < statements.size()) {
      std::string input;
      for (std::size_t i = from; i < statements.size(); ++i) input += statements[i] + "\n";
      const Outcome onLinux = run(false, cwd, {source}, input);
      const Outcome onWindows = run(true, cwd, {source}, input);
      EXPECT_EQ(onWindows.status, onLinux.status) << source << " from " << statements[from];
      EXPECT_TRUE(onWindows.out == onLinux.out) << source << " from " << statements[from];
      EXPECT_EQ(onWindows.err, onLinux.err) << source;
      if (onLinux.status == 0) break;
      // "vfpsql: statement N: ..." names the statement that was refused.
      std::size_t n =
          std::strtoul(onLinux.err.c_str() + onLinux.err.find("statement ") + 10, nullptr, 10);
      if (n == 0) break;
      from += n;
    }
  }
  EXPECT_EQ(containers, 4);
  EXPECT_GE(tables, 10);
}
