// Rebuilding the fixture indexes from their tables' records, compared with FoxPro's own files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "cdx_compare.h"
#include "vfp/cdx_maintainer.h"
#include "vfp/cdx_reader.h"
#include "vfp/error.h"
#include "vfp/file.h"

namespace fs = std::filesystem;
using vfp::cdx::IndexFile;

namespace {

struct Indexed {
  fs::path table;
  fs::path index;
};

std::vector<Indexed> fixtureIndexedTables() {
  std::vector<Indexed> out;
  for (const auto& e : fs::recursive_directory_iterator(QM_FIXTURES_DIR)) {
    if (!e.is_regular_file()) continue;
    const std::string ext = vfp::toLowerAscii(e.path().extension().string());
    if (ext != ".cdx" && ext != ".dcx") continue;
    const auto table = vfp::findCompanion(e.path().string(), ext == ".cdx" ? ".dbf" : ".dbc");
    if (table) out.push_back({*table, e.path()});
  }
  std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.index < b.index; });
  return out;
}

}  // namespace

TEST(CdxRebuild, Dump) {
  for (const auto& [table, index] : fixtureIndexedTables()) {
    try {
      auto m = vfp::IndexMaintainer::open(table.string());
      if (!m) { std::printf("%s: no flag\n", table.filename().c_str()); continue; }
      const IndexFile vfpFile = IndexFile::open(index);
      const IndexFile ours = IndexFile::fromBytes(m->build(), "rebuilt");
      for (const auto& t : vfpFile.tags()) {
        const auto* r = ours.findTag(t.name);
        bool same = vfpFile.keys(t, ' ') == ours.keys(*r, ' ') && vfpFile.keys(t, 0) == ours.keys(*r, 0);
        std::printf("%s %s: keys %s pages [%s]\n", index.filename().c_str(), t.name.c_str(), same ? "same" : "DIFFER",
                    cdxtest::comparePages(vfpFile, t, ours, *r).c_str());
      }
    } catch (const vfp::Error& e) {
      std::printf("%s: refused: %s\n", table.filename().c_str(), e.what());
    }
  }
}
