#include "preview/script_editor.h"

#include <QAccessible>
#include <QAccessibleEditableTextInterface>
#include <QAccessibleWidget>
#include <algorithm>
#include <cmath>

namespace transfer {

namespace {

using Sci = QsciScintillaBase;

// Style bytes are not kept: the script is shown in one style, and they would double the memory.
// Positions are 64-bit, so a script past 2 GB is held like any other.
constexpr long kDocumentOptions =
    Sci::SC_DOCUMENTOPTION_STYLES_NONE | Sci::SC_DOCUMENTOPTION_TEXT_LARGE;
// Only the notices the accessibility events need: QScintilla answers the after-change notices by
// counting characters from the start of the text, and some of the others make Scintilla do work
// of its own for every change, both growing with the text.
constexpr unsigned long kChangeNotices = Sci::SC_MOD_BEFOREINSERT | Sci::SC_MOD_BEFOREDELETE;

unsigned long u(qsizetype v) { return static_cast<unsigned long>(v); }

// The editor as assistive technology sees it: an editable multi-line text.
class ScriptEditorAccessible : public QAccessibleWidget,
                               public QAccessibleTextInterface,
                               public QAccessibleEditableTextInterface {
 public:
  explicit ScriptEditorAccessible(ScriptEditor* editor)
      : QAccessibleWidget(editor, QAccessible::EditableText) {}

  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    if (t == QAccessible::EditableTextInterface)
      return static_cast<QAccessibleEditableTextInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }

  QAccessible::State state() const override {
    QAccessible::State st = QAccessibleWidget::state();
    st.selectableText = true;
    st.multiLine = true;
    if (editor()->isReadOnly()) {
      st.readOnly = true;
    } else {
      st.editable = true;
    }
    return st;
  }

  void selection(int index, int* start, int* end) const override {
    *start = *end = 0;
    if (index != 0 || selectionCount() == 0) return;
    *start = offset(editor()->SendScintilla(Sci::SCI_GETSELECTIONSTART));
    *end = offset(editor()->SendScintilla(Sci::SCI_GETSELECTIONEND));
  }
  int selectionCount() const override {
    return editor()->SendScintilla(Sci::SCI_GETSELECTIONSTART) !=
                   editor()->SendScintilla(Sci::SCI_GETSELECTIONEND)
               ? 1
               : 0;
  }
  void addSelection(int start, int end) override { setSelection(0, start, end); }
  void removeSelection(int index) override {
    if (index == 0)
      editor()->SendScintilla(Sci::SCI_SETEMPTYSELECTION,
                              u(editor()->SendScintilla(Sci::SCI_GETCURRENTPOS)));
  }
  void setSelection(int index, int start, int end) override {
    if (index == 0) editor()->SendScintilla(Sci::SCI_SETSEL, u(position(start)), position(end));
  }
  int cursorPosition() const override {
    return offset(editor()->SendScintilla(Sci::SCI_GETCURRENTPOS));
  }
  void setCursorPosition(int at) override {
    editor()->SendScintilla(Sci::SCI_GOTOPOS, u(position(at)));
  }
  QString text(int start, int end) const override {
    return editor()->textRange(position(start), position(end));
  }
  QString textBeforeOffset(int at, QAccessible::TextBoundaryType type, int* start,
                           int* end) const override {
    qsizetype s = 0, e = 0;
    if (type == QAccessible::NoBoundary || !bounds(position(at), type, &s, &e) || s == 0)
      return none(start, end);
    if (!bounds(editor()->SendScintilla(Sci::SCI_POSITIONBEFORE, u(s)), type, &s, &e))
      return none(start, end);
    return range(s, e, start, end);
  }
  QString textAfterOffset(int at, QAccessible::TextBoundaryType type, int* start,
                          int* end) const override {
    qsizetype s = 0, e = 0;
    if (type == QAccessible::NoBoundary || !bounds(position(at), type, &s, &e) ||
        e >= editor()->length() || !bounds(e, type, &s, &e))
      return none(start, end);
    return range(s, e, start, end);
  }
  QString textAtOffset(int at, QAccessible::TextBoundaryType type, int* start,
                       int* end) const override {
    qsizetype s = 0, e = 0;
    if (!bounds(position(at), type, &s, &e)) return none(start, end);
    return range(s, e, start, end);
  }
  int characterCount() const override { return int(editor()->characterCount()); }
  QRect characterRect(int at) const override {
    const qsizetype p = position(at);
    const qsizetype next = editor()->SendScintilla(Sci::SCI_POSITIONAFTER, u(p));
    const int x = int(editor()->SendScintilla(Sci::SCI_POINTXFROMPOSITION, 0UL, long(p)));
    const int y = int(editor()->SendScintilla(Sci::SCI_POINTYFROMPOSITION, 0UL, long(p)));
    const int x2 = int(editor()->SendScintilla(Sci::SCI_POINTXFROMPOSITION, 0UL, long(next)));
    const int h = int(editor()->SendScintilla(
        Sci::SCI_TEXTHEIGHT, u(editor()->SendScintilla(Sci::SCI_LINEFROMPOSITION, u(p)))));
    QRect r(x, y, std::max(1, x2 - x), h);
    r.moveTo(editor()->viewport()->mapToGlobal(r.topLeft()));
    return r;
  }
  int offsetAtPoint(const QPoint& point) const override {
    const QPoint p = editor()->viewport()->mapFromGlobal(point);
    const long at = editor()->SendScintilla(Sci::SCI_POSITIONFROMPOINTCLOSE, u(p.x()), p.y());
    return at < 0 ? -1 : offset(at);
  }
  void scrollToSubstring(int start, int end) override {
    editor()->SendScintilla(Sci::SCI_SCROLLRANGE, u(position(end)), position(start));
  }
  QString attributes(int, int* start, int* end) const override {
    // One style throughout.
    *start = 0;
    *end = characterCount();
    return {};
  }

  void deleteText(int start, int end) override {
    const qsizetype s = position(start);
    editor()->SendScintilla(Sci::SCI_DELETERANGE, u(s), position(end) - s);
  }
  void insertText(int at, const QString& text) override {
    editor()->SendScintilla(Sci::SCI_INSERTTEXT, u(position(at)), text.toUtf8().constData());
  }
  void replaceText(int start, int end, const QString& text) override {
    const QByteArray bytes = text.toUtf8();
    editor()->SendScintilla(Sci::SCI_SETTARGETRANGE, u(position(start)), position(end));
    editor()->SendScintilla(Sci::SCI_REPLACETARGET, u(bytes.size()), bytes.constData());
  }

 private:
  ScriptEditor* editor() const { return static_cast<ScriptEditor*>(widget()); }
  int offset(qsizetype position) const { return int(editor()->offsetFromPosition(position)); }
  qsizetype position(int offset) const { return editor()->positionFromOffset(offset); }
  static QString none(int* start, int* end) {
    *start = *end = -1;
    return {};
  }
  QString range(qsizetype s, qsizetype e, int* start, int* end) const {
    *start = offset(s);
    *end = offset(e);
    return editor()->textRange(s, e);
  }
  // The piece of the given kind around a byte position; lines include their line break.
  bool bounds(qsizetype p, QAccessible::TextBoundaryType type, qsizetype* s, qsizetype* e) const {
    const qsizetype length = editor()->length();
    switch (type) {
      case QAccessible::NoBoundary:
        *s = 0;
        *e = length;
        return true;
      case QAccessible::CharBoundary:
        if (p >= length) return false;
        *s = p;
        *e = editor()->SendScintilla(Sci::SCI_POSITIONAFTER, u(p));
        return true;
      case QAccessible::WordBoundary:
        if (p >= length) return false;
        *s = editor()->SendScintilla(Sci::SCI_WORDSTARTPOSITION, u(p), 1L);
        *e = editor()->SendScintilla(Sci::SCI_WORDENDPOSITION, u(p), 1L);
        if (*s == *e) {
          *s = p;
          *e = editor()->SendScintilla(Sci::SCI_POSITIONAFTER, u(p));
        }
        return true;
      default: {  // lines, and sentences and paragraphs as lines
        const qsizetype line = editor()->SendScintilla(Sci::SCI_LINEFROMPOSITION, u(p));
        *s = editor()->SendScintilla(Sci::SCI_POSITIONFROMLINE, u(line));
        *e = line + 1 < editor()->lineCount()
                 ? editor()->SendScintilla(Sci::SCI_POSITIONFROMLINE, u(line + 1))
                 : length;
        return *s < *e;
      }
    }
  }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object) {
  if (className == QLatin1String(ScriptEditor::staticMetaObject.className()) && object &&
      object->isWidgetType())
    return new ScriptEditorAccessible(static_cast<ScriptEditor*>(object));
  return nullptr;
}

}  // namespace

ScriptEditor::ScriptEditor(QWidget* parent) : QsciScintillaBase(parent) {
  const QFont f = font();
  const QByteArray family = f.family().toUtf8();
  SendScintilla(SCI_STYLESETFONT, STYLE_DEFAULT, family.constData());
  SendScintilla(SCI_STYLESETSIZEFRACTIONAL, STYLE_DEFAULT,
                std::lround(f.pointSizeF() * static_cast<int>(SC_FONT_SIZE_MULTIPLIER)));
  SendScintilla(SCI_STYLESETBOLD, STYLE_DEFAULT, long(f.bold()));
  SendScintilla(SCI_STYLECLEARALL);
  // No margins: the preview is plain text, as in a stock editor.
  for (unsigned long m = 0; m < 5; ++m) SendScintilla(SCI_SETMARGINWIDTHN, m, 0L);
  // The horizontal scroll bar follows the widest line seen so far rather than measuring all.
  SendScintilla(SCI_SETSCROLLWIDTH, 1UL);
  SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1UL);
  SendScintilla(SCI_SETWRAPMODE, static_cast<unsigned long>(SC_WRAP_NONE));
  SendScintilla(SCI_SETMODEVENTMASK, kChangeNotices);
  static const bool installed = [] {
    QAccessible::installFactory(accessibleFactory);
    return true;
  }();
  (void)installed;
  connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
          [this](int position, int type, const char* text, int length, int, int, int, int, int,
                 int) { modified(position, type, text, length); });
  connect(this, &QsciScintillaBase::SCN_UPDATEUI, this, [this](int) { uiUpdated(); });
  clearAll();
}

ScriptEditor::~ScriptEditor() = default;

void ScriptEditor::setUp() {
  // Code page, line ends and the rest below belong to the document, so a fresh one gets them.
  SendScintilla(SCI_SETCODEPAGE, static_cast<unsigned long>(SC_CP_UTF8));
  SendScintilla(SCI_SETEOLMODE, static_cast<unsigned long>(SC_EOL_CRLF));
  SendScintilla(SCI_SETPASTECONVERTENDINGS, 1UL);
  // Keeps each line's offset in UTF-16 code units, so offsets need not be counted.
  SendScintilla(SCI_ALLOCATELINECHARACTERINDEX,
                static_cast<unsigned long>(SC_LINECHARACTERINDEX_UTF16));
}

void ScriptEditor::clearAll() {
  emit aboutToChange();
  const bool readOnly = isReadOnly();
  const long doc = SendScintilla(SCI_CREATEDOCUMENT, 0UL, kDocumentOptions);
  // The view takes its own reference and lets go of the old document, which is freed here.
  SendScintilla(SCI_SETDOCPOINTER, 0UL, doc);
  SendScintilla(SCI_RELEASEDOCUMENT, 0UL, doc);
  setUp();
  setReadOnly(readOnly);
}

void ScriptEditor::appendUtf8(const char* data, qsizetype size) {
  if (size <= 0) return;
  const bool readOnly = isReadOnly();
  if (readOnly) setReadOnly(false);
  const long undo = SendScintilla(SCI_GETUNDOCOLLECTION);
  if (undo) SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
  SendScintilla(SCI_APPENDTEXT, static_cast<unsigned long>(size), data);
  if (undo) SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
  if (readOnly) setReadOnly(true);
}

void ScriptEditor::reserve(qsizetype bytes) {
  if (bytes > length()) SendScintilla(SCI_ALLOCATE, u(bytes));
}

std::string_view ScriptEditor::utf8() const {
  const qsizetype n = length();
  if (n == 0) return {};
  const auto* p = reinterpret_cast<const char*>(SendScintilla(SCI_GETCHARACTERPOINTER));
  return {p, static_cast<std::size_t>(n)};
}

qsizetype ScriptEditor::length() const { return SendScintilla(SCI_GETLENGTH); }

void ScriptEditor::truncate(qsizetype from) {
  const qsizetype end = length();
  if (from < 0 || from >= end) return;
  const bool readOnly = isReadOnly();
  if (readOnly) setReadOnly(false);
  const long undo = SendScintilla(SCI_GETUNDOCOLLECTION);
  if (undo) SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
  SendScintilla(SCI_DELETERANGE, u(from), static_cast<long>(end - from));
  if (undo) SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
  if (readOnly) setReadOnly(true);
}

qsizetype ScriptEditor::lineCount() const { return SendScintilla(SCI_GETLINECOUNT); }

qsizetype ScriptEditor::lineStart(qsizetype index) const {
  if (index >= lineCount()) return length();
  return SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(index));
}

std::string_view ScriptEditor::line(qsizetype index) const {
  const long start = SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(index));
  const long end = SendScintilla(SCI_GETLINEENDPOSITION, static_cast<unsigned long>(index));
  if (start < 0 || end <= start) return {};
  // Only the gap's position may move, and only when it lies inside the line.
  const auto* p = reinterpret_cast<const char*>(
      SendScintilla(SCI_GETRANGEPOINTER, static_cast<unsigned long>(start), end - start));
  return {p, static_cast<std::size_t>(end - start)};
}

bool ScriptEditor::isReadOnly() const { return SendScintilla(SCI_GETREADONLY) != 0; }

void ScriptEditor::setReadOnly(bool readOnly) {
  SendScintilla(SCI_SETREADONLY, static_cast<unsigned long>(readOnly));
}

void ScriptEditor::setUndoCollection(bool on) {
  SendScintilla(SCI_SETUNDOCOLLECTION, static_cast<unsigned long>(on));
}

void ScriptEditor::emptyUndoBuffer() { SendScintilla(SCI_EMPTYUNDOBUFFER); }

void ScriptEditor::goToStart() { SendScintilla(SCI_DOCUMENTSTART); }

qsizetype ScriptEditor::offsetFromPosition(qsizetype position) const {
  position = std::clamp<qsizetype>(position, 0, length());
  const long line = SendScintilla(SCI_LINEFROMPOSITION, u(position));
  const long start = SendScintilla(SCI_POSITIONFROMLINE, u(line));
  return SendScintilla(SCI_INDEXPOSITIONFROMLINE, u(line), long(SC_LINECHARACTERINDEX_UTF16)) +
         SendScintilla(SCI_COUNTCODEUNITS, u(start), long(position));
}

qsizetype ScriptEditor::positionFromOffset(qsizetype offset) const {
  offset = std::clamp<qsizetype>(offset, 0, characterCount());
  const long line =
      SendScintilla(SCI_LINEFROMINDEXPOSITION, u(offset), long(SC_LINECHARACTERINDEX_UTF16));
  const long first =
      SendScintilla(SCI_INDEXPOSITIONFROMLINE, u(line), long(SC_LINECHARACTERINDEX_UTF16));
  const long start = SendScintilla(SCI_POSITIONFROMLINE, u(line));
  if (offset == first) return start;
  const long at = SendScintilla(SCI_POSITIONRELATIVECODEUNITS, u(start), long(offset - first));
  return at > 0 ? at : length();
}

QString ScriptEditor::textRange(qsizetype from, qsizetype to) const {
  from = std::clamp<qsizetype>(from, 0, length());
  to = std::clamp<qsizetype>(to, from, length());
  if (to == from) return {};
  const auto* p =
      reinterpret_cast<const char*>(SendScintilla(SCI_GETRANGEPOINTER, u(from), long(to - from)));
  return QString::fromUtf8(p, to - from);
}

void ScriptEditor::modified(int position, int type, const char* text, int length) {
  if (type & (SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE)) emit aboutToChange();
  if (!QAccessible::isActive()) return;
  if ((type & SC_MOD_BEFOREINSERT) && text) {
    QAccessibleTextInsertEvent event(this, int(offsetFromPosition(position)),
                                     QString::fromUtf8(text, length));
    QAccessible::updateAccessibility(&event);
  } else if (type & SC_MOD_BEFOREDELETE) {
    QAccessibleTextRemoveEvent event(this, int(offsetFromPosition(position)),
                                     textRange(position, qsizetype(position) + length));
    QAccessible::updateAccessibility(&event);
  }
}

void ScriptEditor::uiUpdated() {
  if (!QAccessible::isActive()) return;
  const qsizetype at = offsetFromPosition(SendScintilla(SCI_GETCURRENTPOS));
  if (at == cursorOffset_) return;
  cursorOffset_ = at;
  QAccessibleTextCursorEvent event(this, int(at));
  QAccessible::updateAccessibility(&event);
}

EditorLines::EditorLines(ScriptEditor* editor) : editor_(editor), count_(editor->lineCount()) {}

std::string_view EditorLines::line(qsizetype index) const {
  if (detached_) {
    if (index < first_) return {};
    const auto at = static_cast<std::size_t>(index - first_) * 2;
    return {copy_.constData() + bounds_[at],
            static_cast<std::size_t>(bounds_[at + 1] - bounds_[at])};
  }
  if (!editor_) return {};
  current_ = std::max(current_, index);
  return editor_->line(index);
}

void EditorLines::detach() {
  if (detached_ || !editor_) return;
  detached_ = true;
  first_ = std::min(current_, count_);
  const ScriptEditor& e = *editor_;
  const qsizetype from = first_ < count_ ? e.SendScintilla(ScriptEditor::SCI_POSITIONFROMLINE,
                                                           static_cast<unsigned long>(first_))
                                         : e.length();
  const std::string_view text = e.utf8();
  copy_ = QByteArray(text.data() + from, static_cast<qsizetype>(text.size()) - from);
  bounds_.reserve(static_cast<std::size_t>(count_ - first_) * 2);
  for (qsizetype i = first_; i < count_; ++i) {
    bounds_.push_back(
        e.SendScintilla(ScriptEditor::SCI_POSITIONFROMLINE, static_cast<unsigned long>(i)) - from);
    bounds_.push_back(
        e.SendScintilla(ScriptEditor::SCI_GETLINEENDPOSITION, static_cast<unsigned long>(i)) -
        from);
  }
}

}  // namespace transfer
