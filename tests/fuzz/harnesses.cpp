#include "harnesses.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "../support/temp_folder.h"
#include "vfp/cdx_maintainer.h"
#include "vfp/cdx_reader.h"
#include "vfp/session.h"
#include "vfp/dbc.h"
#include "vfp/dbc_catalog.h"
#include "vfp/error.h"
#include "vfp/table.h"

namespace fs = std::filesystem;

namespace qmfuzz {

namespace {

// One folder per process, emptied before every input.
const fs::path& workFolder() {
  static const qmtest::TempFolder folder;
  static const fs::path path = vfp::nativePath(folder.path);
  return path;
}

fs::path freshFolder() {
  const fs::path& f = workFolder();
  for (const auto& e : fs::directory_iterator(f)) fs::remove_all(e.path());
  return f;
}

void put(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), std::streamsize(bytes.size()));
}

// Writes the parts that are there under the given names; returns the folder.
fs::path lay(const std::vector<std::string>& parts, std::initializer_list<const char*> names) {
  fs::path dir = freshFolder();
  std::size_t i = 0;
  for (const char* n : names) {
    if (i >= parts.size()) break;
    put(dir / n, parts[i++]);
  }
  return dir;
}

std::size_t readAll(const std::string& path) {
  vfp::Table t(path);
  vfp::RecordScanner scan(t, 64 * 1024);
  vfp::Value v;
  std::size_t n = 0;
  while (const auto* r = scan.next())
    for (int i : t.userFields()) t.decodeField(r, std::size_t(i), v), ++n;
  return n;
}

// Swallows the engine's refusals; anything else escapes to the fuzzer.
template <class F>
void refusalsAllowed(F&& f) {
  try {
    f();
  } catch (const vfp::Error&) {
  }
}

}  // namespace

std::vector<std::string> splitParts(const std::uint8_t* data, std::size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> out;
  for (;;) {
    auto at = all.find(kPartSeparator);
    out.emplace_back(all.substr(0, at));
    if (at == std::string_view::npos) break;
    all.remove_prefix(at + kPartSeparator.size());
  }
  return out;
}

std::size_t table(const std::uint8_t* data, std::size_t size) {
  auto parts = splitParts(data, size);
  // The memo goes under every name a table of some version may look for.
  if (parts.size() > 1) parts.push_back(parts[1]);
  fs::path dir = lay(parts, {"t.dbf", "t.fpt", "t.dbt"});
  std::size_t n = 0;
  refusalsAllowed([&] { n += readAll((dir / "t.dbf").string()); });
  refusalsAllowed([&] {
    vfp::QueryResult q((dir / "t.dbf").string());
    while (q.next())
      for (std::size_t i = 0; i < q.fieldCount(); ++i) q.value(i), ++n;
  });
  return n;
}

std::size_t writer(const std::uint8_t* data, std::size_t size) {
  auto parts = splitParts(data, size);
  fs::path dir = lay(parts, {"t.dbf", "t.fpt", "t.cdx"});
  const std::string path = (dir / "t.dbf").string();
  std::size_t appended = 0;
  refusalsAllowed([&] {
    auto w = vfp::TableWriter::openForAppend(path);
    const std::size_t n = w->userFields().size();
    std::vector<vfp::Value> row(n);
    auto tryRow = [&](auto&& fill, std::size_t count) {
      for (std::size_t i = 0; i < n; ++i) fill(row[i], i);
      refusalsAllowed([&] {
        w->append(std::span<const vfp::Value>(row.data(), count));
        ++appended;
      });
    };
    // A value of each field's own type first, then one kind of value for every field.
    tryRow(
        [&](vfp::Value& v, std::size_t i) {
          switch (w->header().fields[std::size_t(w->userFields()[i])].type) {
            case 'N':
            case 'F':
            case 'I':
            case 'B':
            case 'Y':
              v.setInt(std::int64_t(i) + 1);
              break;
            case 'D':
            case 'T':
              v.setDateTime({{1999, 12, 31}, 12, 0, 1});
              break;
            case 'L':
              v.setBool(i % 2 == 0);
              break;
            default:
              v.setString(vfp::Value::Kind::Text) = "x" + std::to_string(i);
          }
        },
        n);
    tryRow([](vfp::Value& v, std::size_t) { v.setNull(); }, n);
    tryRow([](vfp::Value& v, std::size_t i) { v.setInt(std::int64_t(i) * 1000003 - 7); }, n);
    tryRow([](vfp::Value& v, std::size_t) { v.setDouble(-12345.678); }, n);
    tryRow([](vfp::Value& v, std::size_t) { v.setString(vfp::Value::Kind::Text) = "Zoë 12.5"; }, n);
    tryRow([](vfp::Value& v, std::size_t) { v.setString(vfp::Value::Kind::Bytes) = "\x01\xff"; },
           n);
    tryRow([](vfp::Value& v, std::size_t) { v.setBool(true); }, n);
    tryRow([](vfp::Value& v, std::size_t) { v.setDateTime({{2024, 2, 29}, 23, 59, 58}); }, n);
    tryRow([](vfp::Value& v, std::size_t) { v.setString(vfp::Value::Kind::Text); }, n / 2);
    w->flush();
  });
  refusalsAllowed([&] { readAll(path); });
  return appended;
}

std::size_t container(const std::uint8_t* data, std::size_t size) {
  auto parts = splitParts(data, size);
  fs::path dir = lay(parts, {"d.dbc", "d.dct", "d.dcx"});
  const std::string path = (dir / "d.dbc").string();
  std::size_t n = 0;
  refusalsAllowed([&] {
    const auto c = vfp::dbc::Container::open(path);
    for (const auto& o : c.objects()) {
      c.fieldNames(o.id);
      c.resolvePath(o);
      ++n;
    }
    refusalsAllowed([&] { c.members(); });
    refusalsAllowed([&] { c.find("customer"); });
  });
  refusalsAllowed([&] {
    vfp::dbc::ContainerCatalog cat(path);
    cat.tables();
  });
  refusalsAllowed([&] { n += vfp::inspectIndex(path).size(); });
  return n;
}

std::size_t index(const std::uint8_t* data, std::size_t size) {
  auto parts = splitParts(data, size);
  std::size_t n = 0;
  refusalsAllowed([&] {
    auto f = vfp::cdx::IndexFile::fromBytes(
        std::vector<std::uint8_t>(parts[0].begin(), parts[0].end()), "t.cdx");
    for (const auto& tag : f.tags()) {
      refusalsAllowed([&] { n += f.keys(tag, 0x20).size(); });
      refusalsAllowed([&] { f.pagesOf(tag); });
    }
  });
  if (parts.size() < 2) return n;
  fs::path dir = lay({parts[1], parts[0]}, {"t.dbf", "t.cdx"});
  refusalsAllowed([&] {
    for (const auto& r : vfp::inspectIndex((dir / "t.dbf").string())) n += r.keys.size();
  });
  refusalsAllowed([&] { vfp::IndexMaintainer::open((dir / "t.dbf").string()); });
  return n;
}

std::size_t sql(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  fs::path dir = freshFolder();
  auto catalog = std::make_shared<vfp::FolderCatalog>(dir.string());
  vfp::Session s(catalog);
  std::size_t n = 0;
  s.execute(
      "CREATE TABLE t(c C(10) NULL, n N(8,2), i I AUTOINC, b B, y Y, d D NULL, dt T, l L, "
      "m M NULL, v V(12) NULL, q Q(6), w W, f F(10,3), g G)");
  s.execute(
      "INSERT INTO t VALUES('a', 1.5, 0, 2.25, 3.5, {^2020-01-02}, {^2020-01-02 03:04:05},"
      " .T., 'memo', 'var', 0h0102, 0hFF, 1.25, 'obj')");
  while (!text.empty()) {
    auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (line.find_first_of("/\\") != std::string_view::npos) continue;
    refusalsAllowed([&] {
      if (auto r = s.execute(line))
        while (r->next())
          for (std::size_t i = 0; i < r->fieldCount(); ++i) r->value(i);
      ++n;
    });
  }
  refusalsAllowed([&] { s.flush(); });
  return n;
}

}  // namespace qmfuzz
