// The FoxPro commands that the MySQL-to-FoxPro transfer writes into the preview: one creation
// command per table (memo and blob columns) and one insertion command per row, each on one
// line. Plain functions, so the exact texts are testable without a window or a database.
#pragma once

#include <string>
#include <vector>

#include "ado/value.h"

namespace FoxproScript {

// "[" + name + "]" with every space and "/" turned into "_".
std::string ColumnEntry(const std::string& fieldName);
// The column entry without its brackets.
std::string BareName(const std::string& columnEntry);
// True when a bare column name reads as a number ("2021", "1.5", "-3", "1e5"), which FoxPro
// would not take as a field name.
bool IsNumericName(const std::string& bareName);

// True for the type codes whose values are bytes rather than text.
bool IsBinaryType(int typeCode);
// Column text appended after the column entry: " BLOB," for binary types, " M," otherwise.
std::string ColumnText(int typeCode);

// "CREATE TABLE '" + path + "'(" + entries and column texts + ")".
std::string CreateCommand(const std::string& targetPath,
                          const std::vector<std::string>& columnEntries,
                          const std::vector<int>& typeCodes);
// The same with the path already delimited ('path', or "path" when it holds a quote), and
// " CODEPAGE = n" before the columns unless the code page is FoxPro's default 1252.
std::string CreateCommand(const std::string& delimitedPath,
                          const std::vector<std::string>& columnEntries,
                          const std::vector<int>& typeCodes, int codePage);

// A FoxPro expression that yields the value: '' for NULL and empty text; quoted pieces of at
// most 200 characters with quotes doubled; CR and LF as CHR(13) and CHR(10) joined in, so the
// command stays on one line and the text arrives whole; bytes as a 0h hexadecimal literal.
std::string Literal(const ado::Value& value, int typeCode);
// The same expression appended to out, for building a command in one reused buffer.
void AppendLiteral(std::string& out, const ado::Value& value, int typeCode);

// "INSERT INTO [" + path + "] VALUES(" + literals joined by ", " + ")".
std::string InsertCommand(const std::string& targetPath, const std::vector<std::string>& literals);

}  // namespace FoxproScript
