// The engine's fuzz targets, as plain functions: the libFuzzer programs in this folder call
// them, and the engine's tests run the inputs that once crashed them (tests/fuzz/regressions/
// <target>/; each of those made AddressSanitizer report a heap buffer overflow before the
// header checks: a narrow I or T field, an autoincrementing C field or a short _NullFlags at
// the end of the record, a container whose OBJECTID is one byte wide).
//
// An input that holds several files separates them with kPartSeparator, e.g. a table, then its
// memo file: <.dbf bytes> "\nQM-PART\n" <.fpt bytes>. A missing part is an absent file.
//
// Each function writes its files into a private folder, runs the engine over them and lets
// only vfp::Error through as a refusal; anything else (a crash, a sanitizer report, another
// exception) is a finding. Each returns how much work got done (values decoded, rows appended,
// objects or keys listed, statements run), so a test can tell a target from one that refuses all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qmfuzz {

inline constexpr std::string_view kPartSeparator = "\nQM-PART\n";

std::vector<std::string> splitParts(const std::uint8_t* data, std::size_t size);

// <.dbf> [<memo>]: opens the table and decodes every value of every record.
std::size_t table(const std::uint8_t* data, std::size_t size);
// <.dbf> [<.fpt>] [<.cdx>]: appends rows of every kind of value to the table (nulls, values left
// out, text, numbers, dates), flushes, and reads the table back.
std::size_t writer(const std::uint8_t* data, std::size_t size);
// <.dbc> [<.dct>] [<.dcx>]: lists the container's objects and members, their field names, and
// the tags of its index.
std::size_t container(const std::uint8_t* data, std::size_t size);
// <.cdx> [<.dbf>]: walks every tag of the index file, then checks it against the table.
std::size_t index(const std::uint8_t* data, std::size_t size);
// SQL statements, one a line, run against a folder holding a table t of every field type. Lines
// with "/" or "\" are skipped: they could name any file of the machine running the fuzzer.
std::size_t sql(const std::uint8_t* data, std::size_t size);

struct Target {
  const char* name;
  std::size_t (*run)(const std::uint8_t*, std::size_t);
};
inline constexpr Target kTargets[] = {
    {"table", table}, {"writer", writer}, {"container", container}, {"index", index}, {"sql", sql}};

}  // namespace qmfuzz
