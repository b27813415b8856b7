// Module Main: the small procedures several windows share. They sit beside the platform services
// they wrap, so that every window (connection, main, preview, find-and-replace) can use them.
// None keeps state between calls and none carries the error trap: FileExists, KillFile,
// ClearClipboard and CopyTextToClipboard absorb their errors; the others let them reach the
// trap of the handler that called them.
#pragma once

#include <QString>

#include "ado/value.h"
#include "core/main_paths.h"

class QListWidget;
class QWidget;

namespace Main {

inline constexpr const char* kProductTitle = "Quillmere";
inline constexpr const char* kMakersSite = "https://www.tarnwick.example/";
inline constexpr int kTitleLengthLimit = 40;
inline constexpr int kClipboardAttempts = 1000;
inline constexpr const char* kSkinFile = "x/o.cjs";  // below the program's folder

// Some entry equals the text, ignoring case.
bool ListContains(const QListWidget& list, const QString& text);
// Removes every entry equal to the text (case-sensitive); the others keep their order.
void RemoveListItem(QListWidget& list, const QString& text);
// The substitute when the value is null, else the value (an empty text is not null).
ado::Value IfNull(const ado::Value& value, const ado::Value& substitute);

// True when the file's modification time can be read; false on any error.
bool FileExists(const QString& path);
// Deletes the file after letting pending events run once; read-only files go too, and a missing
// file is no error. Never throws.
void KillFile(const QString& path);
// Deletes the file even when it is read-only; throws platform::Error when it cannot.
void ForceDeleteFile(const QString& path);

// The connection window's look: when the skin file (a Qt style sheet) exists, the window and its
// option buttons, check boxes, frames and labels take the button-face colour and the style sheet
// is applied; without the file nothing changes. Throws when the file exists but cannot be read.
void ApplySkin(QWidget& window);
// The window and its option buttons, check boxes, frames and labels take the button-face colour.
void ApplyFormColors(QWidget& window);

// The product title cut at its last blank, at least once, until it is at most 40 characters
// long. A title without a blank cannot be cut there: it is kept whole, or cut to 40 characters.
QString ShortTitle(const QString& productTitle);
// Sets ShortTitle("Quillmere") as the application title (the caption of untitled boxes).
void SetShortTitle();
// One start in a hundred opens the maker's site: draws 1..100 and visits on 7.
void VisitWebSiteAtRandom();

// Empties the clipboard, up to 1000 attempts; errors are absorbed.
void ClearClipboard();
// Puts the text on the clipboard (format 0: plain text), up to 1000 attempts; true when one
// attempt succeeded. Errors are absorbed.
bool CopyTextToClipboard(const QString& text, int format = 0);

}  // namespace Main
