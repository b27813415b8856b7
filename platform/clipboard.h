// The system clipboard, one attempt at a time. The retrying (the clipboard may be held by another
// program for a moment) lives in Main::ClearClipboard and Main::CopyTextToClipboard; this
// interface only says whether one attempt worked, so tests can make attempts fail.
#pragma once

#include <QString>

namespace platform {

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // One attempt each; false (or an exception) when the clipboard refused.
  virtual bool tryClear() = 0;
  // format 0 is plain text; any other number puts the text under that clipboard format.
  virtual bool trySetText(const QString& text, int format) = 0;
};

// The MIME type under which a numbered clipboard format is stored.
QString clipboardFormatMimeType(int format);

class QtClipboard : public Clipboard {
 public:
  bool tryClear() override;
  bool trySetText(const QString& text, int format) override;
};

}  // namespace platform
