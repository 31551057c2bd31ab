#pragma once
// A DialogProvider for tests: answers from a script, records every request,
// and installs itself for its lifetime.

#include "Dialogs.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <vector>

namespace platform {

class ScriptedDialogs : public DialogProvider {
 public:
  struct Box {
    QString text;
    QString caption;
    BoxIcon icon;
    BoxButtons buttons;
  };
  struct FileRequest {
    bool save;
    FileDialogRequest request;
  };

  ScriptedDialogs();
  ~ScriptedDialogs() override;

  // Answers for the next message boxes, in order. A box with no scripted
  // answer gets IDOK (OK box) or IDCANCEL (question).
  void AnswerBoxes(std::initializer_list<int> answers);
  // Paths for the next file dialogs, in order; an empty path is a cancel.
  void AnswerFiles(std::initializer_list<QString> paths);

  const std::vector<Box>& boxes() const { return boxes_; }
  const std::vector<FileRequest>& fileRequests() const { return files_; }
  QStringList BoxTexts() const;
  void Clear();

  int MessageBox(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon,
                 BoxButtons buttons) override;
  QString OpenFileName(QWidget* owner, const FileDialogRequest& request) override;
  QString SaveFileName(QWidget* owner, const FileDialogRequest& request) override;

 private:
  QString NextFile(bool save, const FileDialogRequest& request);

  std::deque<int> boxAnswers_;
  std::deque<QString> fileAnswers_;
  std::vector<Box> boxes_;
  std::vector<FileRequest> files_;
};

}  // namespace platform
