// Database containers (.dbc with its .dct memo and .dcx index), read side: the objects a
// container holds, its tables and views by their long names, and the long field names of its
// member tables (their .dbf holds names cut to ten characters; index expressions use the long
// ones).
//
// Callers may rely on: deleted container rows are never reported; member paths are resolved
// against the container's folder, case-insensitively; a container that names a missing file,
// or a table whose backlink points at another container, gives vfp::Error naming both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vfp::dbc {

// Property ids of the PROPERTY memo that this engine reads or writes. Other ids (including
// user-defined two-byte ones) are kept verbatim.
namespace propid {
inline constexpr std::uint16_t kPath = 1;
inline constexpr std::uint16_t kClass = 2;
inline constexpr std::uint16_t kComment = 7;
inline constexpr std::uint16_t kDefaultValue = 11;  // of a field: an expression, as written
inline constexpr std::uint16_t kChildTag = 13;      // of a relation
inline constexpr std::uint16_t kIsUnique = 17;      // of an index: 1 for a primary/candidate tag
inline constexpr std::uint16_t kParentTable = 18;   // of a relation: the parent's long name
inline constexpr std::uint16_t kParentTag = 19;     // of a relation
inline constexpr std::uint16_t kPrimaryKey = 20;    // of a table: its primary tag
inline constexpr std::uint16_t kVersion = 24;
}  // namespace propid

// Class property values.
namespace objclass {
inline constexpr std::uint8_t kTable = 1;
inline constexpr std::uint8_t kLocalView = 6;
inline constexpr std::uint8_t kRemoteView = 7;
}  // namespace objclass

// One PROPERTY entry: [u32 LE entry length][u16 LE id length][id LE][value].
struct Property {
  static constexpr std::size_t kLengthSize = 4;
  static constexpr std::size_t kIdLengthSize = 2;

  std::uint32_t id = 0;
  std::uint16_t idLength = 1;  // 1 for built-in ids, 2 for user-defined ones
  std::string value;           // raw: strings keep their terminating NUL

  static Property string(std::uint16_t id, std::string_view text);  // adds the NUL
  static Property byte(std::uint16_t id, std::uint8_t v);
  std::string text() const;  // value without the terminating NUL
};

// Throws vfp::Error for an entry that runs past the memo's end.
std::vector<Property> decodeProperties(std::string_view memo);
std::string encodeProperties(const std::vector<Property>& props);
const Property* findProperty(const std::vector<Property>& props, std::uint32_t id);

struct Object {
  std::uint32_t recno = 0;  // 1-based record number in the .dbc
  std::int32_t id = 0;
  std::int32_t parent = 0;
  std::string type;    // "Database", "Table", "View", "Field", "Index", "Relation", ...
  std::string name;    // trailing blanks removed
  std::string riInfo;  // RIINFO of a Relation row, trailing blanks removed
  std::vector<Property> properties;
};

// A persistent relation: the child table (the Relation row's parent) and its tag refer to the
// parent table's primary or candidate tag. Tags are named as the container keeps them (lower
// case).
struct Relation {
  std::string name;  // "Relation 1", ...
  std::int32_t childId = 0;
  std::string childTable;  // long names
  std::string childTag;
  std::string parentTable;
  std::string parentTag;
  std::string riInfo;  // update, delete, insert rule letters (C, R, I), blank when none
};

struct Member {
  std::string name;  // long name as the container keeps it
  std::string type;  // "TABLE" or "VIEW"
  std::string path;  // the table's file (resolved, existing); empty for views
  std::int32_t id = 0;
};

class Container {
 public:
  // Reads the container's live rows and properties. Throws vfp::Error when the file is not a
  // database container or its memo file cannot be read.
  static Container open(const std::string& dbcPath);

  const std::string& path() const { return path_; }
  const std::vector<Object>& objects() const { return objects_; }

  // Tables and views in container order. A table whose file is missing gives vfp::Error.
  std::vector<Member> members() const;
  // By long name, ignoring letter case.
  std::optional<Member> find(const std::string& name) const;
  // The Table object whose Path names this file.
  const Object* tableForFile(const std::string& tablePath) const;
  // Long names of a table's fields, in field order.
  std::vector<std::string> fieldNames(std::int32_t tableId) const;
  // The file a Table object's Path names, resolved against the container's folder; empty when
  // it does not exist.
  std::string resolvePath(const Object& table) const;
  // The Field rows of a table in field order, and its Index rows.
  std::vector<const Object*> children(std::int32_t tableId, std::string_view type) const;
  // The object with this id, or nullptr.
  const Object* byId(std::int32_t id) const;
  // Every relation, in container order.
  std::vector<Relation> relations() const;

 private:
  std::string path_;
  std::vector<Object> objects_;
};

// Adds the free table just created at tablePath to the container, as CREATE TABLE in an open
// database does: a Table row (Class, Path) and one Field row per column (long names, lower
// case; a DefaultValue property where fieldDefaults gives one) appended with OBJECTID = record
// number, the .dcx rebuilt, then the table's backlink set. longFieldNames are in field order
// (the .dbf holds them cut to ten characters). Throws vfp::Error, before changing anything,
// when the name is taken or too long.
void addTable(const std::string& dbcPath, const std::string& tablePath, const std::string& longName,
              const std::vector<std::string>& longFieldNames,
              const std::vector<std::string>& fieldDefaults = {});

// Records a tag of a member's structural index, as INDEX ON and the key clauses do: an Index row
// (lower-case name, IsUnique) appended, or the existing row of that name brought up to date;
// with primary, the Table row's PrimaryKey names the tag. Property changes append a new
// property memo and then point the row at it, so a row never holds half a list.
void addIndex(const std::string& dbcPath, const std::string& tablePath, const std::string& tag,
              bool candidate, bool primary);

// Appends a Relation row under the child table (ChildTag, ParentTable, ParentTag), named
// "Relation n" as FoxPro numbers them per child table.
void addRelation(const std::string& dbcPath, const std::string& childPath,
                 const std::string& childTag, const std::string& parentPath,
                 const std::string& parentTag);

// Removes a member from the container, as DROP TABLE does: its Table row, its Field and Index
// rows and every relation involving it are marked deleted and the .dcx is rebuilt. Deleting the
// table's files is left to the caller.
void removeTable(const std::string& dbcPath, const std::string& tablePath);

// Whether a member may be renamed as RENAME TABLE does: throws vfp::Error naming the reason when
// the table is not a member, the new name is empty, too long or taken by another table or view,
// or a relation names the table as its parent (relations keep that table by name, and this
// engine does not rewrite them).
void checkRenamable(const std::string& dbcPath, const std::string& tablePath,
                    const std::string& longName);
// Gives the member whose files have just moved from fromPath to toPath (same folder) its new
// name and path, as RENAME TABLE does: its Table row's OBJECTNAME and Path property change in one
// record write, the property list going to a new block of the .dct, and the .dcx is rebuilt.
void renameTable(const std::string& dbcPath, const std::string& fromPath, const std::string& toPath,
                 const std::string& longName);

// Longest table and field names a container keeps (OBJECTNAME width).
inline constexpr std::size_t kMaxLongName = 128;

// The container the table at tablePath belongs to (its backlink names it); nullopt for a free
// table. Throws vfp::Error when the container is missing or does not list the table.
std::optional<Container> containerOf(const std::string& tablePath);

// Long field names of the table at tablePath when it belongs to a container (its backlink is
// set); empty for a free table. Throws vfp::Error when the container is missing or does not
// list the table.
std::vector<std::string> memberFieldNames(const std::string& tablePath);

}  // namespace vfp::dbc
