#include "ScriptedDialogs.h"

namespace platform {

ScriptedDialogs::ScriptedDialogs() {
  SetDialogProvider(this);
}

ScriptedDialogs::~ScriptedDialogs() {
  SetDialogProvider(nullptr);
}

void ScriptedDialogs::AnswerBoxes(std::initializer_list<int> answers) {
  boxAnswers_.insert(boxAnswers_.end(), answers);
}

void ScriptedDialogs::AnswerFiles(std::initializer_list<QString> paths) {
  fileAnswers_.insert(fileAnswers_.end(), paths);
}

QStringList ScriptedDialogs::BoxTexts() const {
  QStringList texts;
  for (const auto& box : boxes_) texts << box.text;
  return texts;
}

void ScriptedDialogs::Clear() {
  boxAnswers_.clear();
  fileAnswers_.clear();
  boxes_.clear();
  files_.clear();
}

int ScriptedDialogs::MessageBox(QWidget*, const QString& text, const QString& caption, BoxIcon icon,
                                BoxButtons buttons) {
  boxes_.push_back({text, caption, icon, buttons});
  if (boxAnswers_.empty()) return buttons == BoxButtons::Ok ? IDOK : IDCANCEL;
  const int answer = boxAnswers_.front();
  boxAnswers_.pop_front();
  return answer;
}

QString ScriptedDialogs::OpenFileName(QWidget*, const FileDialogRequest& request) {
  return NextFile(false, request);
}

QString ScriptedDialogs::SaveFileName(QWidget*, const FileDialogRequest& request) {
  return NextFile(true, request);
}

QString ScriptedDialogs::NextFile(bool save, const FileDialogRequest& request) {
  files_.push_back({save, request});
  if (fileAnswers_.empty()) return {};
  QString path = fileAnswers_.front();
  fileAnswers_.pop_front();
  return path;
}

}  // namespace platform
