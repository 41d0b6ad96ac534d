// Qt implementations of the message box, the open-file dialog, the folder
// dialog and the desktop (pointer, message loop, main window handle).
#pragma once

#include <QtCore/QElapsedTimer>
#include <QtCore/QPointer>
#include <QtCore/QStringList>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace parvane::app {

// Builds the modal box that QtMessageBox shows: text (CR LF shown as a line
// break), buttons (Yes the default of Yes/No; neither Escape nor the title bar
// closes a Yes/No box), icon, title.
std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const std::string& text,
                                             platform::MessageButtons buttons,
                                             platform::MessageIcon icon, const std::string& title);

class QtMessageBox : public platform::MessageBox {
 public:
  explicit QtMessageBox(QWidget* parent) : parent_(parent) {}
  platform::MessageAnswer show(const std::string& text, platform::MessageButtons buttons,
                               platform::MessageIcon icon, const std::string& title) override;

 private:
  QPointer<QWidget> parent_;
};

// "Description|pattern|Description|pattern" as Qt name filters: each description,
// followed by " (pattern)" unless it already ends with that.
QStringList NameFilters(const std::string& filter);

// The open dialog's result for the chosen full paths: "" for none, the path
// itself for one, else the common folder, then each path relative to it, parted
// by NULs. Paths use the platform's separator.
std::string ComposeOpenResult(const std::vector<std::string>& fullPaths);

// How many leading names of a multiple choice fit a result buffer of
// `maxChars` UTF-16 units, counting a NUL after the folder and after each name
// and one closing NUL. For a single path: 1 when it fits with its NUL, else 0.
std::int32_t NamesThatFit(const std::string& result, std::int32_t maxChars);

// The open-file dialog over QFileDialog. A result longer than the maximum
// file-name size raises filelist::SelectionTooLongError with the number of
// chosen names that would have fitted.
class QtOpenFileDialog : public platform::OpenFileDialog {
 public:
  // Shows the dialog and returns the chosen full paths (empty on cancel).
  using Chooser = std::function<QStringList(QWidget* parent, const QStringList& nameFilters,
                                            bool multiple)>;
  explicit QtOpenFileDialog(QWidget* parent, Chooser chooser = {});

  void setFileName(const std::string& name) override { fileName_ = name; }
  void setFilter(const std::string& filter) override { filter_ = filter; }
  void setFlags(std::int32_t flags) override { flags_ = flags; }
  void setMaxFileSize(std::int32_t size) override { maxFileSize_ = size; }
  void showOpen() override;
  std::string fileName() const override { return fileName_; }

 private:
  QPointer<QWidget> parent_;
  Chooser chooser_;
  std::string fileName_, filter_;
  std::int32_t flags_ = 0, maxFileSize_ = 260;
};

// The folder dialog over QFileDialog::getExistingDirectory (folders only).
class QtFolderDialog : public platform::FolderDialog {
 public:
  using Chooser = std::function<QString(QWidget* parent, const QString& title)>;
  explicit QtFolderDialog(QWidget* parent, Chooser chooser = {});
  std::string browse(std::intptr_t owner, const std::string& title) override;

 private:
  QPointer<QWidget> parent_;
  Chooser chooser_;
};

// The busy pointer is Qt's override cursor. A yield handles the pending events
// at most once every `yieldInterval` milliseconds: one sooner after the last
// returns at once, so a loop that yields per item does not repaint per item
// while the window still answers within that interval.
class QtDesktop : public platform::Desktop {
 public:
  static constexpr int kYieldIntervalMs = 10;
  explicit QtDesktop(QWidget* mainWindow, int yieldIntervalMs = kYieldIntervalMs);
  ~QtDesktop() override;
  void setBusyPointer(bool busy) override;
  void yield() override;
  std::intptr_t mainWindowHandle() const override;
  bool busy() const { return busy_; }

 private:
  QPointer<QWidget> window_;
  int yieldInterval_;
  QElapsedTimer sinceYield_;
  bool busy_ = false;
};

}  // namespace parvane::app
