// Form5, "Find and Replace": replaces every occurrence of one text by another in the whole
// script of a preview window (Form4), for instance to change a column type in every generated
// command before the script runs. Modal over the preview; created per use and discarded when it
// closes, so each opening starts with both boxes empty.
#pragma once

#include <QByteArray>
#include <QByteArrayMatcher>
#include <QDialog>
#include <QString>
#include <array>

class Form4;
class QLabel;
class QLineEdit;
class QPushButton;

namespace platform {
class WindowPointer;
}

namespace Form5Texts {
inline constexpr const char* kCaption = "Find and Replace";
inline constexpr const char* kFillBoth = "Please fill both textboxes.";
}  // namespace Form5Texts

namespace transfer {
// Every occurrence of find replaced by replacement: exact and case-sensitive, searched from the
// start, occurrences do not overlap and replaced text is not searched again. find must not be
// empty.
QString ReplaceAll(const QString& text, const QString& find, const QString& replacement);

// The same replacement on UTF-8 text, done a slice at a time so a window can answer between
// slices of a script of a million lines. A match that straddles two slices is found whole. (A
// UTF-8 text matches only at whole characters, so bytes give what characters would.)
class StepwiseReplace {
 public:
  StepwiseReplace(QByteArray text, QByteArray find, QByteArray replacement);
  // Searches up to `bytes` more bytes of the text; false once the whole text is done.
  bool step(qsizetype bytes);
  bool changed() const { return matches_ > 0; }
  // The text with every occurrence replaced; call once step() returned false.
  QByteArray take();

 private:
  QByteArray text_;
  QByteArray find_;
  QByteArray replacement_;
  QByteArrayMatcher matcher_;
  QByteArray result_;
  qsizetype from_ = 0;     // the text before this is done
  qsizetype scanned_ = 0;  // no match starts before this
  long long matches_ = 0;
};
}  // namespace transfer

class Form5 : public QDialog {
  Q_OBJECT

 public:
  explicit Form5(Form4& preview, QWidget* parent = nullptr);
  ~Form5() override;

  void Form_Load();
  void PushButton3_Click();  // "Replace All"
  void PushButton1_Click();  // "Cancel"

  std::array<QLabel*, 2> Label1;  // "Find what:", "Replace with:" (objectNames Label1_0, Label1_1)
  QLineEdit* Text1;               // the text to find
  QLineEdit* Text2;               // the replacement
  QPushButton* PushButton3;
  QPushButton* PushButton1;

  platform::WindowPointer& pointer() { return *pointer_; }

 private:
  Form4& preview_;
  platform::WindowPointer* pointer_;
};
