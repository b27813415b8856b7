#include "support/scripted_dialogs.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QSettings>
#include <stdexcept>

namespace testing_support {

int ScriptedDialogs::messageBox(QWidget*, const QString& text, int style, const QString& caption) {
  shown.push_back({Shown::Kind::Message, text, style, caption, {}, true, {}, {}});
  if (whileMessageShown) whileMessageShown(text);
  if (!messageAnswers.empty()) {
    int answer = messageAnswers.front();
    messageAnswers.pop_front();
    return answer;
  }
  if ((style & platform::kMsgBoxButtonsMask) != platform::vbOKOnly) {
    ADD_FAILURE() << "unscripted question: " << text.toStdString();
    return platform::vbCancel;
  }
  return platform::vbOK;
}

QString ScriptedDialogs::nextText() {
  if (textAnswers.empty()) return {};
  QString t = textAnswers.front();
  textAnswers.pop_front();
  return t;
}

QString ScriptedDialogs::inputBox(QWidget*, const QString& prompt, const QString& caption,
                                  const QString& defaultText) {
  shown.push_back({Shown::Kind::Input, prompt, 0, caption, {}, true, defaultText, {}});
  return nextText();
}

QString ScriptedDialogs::openFile(QWidget*, const platform::FileDialogRequest& r) {
  shown.push_back({Shown::Kind::OpenFile, {}, 0, r.title, r.filter, r.confirmOverwrite, {}, {}});
  return nextText();
}

QString ScriptedDialogs::saveFile(QWidget*, const platform::FileDialogRequest& r) {
  shown.push_back({Shown::Kind::SaveFile, {}, 0, r.title, r.filter, r.confirmOverwrite, {}, {}});
  return nextText();
}

QString ScriptedDialogs::chooseFolder(QWidget*, const QString& prompt, const QString& start) {
  shown.push_back({Shown::Kind::Folder, prompt, 0, {}, {}, true, start, {}});
  return nextText();
}

int ScriptedDialogs::showModal(QDialog& dialog) {
  QString name = dialog.objectName().isEmpty()
                     ? QString::fromLatin1(dialog.metaObject()->className())
                     : dialog.objectName();
  shown.push_back({Shown::Kind::Modal, {}, 0, dialog.windowTitle(), {}, true, {}, name});
  int result = 0;
  if (!modalScripts.empty()) {
    auto script = std::move(modalScripts.front());
    modalScripts.pop_front();
    dialog.setModal(true);
    dialog.show();
    result = script(dialog);
  }
  dialog.hide();
  return result;
}

std::vector<Shown> ScriptedDialogs::messages() const {
  std::vector<Shown> out;
  for (const auto& s : shown)
    if (s.kind == Shown::Kind::Message) out.push_back(s);
  return out;
}

bool FakeClipboard::fails() {
  if (failuresBeforeSuccess < 0 || failed_ < failuresBeforeSuccess) {
    ++failed_;
    if (throwOnFailure) throw std::runtime_error("clipboard busy");
    return true;
  }
  return false;
}

bool FakeClipboard::tryClear() {
  ++clearAttempts;
  if (fails()) return false;
  cleared = true;
  text.clear();
  format = -1;
  return true;
}

bool FakeClipboard::trySetText(const QString& t, int f) {
  ++setAttempts;
  if (fails()) return false;
  text = t;
  format = f;
  return true;
}

UiTestEnvironment::UiTestEnvironment() {
  // Every test gets its own settings file; the user's own is never touched.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
  app_ = std::make_unique<platform::Application>();
  auto d = std::make_unique<ScriptedDialogs>();
  auto c = std::make_unique<FakeClipboard>();
  auto k = std::make_unique<FakeDesktop>();
  dialogs_ = d.get();
  clipboard_ = c.get();
  desktop_ = k.get();
  app_->setDialogs(std::move(d));
  app_->setClipboard(std::move(c));
  app_->setDesktop(std::move(k));
  app_->setProgramFolder(programDir_.path());
  app_->endProgram = [this] { ++endRequests; };
}

UiTestEnvironment::~UiTestEnvironment() { app_.reset(); }

}  // namespace testing_support
