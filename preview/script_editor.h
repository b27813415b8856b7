// The preview's editor: the script's text as UTF-8 bytes in one gap buffer with a line index,
// shown by a view that lays out only the lines on screen (Scintilla, through QScintilla). A
// script of a million lines costs little more than its bytes, and execution, save and find and
// replace read those bytes where they lie instead of a copy.
//
// Lines end at CR LF, a lone CR or a lone LF; Enter and pasted text write CR LF. Screen readers
// reach the text through accessible text and editable-text interfaces, as they do a stock
// editor's, with character offsets found through a per-line index: QScintilla's own interface
// counts from the start of the text for every offset and every keystroke, which takes a third of
// a second near the end of a million lines.
#pragma once

#include <Qsci/qsciscintillabase.h>

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <string_view>
#include <vector>

#include "transfer/script_runner.h"

namespace transfer {

class ScriptEditor : public QsciScintillaBase {
  Q_OBJECT

 public:
  explicit ScriptEditor(QWidget* parent = nullptr);
  ~ScriptEditor() override;

  // Appends UTF-8 text at the end, without undo history and whether read-only or not.
  void appendUtf8(const char* data, qsizetype size);
  void appendUtf8(const QByteArray& bytes) { appendUtf8(bytes.constData(), bytes.size()); }
  // Makes room for a text of this many bytes in all, so appending up to it copies nothing.
  void reserve(qsizetype bytes);
  // Empties the editor by giving it a fresh document: freeing a large one is a few large
  // frees, where deleting its text would remove line after line.
  void clearAll();

  // The whole text as it stands. The view is valid until the text next changes.
  std::string_view utf8() const;
  QString text() const { return QString::fromUtf8(utf8().data(), qsizetype(utf8().size())); }
  qsizetype length() const;

  // Removes the text from byte position `from` to the end, without undo history and whether
  // read-only or not.
  void truncate(qsizetype from);

  qsizetype lineCount() const;  // a text ending in a line break has an empty last line
  qsizetype lineStart(qsizetype index) const;  // byte position; length() past the last line
  // Line `index` without its line break; valid until the text next changes.
  std::string_view line(qsizetype index) const;

  bool isReadOnly() const;
  void setReadOnly(bool readOnly);
  // Whether typing and undo are recorded (off while the window fills the editor).
  void setUndoCollection(bool on);
  void emptyUndoBuffer();

  void goToStart();

  // Character offsets (UTF-16 code units, as the accessibility interfaces count) and byte
  // positions, in time that does not grow with the text.
  qsizetype offsetFromPosition(qsizetype position) const;
  qsizetype positionFromOffset(qsizetype offset) const;
  qsizetype characterCount() const { return offsetFromPosition(length()); }
  // The text between two byte positions.
  QString textRange(qsizetype from, qsizetype to) const;

 signals:
  // The text is about to change (typing, inserting, deleting, emptying).
  void aboutToChange();

 private:
  void setUp();
  void modified(int position, int type, const char* text, int length);
  void uiUpdated();

  qsizetype cursorOffset_ = -1;  // as last told to assistive technology
};

// The editor's lines as a run reads them, counted when the run starts. Before the editor's text
// changes, detach() copies the lines not yet run, so edits made during a run leave it alone; an
// editor destroyed meanwhile has no lines to read (empty lines: the run's next check of its
// window stops it).
class EditorLines : public ScriptSource {
 public:
  explicit EditorLines(ScriptEditor* editor);
  qsizetype lineCount() const override { return count_; }
  std::string_view line(qsizetype index) const override;
  // Copies the lines from the last one read on; called as the editor is about to change.
  void detach();

 private:
  QPointer<ScriptEditor> editor_;
  qsizetype count_;
  mutable qsizetype current_ = 0;  // no line before it is read again
  bool detached_ = false;
  qsizetype first_ = 0;            // the first line of the copy
  QByteArray copy_;                // the copied text
  std::vector<qsizetype> bounds_;  // start and end of each copied line within copy_
};

}  // namespace transfer
