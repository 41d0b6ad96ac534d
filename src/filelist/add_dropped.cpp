#include "filelist/add_dropped.h"

#include <exception>

#include "filelist/add_files.h"
#include "filelist/add_folder.h"

namespace parvane::filelist {

std::string NotAddedMessage(const std::vector<std::string>& paths) {
  std::string text = "Only .msg files and folders can be added; these were not:";
  for (const std::string& path : paths) text += "\r\n" + path;
  return text;
}

std::int32_t AddDroppedPaths(const AddFolderContext& c, const std::vector<std::string>& paths,
                             const std::vector<std::string>& unusable) {
  std::int32_t count = 0;
  bool folderDropped = false;
  std::vector<std::string> unreadable, notAdded;
  try {
    for (const std::string& path : paths) {
      if (c.fileSystem.folderExists(path)) {
        folderDropped = true;
        AppendFolderTree(c, path, unreadable, count);
      } else if (IsMessageFile(path)) {
        AppendToList(c.list, path);
        ++count;
      } else {
        notAdded.push_back(path);
      }
    }
  } catch (const std::exception& e) {
    ShowAdditionFailure(c, e, count);
    return count;
  }
  if (count > 0) c.convert.setEnabled(true);
  ShowFoldersAdded(c, count, folderDropped, unreadable);
  notAdded.insert(notAdded.end(), unusable.begin(), unusable.end());
  if (!notAdded.empty()) {
    c.messages.show(NotAddedMessage(notAdded), platform::MessageButtons::Ok,
                    platform::MessageIcon::Exclamation, kAppTitle);
  }
  return count;
}

}  // namespace parvane::filelist
