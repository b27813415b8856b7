// Inputs that once crashed a fuzz target (tests/fuzz/regressions/<target>/) and one seed of each
// target made from the fixtures: each must now run to its end. Under the sanitizer build a
// memory fault here fails the run.
#include <gtest/gtest.h>

#include <filesystem>

#include "../fuzz/harnesses.h"
#include "support.h"

using namespace vfptest;
namespace fs = std::filesystem;

namespace {

std::string part(const std::string& fixtureFile) { return readFile(fixture(fixtureFile)); }

std::size_t run(const qmfuzz::Target& t, const std::string& input) {
  return t.run(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

const qmfuzz::Target& target(const std::string& name) {
  for (const auto& t : qmfuzz::kTargets)
    if (name == t.name) return t;
  throw std::runtime_error("no fuzz target " + name);
}

}  // namespace

TEST(FuzzRegressions, EarlierCrashesRunToTheirEnd) {
  const fs::path root = fs::path(QM_SOURCE_DIR) / "tests/fuzz/regressions";
  std::size_t inputs = 0;
  for (const auto& t : qmfuzz::kTargets) {
    const fs::path dir = root / t.name;
    if (!fs::is_directory(dir)) continue;
    for (const auto& e : fs::directory_iterator(dir)) {
      SCOPED_TRACE(e.path().string());
      EXPECT_NO_THROW(run(t, readFile(e.path().string())));
      ++inputs;
    }
  }
  EXPECT_GT(inputs, 0u);
}

// The targets themselves work: over real files they reach the code they are meant to shake.
TEST(FuzzRegressions, TargetsRunOverFixtureFiles) {
  const std::string sep(qmfuzz::kPartSeparator);
  EXPECT_GT(run(target("table"), part("VFPX__Samples/Data/employee.dbf") + sep +
                                     part("VFPX__Samples/Data/employee.fpt")),
            100u);
  // Eight kinds of row; some are refused by the field types, none by the table.
  EXPECT_GE(run(target("writer"), part("yortus__DBFFile/test/fixtures/vfp9_30_memo.dbf") + sep +
                                      part("yortus__DBFFile/test/fixtures/vfp9_30_memo.fpt")),
            2u);
  EXPECT_GT(run(target("container"), part("VFPX__Samples/Data/testdata.dbc") + sep +
                                         part("VFPX__Samples/Data/testdata.dct") + sep +
                                         part("VFPX__Samples/Data/testdata.dcx")),
            10u);
  EXPECT_GT(run(target("index"), part("VFPX__Samples/Data/customer.cdx") + sep +
                                     part("VFPX__Samples/Data/customer.dbf")),
            10u);
  EXPECT_EQ(run(target("sql"),
                "SELECT * FROM t\nINSERT INTO t VALUES('x')\nCREATE TABLE u(a I)\n"
                "DROP TABLE ../t\nDROP TABLE u"),
            4u);
}
