// Names and paths, checked in one place.
//
// Two kinds of names reach the engine:
//  - references typed in SQL (vfpsql, generated scripts): a table name or a path, relative to
//    the open database's folder or absolute. The person who typed them may reach any folder they
//    can reach anyway; what no reference may hold is a NUL or another control character, which
//    would cut or bend the file name the system sees (checkReference, checkFieldName).
//  - names that come from a database (a MySQL table name, a container's member name): they are
//    data, not paths. They become file names only through confineTableName / confinedPath, which
//    return a file name that stays inside the given folder whatever the name holds.
#pragma once

#include <string>
#include <string_view>

namespace vfp {

namespace names {
// Longest stem confineTableName returns, in bytes (the longest table name a container keeps;
// well below every file system's limit once an extension is added).
constexpr std::size_t kMaxStem = 128;
}  // namespace names

// A table reference as written in SQL (name or path). Throws vfp::Error, naming what is wrong,
// for an empty reference or one holding NUL or another control character (0x01-0x1F, 0x7F).
void checkReference(std::string_view ref);

// A field name as written in CREATE TABLE: not empty, no NUL or other control character, at most
// 128 bytes. (Characters FoxPro does not allow are dealt with when the name is written.)
void checkFieldName(std::string_view name);

// What confineTableName made of a name that came from a database.
struct ConfinedName {
  std::string stem;    // the file name without extension: never empty, no folder in it
  std::string reason;  // empty when stem equals the name; otherwise why it differs, in words
                       // fit for the user ("'/' cannot be part of a file name")
  bool changed() const { return !reason.empty(); }
};

// Turns a table name from a database into the stem of a file name in any folder, on Linux and
// on Windows alike:
//  - '/', '\\', ':', '*', '?', '"', '<', '>', '|', NUL and other control characters each become
//  '_';
//  - leading and trailing blanks and dots become '_' (so "..", "." and " x" cannot name a
//    folder or be trimmed away by Windows);
//  - a name Windows reserves for a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without
//    an extension) gets a '_' appended;
//  - an empty name becomes "_"; a name longer than names::kMaxStem bytes is cut there (never
//    inside a UTF-8 character).
// Letter case and every other character (UTF-8 letters included) are kept. Two different names
// may give the same stem ("a/b" and "a_b"): a caller creating several tables checks for that.
ConfinedName confineTableName(std::string_view name);

// folder + confineTableName(name).stem + extension. A separator is added after folder unless it
// ends in one ('\\' when folder already uses '\\', else '/'). The result lies directly inside
// folder. When reason is given it receives ConfinedName::reason (empty when unchanged).
std::string confinedPath(const std::string& folder, std::string_view name,
                         std::string_view extension, std::string* reason = nullptr);

// Whether path lies in folder or below it, after "." and ".." are resolved and symbolic links
// are followed as far as the files exist. Both are taken relative to the current folder when not
// absolute.
bool isInsideFolder(const std::string& folder, const std::string& path);

}  // namespace vfp
