// The "Add MSG File(s)..." click: the open-file dialog's result string becomes
// rows of the file list.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "filelist/file_list.h"
#include "platform/folder_paths.h"
#include "platform/ui.h"

namespace parvane::filelist {

inline constexpr const char* kMessageFilter = "Email Messages (*.msg)|*.msg";
inline constexpr std::int32_t kOpenDialogFlags = 0x80200;  // allow multi-select | explorer
inline constexpr std::int32_t kOpenDialogBuffer = 1000;    // characters of the result

// Raised by an open-file dialog whose chosen names do not fit its result
// buffer: code 20476, with the number of chosen names that would have fitted.
class SelectionTooLongError : public platform::PlatformError {
 public:
  explicit SelectionTooLongError(std::int32_t namesThatFit)
      : platform::PlatformError(platform::OpenFileDialog::kBufferTooSmall,
                                "The file name buffer is too small for the selected files"),
        namesThatFit_(namesThatFit) {}
  std::int32_t namesThatFit() const { return namesThatFit_; }

 private:
  std::int32_t namesThatFit_;
};

// The full paths named by a dialog result: "" gives none; a result without NUL
// is one full path; otherwise the first part is the folder and each following
// part (up to the last NUL) a name in it. The part after the last NUL is never
// a path.
std::vector<std::string> PathsFromDialogResult(const std::string& result,
                                               char separator = platform::kPathSeparator);

// "code:description" for a failure: a PlatformError's own code; 7 for lack of
// memory; 51 (internal error) for anything else.
std::string ErrorText(const std::exception& error);

// The warning shown when the selection does not fit the buffer.
std::string TooManyFilesMessage(std::int32_t namesThatFit);

// The click: configures and shows the dialog; on a non-empty result enables
// `convert` and appends each chosen path in the result's order. A selection
// too long for the buffer appends nothing and shows TooManyFilesMessage (N from
// SelectionTooLongError, 0 when the dialog did not say); any other failure
// shows "code:description". Paths appended before a failure stay.
void AddFilesFromDialog(platform::OpenFileDialog& dialog, const FileListControls& list,
                        platform::Button& convert, platform::MessageBox& messages,
                        char separator = platform::kPathSeparator);

}  // namespace parvane::filelist
