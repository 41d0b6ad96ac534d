#include "filelist/add_folder.h"

#include <exception>

#include "filelist/add_files.h"
#include "filelist/folder_walker.h"
#include "platform/folder_paths.h"

namespace parvane::filelist {

bool IsMessageFile(const std::string& path) {
  std::size_t first = path.find_first_not_of(' ');
  if (first == std::string::npos) return false;
  std::size_t last = path.find_last_not_of(' ');
  if (last - first + 1 < 4) return false;
  // Compared in place: this runs for every file a walk finds.
  static constexpr char kExtension[] = ".msg";
  for (std::size_t k = 0; k < 4; ++k) {
    char c = path[last - 3 + k];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kExtension[k]) return false;
  }
  return true;
}

std::string FilesAddedMessage(std::int32_t count) {
  return std::to_string(count) + " Files Added to List.";
}

std::string UnreadableFoldersMessage(const std::vector<std::string>& folders) {
  std::string text = "These folders could not be read; their files were not added:";
  for (const std::string& folder : folders) text += "\r\n" + folder;
  return text;
}

namespace {

// Shows the busy pointer for its lifetime, whatever way the click ends.
class BusyPointer {
 public:
  explicit BusyPointer(platform::Desktop& desktop) : desktop_(desktop) {
    desktop_.setBusyPointer(true);
  }
  ~BusyPointer() { restore(); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;
  void restore() {
    if (busy_) {
      busy_ = false;
      desktop_.setBusyPointer(false);
    }
  }

 private:
  platform::Desktop& desktop_;
  bool busy_ = true;
};

}  // namespace

void AppendFolderTree(const AddFolderContext& c, const std::string& folder, std::vector<std::string>& unreadable,
                      std::int32_t& count) {
  BusyPointer busy(c.desktop);
  std::shared_ptr<StringCollection> files;
  {
    FolderWalker walker(c.fileSystem, c.separator);
    walker.prepare();
    walker.fullPathsOnly(true);
    walker.skipUnreadableFolders(true);
    walker.walk(folder.empty() || folder.back() == c.separator ? folder : folder + c.separator);
    files = walker.filePaths();
    for (auto& skipped : walker.unreadableFolders()->Values()) unreadable.push_back(skipped);
    walker.release();
  }

  for (const std::string& entry : *files) {
    c.desktop.yield();
    if (!IsMessageFile(entry)) continue;
    c.desktop.yield();
    AppendToList(c.list, entry);
    ++count;
  }
}

void ShowAdditionFailure(const AddFolderContext& c, const std::exception& error, std::int32_t count) {
  if (count > 0) c.convert.setEnabled(true);
  c.messages.show(ErrorText(error), platform::MessageButtons::Ok, platform::MessageIcon::Exclamation, kAppTitle);
}

void ShowFoldersAdded(const AddFolderContext& c, std::int32_t count, bool showCount,
                      const std::vector<std::string>& unreadable) {
  if (showCount) {
    c.messages.show(FilesAddedMessage(count), platform::MessageButtons::Ok, platform::MessageIcon::None, kAppTitle);
  }
  if (!unreadable.empty()) {
    c.messages.show(UnreadableFoldersMessage(unreadable), platform::MessageButtons::Ok,
                    platform::MessageIcon::Exclamation, kAppTitle);
  }
}

std::int32_t AddFolderTree(platform::FolderDialog& folderDialog, const AddFolderContext& c) {
  const std::string folder =
      platform::ChooseFolder(folderDialog, c.desktop.mainWindowHandle(), kSourceFolderTitle, c.separator);
  if (folder.empty()) return 0;

  std::int32_t count = 0;
  std::vector<std::string> unreadable;
  try {
    AppendFolderTree(c, folder, unreadable, count);
  } catch (const std::exception& e) {
    ShowAdditionFailure(c, e, count);
    return count;
  }
  c.convert.setEnabled(count > 0);
  ShowFoldersAdded(c, count, true, unreadable);
  return count;
}

}  // namespace parvane::filelist
