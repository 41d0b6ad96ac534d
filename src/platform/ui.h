// The window-side operations the plain logic needs. The Qt widgets implement them
// (src/app/qt), a native Windows front end can implement them again, and the tests
// implement them in memory. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace parvane::platform {

// A failure reported by a platform facility, with its numeric code (as the
// Windows controls number them) and a description.
class PlatformError : public std::runtime_error {
 public:
  PlatformError(std::int32_t code, const std::string& description)
      : std::runtime_error(description), code_(code) {}
  std::int32_t code() const { return code_; }

 private:
  std::int32_t code_;
};

// The file-list grid: a table of text cells with one current cell.
class Grid {
 public:
  virtual ~Grid() = default;
  virtual std::int32_t rows() const = 0;
  virtual void setRows(std::int32_t rows) = 0;  // rows are added or removed at the end
  virtual void setCols(std::int32_t cols) = 0;
  virtual void setFixedRows(std::int32_t fixedRows) = 0;
  virtual void setRow(std::int32_t row) = 0;  // makes a cell current: row first,
  virtual void setCol(std::int32_t col) = 0;  // then column
  virtual std::string text() const = 0;       // the current cell's text
  virtual void setText(const std::string& text) = 0;
  virtual void setColWidth(std::int32_t col, std::int32_t twips) = 0;
  virtual void clear() = 0;  // empties every cell; counts and widths stay
};

class Label {
 public:
  virtual ~Label() = default;
  virtual std::string caption() const = 0;
  virtual void setCaption(const std::string& caption) = 0;
};

class Button {
 public:
  virtual ~Button() = default;
  virtual bool enabled() const = 0;
  virtual void setEnabled(bool enabled) = 0;
};

class ProgressBar {
 public:
  virtual ~ProgressBar() = default;
  virtual void setMin(float min) = 0;
  virtual void setMax(float max) = 0;
  virtual float value() const = 0;
  virtual void setValue(float value) = 0;
};

enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Question, Information, Exclamation };
enum class MessageAnswer { Ok, Yes, No };

class MessageBox {
 public:
  virtual ~MessageBox() = default;
  virtual MessageAnswer show(const std::string& text, MessageButtons buttons, MessageIcon icon,
                             const std::string& title) = 0;
};

// The open-file dialog, configured anew before each use. fileName() after
// showOpen() is "" on cancel, one full path for one file, or the folder, NUL and
// each name separated by NULs for several. Failures raise PlatformError
// (code 20476 when the names do not fit the maximum file-name size).
class OpenFileDialog {
 public:
  static constexpr std::int32_t kBufferTooSmall = 20476;
  virtual ~OpenFileDialog() = default;
  virtual void setFileName(const std::string& name) = 0;
  virtual void setFilter(const std::string& filter) = 0;  // "Description|pattern"
  virtual void setFlags(std::int32_t flags) = 0;
  virtual void setMaxFileSize(std::int32_t size) = 0;
  virtual void showOpen() = 0;
  virtual std::string fileName() const = 0;
};

// A modal folder dialog showing only file-system folders. Returns the chosen
// folder's path, or "" when the user cancelled. May raise on failure; callers
// go through ChooseFolder, which never does.
class FolderDialog {
 public:
  virtual ~FolderDialog() = default;
  virtual std::string browse(std::intptr_t owner, const std::string& title) = 0;
};

// The screen's mouse pointer and the message loop.
class Desktop {
 public:
  virtual ~Desktop() = default;
  virtual void setBusyPointer(bool busy) = 0;
  virtual void yield() = 0;  // handles pending window messages, then returns
  virtual std::intptr_t mainWindowHandle() const = 0;
};

}  // namespace parvane::platform
