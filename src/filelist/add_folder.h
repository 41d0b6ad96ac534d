// The "Add Folder having MSG File(s)..." click: every message file of a chosen
// folder tree joins the file list.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "engine/core/file_system.h"
#include "filelist/file_list.h"
#include "platform/folder_paths.h"
#include "platform/ui.h"

namespace parvane::filelist {

inline constexpr const char* kSourceFolderTitle = "Choose Source Folder...";

// True when `path`, lower-cased (ASCII) and stripped of spaces at both ends,
// ends in ".msg".
bool IsMessageFile(const std::string& path);

// "N Files Added to List."
std::string FilesAddedMessage(std::int32_t count);

// The box naming the folders that could not be read.
std::string UnreadableFoldersMessage(const std::vector<std::string>& folders);

// What adding folders (by the click or by a drop) needs of the window.
struct AddFolderContext {
  platform::Desktop& desktop;
  core::FileSystem& fileSystem;
  FileListControls list;
  platform::Button& convert;
  platform::MessageBox& messages;
  char separator = platform::kPathSeparator;
};

// The walk behind the click, without the chooser: with the busy pointer shown,
// every message file of `folder`'s tree is appended in the walk's order
// (yielding before each entry and before each append); folders that cannot be
// read are skipped and added to `unreadable`. Each file appended counts in
// `count` at once, so that a caller that catches what the walk raises knows
// what stayed.
void AppendFolderTree(const AddFolderContext& context, const std::string& folder,
                      std::vector<std::string>& unreadable, std::int32_t& count);

// What an addition that failed part way shows: "code:description", with
// "Convert Messages" enabled when anything was added before.
void ShowAdditionFailure(const AddFolderContext& context, const std::exception& error, std::int32_t count);
// The "N Files Added to List." box (when `showCount`), then the box naming the
// unreadable folders, if any.
void ShowFoldersAdded(const AddFolderContext& context, std::int32_t count, bool showCount,
                      const std::vector<std::string>& unreadable);

// The click: asks for a folder (cancel: nothing happens), walks its tree with
// the busy pointer shown, appends every message file in the walk's order
// (yielding before each entry and before each append), enables `convert` when
// it added any file and disables it otherwise, and reports the number added.
// Folders that cannot be read are skipped and named in one more box. Any
// other failure restores the pointer, keeps what was appended and is reported
// as "code:description". Returns the number of files added.
std::int32_t AddFolderTree(platform::FolderDialog& folderDialog, const AddFolderContext& context);

}  // namespace parvane::filelist
