// Names from MySQL made into names a FoxPro database takes: field names FoxPro accepts and that
// stay apart from each other, table file names that stay inside the target folder, and the
// delimiters that let any such name stand in a FoxPro command. Each change comes with the reason
// the transfer's report gives for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace FoxproNames {

inline constexpr std::size_t kFreeTableFieldName = 10;  // bytes of a free table's field name
inline constexpr std::size_t kLongName = 128;           // a container's long field name
inline constexpr std::size_t kMaxFields = 255;          // fields of one table

struct Renamed {
  std::string name;  // the name FoxPro gets
  std::string why;   // empty when the name is the source's, else why it changed
};

// The key under which two names of one run clash: upper case beyond ASCII too, since the
// file systems FoxPro runs on ignore letter case for every letter ("ÄPFEL" and "äpfel" are one
// file on Windows).
std::string UpperKey(const std::string& utf8);

// Field names for the columns, in order. Each becomes valid (letters, digits and "_", not
// starting with a digit; a letter outside ASCII only when the code page holds it), then fits
// (ten bytes in the code page in a free table, 128 characters in a container), then differs
// from the others in any letter case (a clash ends in a number: customer_n, customer_2).
std::vector<Renamed> FieldNames(const std::vector<std::string>& wanted, bool freeTable,
                                int codePage);

// The file name, without folder and extension, of the new table for a MySQL table: the name
// itself when it can be one, else as vfp::confineTableName makes it (separators, control
// characters and those Windows refuses become "_"), so the file always lands inside the folder.
Renamed TableFileStem(const std::string& table);

// The delimited form of a table reference in a FoxPro command: [name] when the name holds no
// "]", else the first of ', " and ` the name does not hold; nullopt when it holds all four.
std::optional<std::string> Delimited(const std::string& name, char preferred = '[');

}  // namespace FoxproNames
