#include "vfp/schema.h"

#include <algorithm>

#include "vfp/cdx_reader.h"
#include "vfp/codepage.h"
#include "vfp/dbc.h"
#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/table.h"

namespace vfp {

namespace {

std::string textProperty(const dbc::Object& o, std::uint16_t id) {
  const dbc::Property* p = dbc::findProperty(o.properties, id);
  return p ? p->text() : std::string();
}

}  // namespace

TableSchema describeTable(const std::string& tablePath) {
  const Table t(tablePath);
  const auto& h = t.header();
  TableSchema out;
  out.path = t.path();
  out.name = t.name();
  out.codePage = codePageFromMark(h.codePageMark);
  out.records = h.recordCount;
  for (int index : t.userFields()) {
    const auto& f = h.fields[std::size_t(index)];
    FieldSchema fs;
    fs.name = fs.dbfName = t.fieldName(std::size_t(index));
    fs.type = f.type;
    fs.width = f.length;
    fs.decimals = f.decimals;
    fs.nullable = f.isNullable();
    fs.binary = f.isBinary() || f.type == 'Q' || f.type == 'W' || f.type == 'G';
    // I, B, Y and T carry the binary flag too; it means nothing for them.
    if (f.type == 'I' || f.type == 'B' || f.type == 'Y' || f.type == 'T') fs.binary = false;
    fs.autoInc = f.isAutoInc();
    if (fs.autoInc) {
      fs.autoIncNext = f.autoIncNext;
      fs.autoIncStep = f.autoIncStep;
    }
    out.fields.push_back(std::move(fs));
  }

  std::string primary;
  if (const auto c = dbc::containerOf(t.path())) {
    const dbc::Object* row = c->tableForFile(t.path());
    out.container = c->path();
    out.name = row->name;
    out.comment = textProperty(*row, dbc::propid::kComment);
    primary = textProperty(*row, dbc::propid::kPrimaryKey);
    // Field rows pair with the .dbf's fields by position, as FoxPro pairs them.
    const auto fields = c->children(row->id, "Field");
    for (std::size_t i = 0; i < fields.size() && i < out.fields.size(); ++i) {
      out.fields[i].name = fields[i]->name;
      out.fields[i].defaultValue = textProperty(*fields[i], dbc::propid::kDefaultValue);
      out.fields[i].comment = textProperty(*fields[i], dbc::propid::kComment);
    }
  }

  if (h.tableFlags & tableflag::kHasCdx) {
    const char* ext = (h.tableFlags & tableflag::kIsDatabase) ? ".dcx" : ".cdx";
    const auto cdxPath = findCompanion(t.path(), ext);
    if (!cdxPath)
      throw Error("Structural .CDX file '" + fileNameOf(replaceExtension(t.path(), ext)) +
                  "' of table '" + fileNameOf(t.path()) + "' is not found.");
    const auto file = cdx::IndexFile::open(nativePath(*cdxPath));
    auto tags = file.tags();
    std::sort(tags.begin(), tags.end(),
              [](const auto& a, const auto& b) { return a.headerOffset < b.headerOffset; });
    for (const auto& tag : tags) {
      const auto& th = tag.header;
      TagSchema ts;
      ts.name = tag.name;
      ts.expression = th.keyExpression;
      ts.filter = th.forExpression;
      ts.descending = th.descending;
      ts.keyLength = th.keyLength;
      ts.bitmap = th.signature == cdx::signature::kBinaryIndex;
      ts.collation = th.isMachineCollation() || th.collation.empty() ? "MACHINE" : th.collation;
      if (th.options & cdx::option::kCandidate)
        ts.kind = equalsNoCase(tag.name, primary) ? TagKind::Primary : TagKind::Candidate;
      else if (th.options & cdx::option::kUnique)
        ts.kind = TagKind::Unique;
      out.tags.push_back(std::move(ts));
    }
  }
  return out;
}

std::vector<RelationSchema> describeRelations(const std::string& dbcPath) {
  const dbc::Container c = dbc::Container::open(dbcPath);
  std::vector<RelationSchema> out;
  for (const auto& r : c.relations())
    out.push_back({r.childTable, toUpperAscii(r.childTag), r.parentTable, toUpperAscii(r.parentTag),
                   r.riInfo});
  return out;
}

}  // namespace vfp
