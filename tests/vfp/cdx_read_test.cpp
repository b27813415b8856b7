// Reading every compound index among the fixtures, and surviving damaged ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "vfp/cdx_reader.h"

namespace fs = std::filesystem;
using namespace vfp::cdx;

namespace {

std::vector<fs::path> fixtureIndexes() {
  std::vector<fs::path> out;
  for (const auto& e : fs::recursive_directory_iterator(QM_FIXTURES_DIR)) {
    if (!e.is_regular_file()) continue;
    std::string ext = e.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (ext == ".cdx" || ext == ".dcx") out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST(CdxRead, Dump) {
  for (const auto& p : fixtureIndexes()) {
    auto f = IndexFile::open(p);
    for (const auto& t : f.tags()) {
      std::size_t n = 0;
      std::string err;
      try {
        n = f.keys(t, ' ').size();
      } catch (const CdxError& e) {
        err = e.what();
      }
      std::printf("%s %s sig=%d opt=%02x kl=%d coll=%s desc=%d key=[%s] for=[%s] n=%zu %s\n",
                  p.filename().c_str(), t.name.c_str(), t.header.signature, t.header.options,
                  t.header.keyLength, t.header.collation.c_str(), t.header.descending,
                  t.header.keyExpression.c_str(), t.header.forExpression.c_str(), n, err.c_str());
    }
  }
}

#include "cdx_compare.h"
#include "vfp/cdx_writer.h"

TEST(CdxRead, RoundTripDump) {
  for (const auto& p : fixtureIndexes()) {
    auto f = IndexFile::open(p);
    std::vector<TagBuild> builds;
    std::vector<TagInfo> order = f.tags();
    std::sort(order.begin(), order.end(),
              [](auto& a, auto& b) { return a.headerOffset < b.headerOffset; });
    bool skip = false;
    for (const auto& t : order) {
      if (t.header.signature == vfp::cdx::signature::kBinaryIndex) {
        skip = true;
        break;
      }
      TagBuild b;
      b.name = t.name;
      b.header = t.header;
      b.entries = f.keys(t, ' ');
      builds.push_back(std::move(b));
    }
    if (skip) continue;
    auto out = IndexFile::fromBytes(buildIndexFile(builds), "rebuilt");
    for (const auto& t : f.tags()) {
      auto* r = out.findTag(t.name);
      std::printf("%s %s: %s\n", p.filename().c_str(), t.name.c_str(),
                  cdxtest::comparePages(f, t, out, *r).c_str());
    }
  }
}
