#include "transfer/foxpro_names.h"

#include <QChar>
#include <QList>
#include <QString>
#include <set>
#include <string_view>

#include "vfp/codepage.h"
#include "vfp/names.h"

namespace FoxproNames {

namespace {

bool asciiLetter(char32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool asciiDigit(char32_t c) { return c >= '0' && c <= '9'; }

// Bytes the name takes in the code page (a double-byte page counts two for most letters).
std::size_t storedBytes(const std::string& utf8, const vfp::TextConverter& cp) {
  std::string out;
  cp.fromUtf8(utf8, out);
  return out.size();
}

// The name cut to at most `limit` units, never inside a character.
std::string cut(const std::string& utf8, std::size_t limit, bool bytes,
                const vfp::TextConverter& cp) {
  const QString q = QString::fromStdString(utf8);
  QString out;
  std::size_t used = 0;
  for (qsizetype i = 0; i < q.size();) {
    qsizetype n = q.at(i).isHighSurrogate() && i + 1 < q.size() ? 2 : 1;
    QString ch = q.mid(i, n);
    std::size_t size = bytes ? storedBytes(ch.toStdString(), cp) : 1;
    if (used + size > limit) break;
    out += ch;
    used += size;
    i += n;
  }
  return out.toStdString();
}

}  // namespace

std::string UpperKey(const std::string& utf8) {
  return QString::fromStdString(utf8).toUpper().toStdString();
}

std::vector<Renamed> FieldNames(const std::vector<std::string>& wanted, bool freeTable,
                                int codePage) {
  const auto cp = vfp::converterFor(codePage);
  const std::size_t limit = freeTable ? kFreeTableFieldName : kLongName;
  std::vector<Renamed> out;
  std::set<std::string> used;
  for (const std::string& source : wanted) {
    Renamed r;
    std::vector<std::string> why;
    // Characters FoxPro does not take in a name become "_".
    QString valid;
    QString bad;
    const QString q = QString::fromStdString(source);
    for (char32_t c : q.toUcs4()) {
      QString ch = QString::fromUcs4(&c, 1);
      bool ok = asciiLetter(c) || asciiDigit(c) || c == '_';
      if (!ok && c >= 0x80 && QChar::isLetter(c)) {
        std::string stored;
        ok = cp->fromUtf8(ch.toStdString(), stored) == 0;
      }
      if (ok) {
        valid += ch;
      } else {
        valid += QLatin1Char('_');
        if (!bad.contains(ch)) bad += ch;
      }
    }
    if (!bad.isEmpty())
      why.push_back("FoxPro takes no \"" + bad.toStdString() + "\" in a field name");
    if (valid.isEmpty()) {
      valid = QStringLiteral("field");
      why.push_back("the name is empty");
    } else if (asciiDigit(valid.at(0).unicode())) {
      valid.prepend(QLatin1Char('_'));
      why.push_back("a field name cannot begin with a digit");
    }
    std::string name = valid.toStdString();
    const std::size_t size = freeTable ? storedBytes(name, *cp) : std::size_t(valid.size());
    if (size > limit) {
      name = cut(name, limit, freeTable, *cp);
      why.push_back(freeTable ? "a free table's field names have at most 10 characters"
                              : "field names have at most 128 characters");
    }
    if (used.count(UpperKey(name))) {
      // The tail gives way to a number until the name is free: CUSTOMER_2, CUSTOMER_3, ...
      for (int k = 2;; ++k) {
        const std::string number = "_" + std::to_string(k);
        std::string stem = name;
        while (!stem.empty() && (freeTable ? storedBytes(stem + number, *cp)
                                           : std::size_t(QString::fromStdString(stem).size()) +
                                                 number.size()) > limit)
          stem = cut(stem,
                     (freeTable ? storedBytes(stem, *cp)
                                : std::size_t(QString::fromStdString(stem).size())) -
                         1,
                     freeTable, *cp);
        if (!used.count(UpperKey(stem + number))) {
          name = stem + number;
          break;
        }
      }
      why.push_back("another column already has that name in FoxPro");
    }
    used.insert(UpperKey(name));
    r.name = name;
    for (std::size_t i = 0; i < why.size(); ++i) r.why += (i ? "; " : "") + why[i];
    out.push_back(std::move(r));
  }
  return out;
}

Renamed TableFileStem(const std::string& table) {
  // The engine's one rule for names that come from a database and become file names.
  vfp::ConfinedName confined = vfp::confineTableName(table);
  return {confined.stem, confined.reason};
}

std::optional<std::string> Delimited(const std::string& name, char preferred) {
  std::string order;
  order += preferred;
  for (char c : {'[', '\'', '"', '`'})
    if (c != preferred) order += c;
  for (char open : order) {
    const char close = open == '[' ? ']' : open;
    if (name.find(close) == std::string::npos) return open + name + close;
  }
  return std::nullopt;
}

}  // namespace FoxproNames
