// Form5, "Find and Replace": replaces every occurrence of one text by another in the whole
// script of a preview window (Form4), for instance to change a column type in every generated
// command before the script runs. Modal over the preview; created per use and discarded when it
// closes, so each opening starts with both boxes empty.
#pragma once

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
