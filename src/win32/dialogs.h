// The open-file dialog (GetOpenFileNameW) and the folder chooser
// (SHBrowseForFolderW) on Windows. Both use the wide-character forms so that
// names outside the system code page are kept.
#pragma once

#include "win32/windows_api.h"

#include <cstdint>
#include <string>

#include "platform/ui.h"

namespace parvane::win32 {

// "Description|pattern|..." as the dialog's filter: pieces separated by NULs,
// the whole ended by two.
std::wstring DialogFilter(const std::string& filter);

// The dialog's result in its buffer (the pieces up to the first empty one) as
// the OpenFileDialog contract has it: one full path, or the folder and each
// name, separated by NULs.
std::string OpenResultFromBuffer(const wchar_t* buffer, std::size_t size);

// How many names of a selection `spec` (the file-name box's text: one name, or
// names in double quotes) fit a result buffer of `maxFileSize` characters
// after `folder`.
std::int32_t NamesThatFit(const std::wstring& folder, const std::wstring& spec,
                          std::int32_t maxFileSize);

class Win32OpenFileDialog : public platform::OpenFileDialog {
 public:
  explicit Win32OpenFileDialog(HWND owner) : owner_(owner) {}
  void setFileName(const std::string& name) override { fileName_ = name; }
  void setFilter(const std::string& filter) override { filter_ = filter; }
  void setFlags(std::int32_t flags) override { flags_ = flags; }
  void setMaxFileSize(std::int32_t size) override { maxFileSize_ = size; }
  // Cancel leaves fileName() empty; a selection longer than the buffer raises
  // filelist::SelectionTooLongError; any other failure of the dialog raises
  // PlatformError with the common-dialog code.
  void showOpen() override;
  std::string fileName() const override { return fileName_; }

 private:
  HWND owner_;
  std::string fileName_;
  std::string filter_;
  std::int32_t flags_ = 0;
  std::int32_t maxFileSize_ = 260;
};

class Win32FolderDialog : public platform::FolderDialog {
 public:
  std::string browse(std::intptr_t owner, const std::string& title) override;
};

}  // namespace parvane::win32
