// The script as a text file: what "Save SQL Commands As Text File" writes.
//
// The file holds the text in the system's single-byte code page (ISO-8859-1, KOI8-R, ...) when
// the user's locale uses one, each character it cannot hold written as "?"; where the locale has
// no single-byte code page (UTF-8 locales, the plain C locale) the text is written in UTF-8, so
// nothing is lost.
#pragma once

#include <QByteArray>
#include <QString>

namespace transfer {

// The locale's character set when it is a single-byte one other than ASCII, else "UTF-8".
QByteArray ScriptFileCodeset();
// The same choice for a given locale character set and its longest character in bytes.
QByteArray ScriptFileCodeset(const QByteArray& localeCodeset, int maxBytesPerCharacter);

// The text in the given character set (an iconv name), "?" for each character it cannot hold;
// *replaced receives how many there were. Throws platform::Error for an unknown character set.
QByteArray EncodeScriptText(const QString& text, const QByteArray& codeset, long long* replaced);

// Creates or replaces the file with the text in ScriptFileCodeset(); returns how many characters
// were written as "?". Throws platform::Error naming the file when it cannot be written; an
// existing file is then left as it was.
long long SaveScriptFile(const QString& path, const QString& text);

// What the user is told when a save had to write characters as "?".
QString SavedReplacementMessage(long long replaced);

}  // namespace transfer
