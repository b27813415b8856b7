// What a table is made of, read in one place: its fields with their full types, its index tags
// and, for a member of a database container, what the container adds (long names, defaults,
// comments, the primary key) and the container's relations. Transfers that keep types and keys
// read a FoxPro table's shape here; nothing is written.
//
//   vfp::TableSchema t = vfp::describeTable(session.resolve("orders", true));
//   for (const auto& f : t.fields) ...  // f.name is what SELECT * calls the field
//   for (const auto& r : vfp::describeRelations("/data/shop.dbc")) ...
//
// Callers may rely on:
// - fields are the user fields in record order (no _NullFlags); name is the container's long
//   name for a member table, else the .dbf's name;
// - every tag of the structural index is listed, also tags the engine could not maintain
//   (another collation, a bitmap index): kind, expression, filter and collation say what each
//   is, so a caller can name what it cannot carry over instead of dropping it silently;
// - a member whose container is missing or does not list it gives vfp::Error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vfp {

struct FieldSchema {
  std::string name;     // long name in a container, else as in the .dbf
  std::string dbfName;  // as in the .dbf: upper case, at most ten characters
  char type = 'C';      // FoxPro type letter: C V M N F I B Y D T L W G Q
  std::uint32_t width = 0;
  std::uint8_t decimals = 0;
  bool nullable = false;
  bool binary = false;  // NOCPTRANS (always for Q, W, G)
  bool autoInc = false;
  std::uint32_t autoIncNext = 0;  // the value the next appended record receives
  std::uint8_t autoIncStep = 0;
  std::string defaultValue;  // the container's DEFAULT expression as written, empty for none
  std::string comment;       // the container's comment, empty for none
};

enum class TagKind {
  Primary,    // the candidate tag the container names as the table's primary key
  Candidate,  // unique keys, every record indexed (UNIQUE of CREATE TABLE, INDEX ... CANDIDATE)
  Unique,     // INDEX ... UNIQUE: the first record of each key only
  Regular
};

struct TagSchema {
  std::string name;        // as the index stores it: upper case
  std::string expression;  // as written; a member's may use the container's long names
  std::string filter;      // FOR expression, empty for none
  bool descending = false;
  TagKind kind = TagKind::Regular;
  std::string collation;  // "MACHINE", "GENERAL", ...
  bool bitmap = false;    // a Visual FoxPro 9 binary index (logical keys, no readable keys)
  std::uint16_t keyLength = 0;
};

struct TableSchema {
  std::string path;
  std::string name;       // long name in a container, else the file name without extension
  std::string container;  // the container's file, empty for a free table
  int codePage = 0;       // 0 when the header has no mark
  std::string comment;    // the container's comment of the table
  std::vector<FieldSchema> fields;
  std::vector<TagSchema> tags;  // in the index file's order
  std::uint32_t records = 0;    // records in the file, deleted ones included
};

// A container relation: the child table's tag refers to the parent's primary or candidate tag.
struct RelationSchema {
  std::string childTable;  // long names, as the container lists its tables
  std::string childTag;    // tag names upper case, as in the tables' indexes
  std::string parentTable;
  std::string parentTag;
  std::string rules;  // referential integrity letters (update, delete, insert), blank for none
};

// The shape of the table at tablePath. Throws vfp::Error when it cannot be read.
TableSchema describeTable(const std::string& tablePath);

// Every relation of the container at dbcPath.
std::vector<RelationSchema> describeRelations(const std::string& dbcPath);

}  // namespace vfp
