// The typed way of sending a MySQL table to FoxPro: what the table looks like in MySQL (read from
// information_schema), the FoxPro field each column becomes, the literal each value is written
// as, and the tags its keys and indexes become. The classic script (memo fields holding text)
// does not use any of this.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ado/value.h"

namespace ado {
class Connection;
}

namespace transfer {

// One column as information_schema.COLUMNS describes it.
struct MySqlColumnShape {
  std::string name;
  std::string dataType;       // DATA_TYPE, lower case: "int", "varchar", "enum", ...
  std::string columnType;     // COLUMN_TYPE: "int(10) unsigned", "tinyint(1)", ...
  long long characters = -1;  // CHARACTER_MAXIMUM_LENGTH; -1 when none
  int precision = -1;         // NUMERIC_PRECISION
  int scale = -1;             // NUMERIC_SCALE
  int fraction = 0;           // DATETIME_PRECISION: digits of a second kept
  bool nullable = false;
  bool isUnsigned = false;
  bool autoIncrement = false;
  bool binary = false;  // a byte string: BINARY, VARBINARY, BLOB or the binary character set
};

// One key or index (information_schema.STATISTICS), its columns in order.
struct MySqlIndexShape {
  std::string name;
  bool primary = false;
  bool unique = false;
  std::vector<std::string> columns;
  bool prefix = false;      // some column is indexed by its first characters only
  bool functional = false;  // some part is an expression, not a column
};

// A foreign key (information_schema.KEY_COLUMN_USAGE) to a table of the same database.
struct MySqlForeignKeyShape {
  std::string name;
  std::vector<std::string> columns;
  std::string parent;
  std::vector<std::string> parentColumns;
};

struct MySqlTableShape {
  std::vector<MySqlColumnShape> columns;
  std::vector<MySqlIndexShape> indexes;  // the primary key first
  std::vector<MySqlForeignKeyShape> foreignKeys;
  std::optional<std::uint64_t> autoIncrementNext;  // TABLES.AUTO_INCREMENT
};

// Reads a table of the connection's current database. Throws ado::DataAccessError with the
// server's message when information_schema cannot be read.
MySqlTableShape ReadMySqlTableShape(ado::Connection& mysql, const std::string& table);

// How a value of a typed field is written in an INSERT line.
enum class TypedLiteral { Text, Bytes, Number, Logical, Date, DateTime, Time };

// The FoxPro field a MySQL column becomes.
struct TypedField {
  char type = 'M';
  std::uint32_t width = 0;  // 0: the type's own
  std::uint8_t decimals = 0;
  bool nullable = false;
  bool binary = false;   // NOCPTRANS
  bool autoInc = false;  // made autoincrementing once the rows are in
  TypedLiteral literal = TypedLiteral::Text;
  std::string note;  // what the field cannot keep of the column, for the report; empty if nothing
};

// FoxPro's own conversions: CHAR/VARCHAR up to 254 characters (in bytes of the code page) to
// C/V, longer text, TEXT and JSON to M; DECIMAL to N wide enough for sign, digits and point, or
// Y (Currency) for DECIMAL(19,4) and others of at most 15 whole digits and 4 decimals, or B
// where FoxPro's 20 characters cannot hold them; TINYINT(1), BOOLEAN and BIT(1) to L; integers
// that fit 32 bits to I, wider ones to N; FLOAT/DOUBLE to B; DATE to D; DATETIME/TIMESTAMP to T;
// TIME to C; YEAR to I; ENUM/SET to C (or M) wide enough for any value; byte strings to binary
// memos; AUTO_INCREMENT to an autoincrementing I. timeWidth: characters of the column's longest
// TIME value (for TIME columns only; 8 when none is longer).
TypedField MapMySqlColumn(const MySqlColumnShape& column, int codePage, std::size_t timeWidth = 8);

// The field's type clause in CREATE TABLE: "C(20) NULL", "N(12,2)", "M NOCPTRANS".
std::string FieldTypeClause(const TypedField& field);

// What writing a table's values met that the report names.
struct TypedValueFacts {
  long long zeroDates = 0;      // MySQL's 0000-00-00, written as an empty date
  long long fractionsLost = 0;  // date-times and times whose fractions of a second went
};

// Whether FoxPro holds the date (years 1 to 9999, a real day); the others are written empty.
bool FoxproHoldsDate(const ado::Date& date);
// The date and time of a DATE or DATETIME value (midnight for a date); nothing for another kind.
std::optional<ado::DateTime> DateTimeOf(const ado::Value& value);
// The logical a value becomes in an L field: numbers other than 0, text other than "0", ".0" and
// the like, true.
bool TypedLogical(const ado::Value& value);
// Characters of the longest TIME value of each TIME column of the table (hh:mm:ss, and a sign
// and a third hour digit where a value needs them), 8 for the other columns: the width of the
// character field each becomes.
std::vector<std::size_t> TypedTimeWidths(ado::Connection& mysql, const std::string& table,
                                         const MySqlTableShape& shape);

// Appends the value as a literal of the field's kind: NULL, a number, .T./.F., {^yyyy-mm-dd},
// {^yyyy-mm-dd hh:mm:ss}, text as the classic script writes it, bytes as 0h hexadecimal.
void AppendTypedLiteral(std::string& out, const ado::Value& value, const TypedField& field,
                        TypedValueFacts& facts);

// A tag a MySQL key or index becomes.
struct TypedTag {
  enum class Kind { Primary, Candidate, Regular };
  Kind kind = Kind::Regular;
  std::string name;                  // at most ten characters, unique in the table
  std::string expression;            // over the FoxPro field names
  std::string mysqlIndex;            // the key or index it comes from
  std::vector<std::string> columns;  // MySQL column names, in key order
};

// The tags of a table: PRIMARY KEY a primary tag in a container and a candidate one in a free
// folder, UNIQUE a candidate tag, other indexes regular tags; several columns joined as FoxPro
// indexes them (character fields with +, numbers through STR(), dates through DTOS(),
// date-times through TTOC(,1)). An index FoxPro cannot express (a memo or logical part in a
// compound key, an expression, a key longer than 240 bytes) is left out; report receives a line
// for every index left out or changed.
std::vector<TypedTag> PlanTypedTags(const MySqlTableShape& shape,
                                    const std::vector<TypedField>& fields,
                                    const std::vector<std::string>& fieldNames, bool container,
                                    std::vector<std::string>& report);

}  // namespace transfer
