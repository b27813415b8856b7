// Reading every compound index among the fixtures, and surviving damaged ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "cdx_compare.h"
#include "vfp/bytes.h"
#include "vfp/cdx_reader.h"
#include "vfp/cdx_writer.h"

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

// Record count from the header of the table the index belongs to (.dbf beside a .cdx, .dbc
// beside a .dcx), found case-insensitively.
std::uint32_t tableRecordCount(const fs::path& index) {
  std::string ext = index.extension().string();
  const bool container = ext == ".dcx" || ext == ".DCX";
  const std::string stem = index.stem().string();
  for (const auto& e : fs::directory_iterator(index.parent_path())) {
    std::string x = e.path().extension().string();
    std::transform(x.begin(), x.end(), x.begin(), ::tolower);
    if (e.path().stem() == stem && x == (container ? ".dbc" : ".dbf")) {
      std::ifstream in(e.path(), std::ios::binary);
      unsigned char h[8] = {};
      in.read(reinterpret_cast<char*>(h), 8);
      return vfp::bytes::le32(h + 4);
    }
  }
  ADD_FAILURE() << "no table beside " << index;
  return 0;
}

std::vector<std::uint8_t> readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool ordered(const KeyEntry& a, const KeyEntry& b) {
  const int c = a.key.compare(b.key);
  return c < 0 || (c == 0 && a.recno < b.recno);
}

// Rebuilds `f` from its own keys, keeping its tags' physical order.
IndexFile rebuiltFromOwnKeys(const IndexFile& f) {
  std::vector<TagInfo> order = f.tags();
  std::sort(order.begin(), order.end(),
            [](const auto& a, const auto& b) { return a.headerOffset < b.headerOffset; });
  std::vector<TagBuild> builds;
  for (const auto& t : order) {
    TagBuild b;
    b.name = t.name;
    b.header = t.header;
    b.entries = f.keys(t, ' ');
    builds.push_back(std::move(b));
  }
  return IndexFile::fromBytes(buildIndexFile(builds), "rebuilt " + f.displayName());
}

}  // namespace

TEST(CdxRead, EveryFixtureTagWalksInOrderAndCoversItsTable) {
  const auto files = fixtureIndexes();
  ASSERT_GE(files.size(), 30u);
  std::size_t tagsRead = 0;
  for (const auto& p : files) {
    SCOPED_TRACE(p.string());
    const IndexFile f = IndexFile::open(p);
    ASSERT_FALSE(f.tags().empty());
    const std::uint32_t records = tableRecordCount(p);
    for (const auto& t : f.tags()) {
      SCOPED_TRACE(t.name);
      if (t.header.signature == vfp::cdx::signature::kBinaryIndex) {
        EXPECT_THROW(f.keys(t, ' '), CdxError);
        continue;
      }
      // Which byte trailing compression dropped depends on the key's type, unknown without the
      // table; the right choice must give index order.
      const auto keys = f.keys(t, ' ');
      const auto keys0 = f.keys(t, 0);
      ++tagsRead;
      for (std::size_t i = 0; i < keys.size(); ++i) {
        ASSERT_EQ(keys[i].key.size(), t.header.keyLength);
        ASSERT_GE(keys[i].recno, 1u);
        ASSERT_LE(keys[i].recno, records);
        if (i > 0 && t.header.isMachineCollation()) {
          ASSERT_TRUE(ordered(keys[i - 1], keys[i]) || ordered(keys0[i - 1], keys0[i])) << i;
        }
      }
      // Without a FOR clause every record, deleted or not, has exactly one key.
      // (issue115.dbf had rows appended by a library that left its index stale: 1 key, 9 rows.)
      if (t.header.forExpression.empty() && !(t.header.options & vfp::cdx::option::kUnique) &&
          p.filename() != "issue115.cdx") {
        EXPECT_EQ(keys.size(), records);
        std::vector<std::uint32_t> recnos;
        for (const auto& k : keys) recnos.push_back(k.recno);
        std::sort(recnos.begin(), recnos.end());
        EXPECT_EQ(std::adjacent_find(recnos.begin(), recnos.end()), recnos.end());
      } else {
        EXPECT_LE(keys.size(), records);
      }
    }
  }
  EXPECT_GE(tagsRead, 85u);
}

TEST(CdxRead, ExpressionsAndOptionsComeFromTheTagHeader) {
  const IndexFile f = IndexFile::open(fs::path(QM_FIXTURES_DIR) /
                                      "fdbozzo__foxbin2prg/TESTS/DATOS_READONLY/fb2p_dbf.cdx");
  const TagInfo* edad = f.findTag("edad");
  ASSERT_NE(edad, nullptr);
  EXPECT_TRUE(edad->header.descending);
  EXPECT_EQ(edad->header.keyExpression, "edad");
  const TagInfo* nombre = f.findTag("NOMBRE");
  ASSERT_NE(nombre, nullptr);
  EXPECT_EQ(nombre->header.collation, "GENERAL");
  EXPECT_FALSE(nombre->header.isMachineCollation());
  EXPECT_EQ(nombre->header.forExpression, ".NOT.DELETED().AND..T..AND..T.");
  EXPECT_EQ(f.findTag("NOSUCHTAG"), nullptr);
}

// Files FoxPro built in one pass (single-leaf trees, smallest entry layout) come out identical
// page for page; every file comes out with the same keys in the same order.
TEST(CdxRead, RebuildingFromOwnKeysReproducesFoxProPages) {
  const std::set<std::string> identical = {"categories.cdx",
                                           "customercustomerdemo.cdx",
                                           "customerdemographics.cdx",
                                           "employees.cdx",
                                           "employeeterritories.cdx",
                                           "northwind.dcx",
                                           "region.cdx",
                                           "shippers.cdx",
                                           "territories.cdx",
                                           "fb2p_depto.cdx",
                                           "foxref_ref.cdx",
                                           "calls.CDX",
                                           "contacts.CDX",
                                           "setup.CDX",
                                           "types.CDX",
                                           "issue115.cdx"};
  std::size_t compared = 0;
  for (const auto& p : fixtureIndexes()) {
    SCOPED_TRACE(p.string());
    const IndexFile f = IndexFile::open(p);
    if (std::any_of(f.tags().begin(), f.tags().end(), [](const TagInfo& t) {
          return t.header.signature == vfp::cdx::signature::kBinaryIndex;
        }))
      continue;
    const IndexFile r = rebuiltFromOwnKeys(f);
    ASSERT_EQ(r.tags().size(), f.tags().size());
    const bool sameBytes =
        identical.count(p.filename().string()) && p.parent_path().filename() != "foxpro-xsource";
    for (const auto& t : f.tags()) {
      const TagInfo* rt = r.findTag(t.name);
      ASSERT_NE(rt, nullptr);
      EXPECT_EQ(r.keys(*rt, ' '), f.keys(t, ' ')) << t.name;
      if (sameBytes) {
        EXPECT_EQ(cdxtest::comparePages(f, t, r, *rt), "") << t.name;
        ++compared;
      }
    }
  }
  EXPECT_GE(compared, 20u);
}

TEST(CdxRead, EmptyAndMultiLevelTreesRoundTrip) {
  // Many keys force several leaves and two interior levels; tag names force directory order.
  TagBuild big;
  big.name = "ZBIG";
  big.header.keyLength = 30;
  for (std::uint32_t r = 1; r <= 20000; ++r) {
    char buf[31];
    std::snprintf(buf, sizeof buf, "%-30u", (r * 7919u) % 50000u);
    big.entries.push_back({std::string(buf, 30), r});
  }
  sortEntries(big.entries, false);
  TagBuild empty;
  empty.name = "AEMPTY";
  empty.header.keyLength = 8;
  empty.pad = 0;
  const IndexFile f = IndexFile::fromBytes(buildIndexFile({big, empty}), "built");
  ASSERT_EQ(f.tags().size(), 2u);
  EXPECT_EQ(f.tags()[0].name, "AEMPTY");
  EXPECT_TRUE(f.keys(f.tags()[0], 0).empty());
  EXPECT_EQ(f.keys(f.tags()[1], ' '), big.entries);
  EXPECT_GT(f.pagesOf(f.tags()[1]).size(), 100u);
}

TEST(CdxRead, UniqueKeepsTheFirstRecordOfEachKey) {
  std::vector<KeyEntry> e = {{"B", 3}, {"A", 5}, {"B", 1}, {"A", 2}};
  sortEntries(e, true);
  EXPECT_EQ(e, (std::vector<KeyEntry>{{"A", 2}, {"B", 1}}));
}

// Damaged files must give CdxError (or, when the damage hits unused bytes, read normally):
// never a crash, a hang or a read outside the file.
TEST(CdxRead, DamagedIndexesGiveClearErrors) {
  const fs::path dir = fs::path(QM_FIXTURES_DIR) / "VFPX__Samples/Northwind";
  std::mt19937 rng(20261208);
  for (const char* name : {"orders.cdx", "categories.cdx", "northwind.dcx"}) {
    SCOPED_TRACE(name);
    const auto good = readAll(dir / name);
    auto walkAll = [](std::vector<std::uint8_t> bytes) {
      try {
        const IndexFile f = IndexFile::fromBytes(std::move(bytes), "damaged");
        for (const auto& t : f.tags()) f.keys(t, ' ');
      } catch (const CdxError& e) {
        EXPECT_NE(std::string(e.what()).find("damaged"), std::string::npos) << e.what();
      }
    };
    for (std::size_t len : {std::size_t{0}, std::size_t{100}, std::size_t{1024}, std::size_t{1500},
                            good.size() / 2, good.size() - 512, good.size() - 1})
      walkAll(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(len)));
    for (int i = 0; i < 400; ++i) {
      auto bad = good;
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int k = 0; k < flips; ++k)
        bad[rng() % bad.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
      walkAll(std::move(bad));
    }
  }
  // Truncation is reported with the file's name and what is missing.
  try {
    IndexFile::fromBytes(std::vector<std::uint8_t>(700, 0), "short.cdx");
    FAIL();
  } catch (const CdxError& e) {
    EXPECT_NE(std::string(e.what()).find("short.cdx is too short"), std::string::npos);
  }
}

TEST(CdxRead, APageThatPointsBackIntoItsTreeIsRefused) {
  const IndexFile good =
      IndexFile::open(fs::path(QM_FIXTURES_DIR) / "VFPX__Samples/Data/orders.cdx");
  const TagInfo& tag = good.tags().front();
  const std::uint32_t root = tag.header.root;
  ASSERT_FALSE(vfp::cdx::NodeHeader::decode(std::span(good.bytes()).subspan(root, 512)).isLeaf());
  auto bytes = good.bytes();
  // Point the root's first child at the root itself.
  vfp::bytes::putBe32(&bytes[root + 12 + tag.header.keyLength + 4], root);
  const IndexFile bad = IndexFile::fromBytes(bytes, "loop.cdx");
  try {
    bad.keys(*bad.findTag(tag.name), ' ');
    FAIL();
  } catch (const CdxError& e) {
    EXPECT_NE(std::string(e.what()).find("reached twice"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(tag.name), std::string::npos) << e.what();
  }
}
