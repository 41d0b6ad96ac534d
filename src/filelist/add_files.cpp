#include "filelist/add_files.h"

#include <new>

namespace parvane::filelist {

std::vector<std::string> PathsFromDialogResult(const std::string& result, char separator) {
  std::vector<std::string> paths;
  if (result.empty()) return paths;
  std::string s = result;
  if (s.back() != '\0') s.push_back('\0');

  // Parts p(0) .. p(k), k being the number of NULs.
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t nul = s.find('\0'); nul != std::string::npos; nul = s.find('\0', start)) {
    parts.push_back(s.substr(start, nul - start));
    start = nul + 1;
  }
  parts.push_back(s.substr(start));
  const std::size_t k = parts.size() - 1;

  std::string prefix;
  if (k >= 2) {
    prefix = parts[0];
    if (prefix.empty() || prefix.back() != separator) prefix.push_back(separator);
  }
  for (std::size_t i = 0; i < k; ++i) {
    if (i == 0 && !prefix.empty()) continue;
    paths.push_back(prefix + parts[i]);
  }
  return paths;
}

std::string ErrorText(const std::exception& error) {
  std::int32_t code = 51;
  if (const auto* platformError = dynamic_cast<const platform::PlatformError*>(&error)) {
    code = platformError->code();
  } else if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
    code = 7;
  }
  return std::to_string(code) + ":" + error.what();
}

std::string TooManyFilesMessage(std::int32_t namesThatFit) {
  return "Please select only " + std::to_string(namesThatFit) + " files at a time";
}

namespace {

void Warn(platform::MessageBox& messages, const std::string& text) {
  messages.show(text, platform::MessageButtons::Ok, platform::MessageIcon::Exclamation,
                kAppTitle);
}

}  // namespace

void AddFilesFromDialog(platform::OpenFileDialog& dialog, const FileListControls& list,
                        platform::Button& convert, platform::MessageBox& messages, char separator) {
  try {
    dialog.setFileName("");
    dialog.setFilter(kMessageFilter);
    dialog.setFlags(kOpenDialogFlags);
    dialog.setMaxFileSize(kOpenDialogBuffer);
    dialog.showOpen();
    const std::string result = dialog.fileName();
    if (result.empty()) return;
    convert.setEnabled(true);
    for (const std::string& path : PathsFromDialogResult(result, separator)) {
      AppendToList(list, path);
    }
  } catch (const platform::PlatformError& e) {
    if (e.code() == platform::OpenFileDialog::kBufferTooSmall) {
      const auto* tooLong = dynamic_cast<const SelectionTooLongError*>(&e);
      Warn(messages, TooManyFilesMessage(tooLong ? tooLong->namesThatFit() : 0));
    } else {
      Warn(messages, ErrorText(e));
    }
  } catch (const std::exception& e) {
    Warn(messages, ErrorText(e));
  }
}

}  // namespace parvane::filelist
