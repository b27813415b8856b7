// The per-user settings store: text values under application "Tarnwick", section "Quillmere".
// The store holds the MySQL password, so its file is kept readable and writable by its owner
// only. Tests point it elsewhere with QSettings::setPath (or XDG_CONFIG_HOME before the first
// use), never at the user's own file.
#pragma once

#include <QString>

namespace platform::Settings {

inline constexpr const char* kOrganisation = "Tarnwick";
inline constexpr const char* kApplication = "Quillmere";
inline constexpr const char* kSection = "Quillmere";

// The stored text, or fallback when the key is absent.
QString value(const QString& key, const QString& fallback = {});
bool contains(const QString& key);
// Stores the text at once (written through to the file, owner-only).
void setValue(const QString& key, const QString& text);
// Where the values are kept.
QString fileName();

}  // namespace platform::Settings
