// What the two halves of the typed MySQL script (the tables, and the foreign keys between them)
// share: how a field and a key column are found and how names are written. Internal to
// transfer/typed_mysql*.cpp.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ado/mysql_session.h"
#include "vfp/file.h"
#include "vfp/schema.h"

namespace transfer::typed {

inline std::string Quote(const std::string& name) { return ado::quoteMySqlName(name); }

inline bool SameName(std::string_view a, std::string_view b) { return vfp::equalsNoCase(a, b); }

// A character field that compares as text (not NOCPTRANS).
bool IsCharacter(const vfp::FieldSchema& f);

// The field a key names, by long or .dbf name, an alias before the name allowed.
std::optional<std::size_t> FieldNamed(const vfp::TableSchema& t, std::string_view name);

// Constraint and index names: at most 64 characters, MySQL's limit.
std::string KeyName(const std::string& name);

// (`a`,`b`)
std::string ColumnList(const std::vector<std::string>& columns);

}  // namespace transfer::typed
