#include "transfer/script_editor.h"

#include <cmath>

namespace transfer {

namespace {
// Style bytes are not kept: the script is shown in one style, and they would double the memory.
constexpr long kDocumentOptions = QsciScintillaBase::SC_DOCUMENTOPTION_STYLES_NONE;
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
  clearAll();
}

ScriptEditor::~ScriptEditor() = default;

void ScriptEditor::setUp() {
  // Code page, line ends and the rest below belong to the document, so a fresh one gets them.
  SendScintilla(SCI_SETCODEPAGE, static_cast<unsigned long>(SC_CP_UTF8));
  SendScintilla(SCI_SETEOLMODE, static_cast<unsigned long>(SC_EOL_CRLF));
  SendScintilla(SCI_SETPASTECONVERTENDINGS, 1UL);
}

void ScriptEditor::clearAll() {
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

std::string_view ScriptEditor::utf8() const {
  const qsizetype n = length();
  if (n == 0) return {};
  const auto* p = reinterpret_cast<const char*>(SendScintilla(SCI_GETCHARACTERPOINTER));
  return {p, static_cast<std::size_t>(n)};
}

qsizetype ScriptEditor::length() const { return SendScintilla(SCI_GETLENGTH); }

qsizetype ScriptEditor::lineCount() const { return SendScintilla(SCI_GETLINECOUNT); }

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

}  // namespace transfer
