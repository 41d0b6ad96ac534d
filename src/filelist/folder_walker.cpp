#include "filelist/folder_walker.h"

#include <charconv>
#include <vector>

#include "engine/core/io_error.h"

namespace parvane::filelist {

namespace {

std::string Key(std::int32_t n) {
  char text[16] = {'K'};
  const auto end = std::to_chars(text + 1, text + sizeof text, n).ptr;
  return std::string(text, end);
}

template <class C>
std::shared_ptr<C>& Made(std::shared_ptr<C>& collection) {
  if (!collection) collection = std::make_shared<C>();
  return collection;
}

}  // namespace

FolderWalker::FolderWalker(core::FileSystem& fileSystem, char separator)
    : fileSystemSource_(fileSystem), separator_(separator) {}

void FolderWalker::prepare() {
  release();  // a walk starts from empty collections
  fileSystem_ = &fileSystemSource_;
  fullPathsOnly_ = true;
  skipUnreadable_ = false;
  sink_ = nullptr;
}

void FolderWalker::release() {
  fileSystem_ = nullptr;
  fileNames_.reset();
  visitedFolders_.reset();
  folderPositions_.reset();
  filePaths_.reset();
  unreadable_.reset();
  folderLinks_.clear();
  danglingLinks_.clear();
}

std::shared_ptr<StringCollection> FolderWalker::fileNames() { return Made(fileNames_); }
std::shared_ptr<StringCollection> FolderWalker::visitedFolders() { return Made(visitedFolders_); }
std::shared_ptr<IntCollection> FolderWalker::folderPositions() { return Made(folderPositions_); }
std::shared_ptr<StringCollection> FolderWalker::filePaths() { return Made(filePaths_); }
std::shared_ptr<StringCollection> FolderWalker::unreadableFolders() { return Made(unreadable_); }

std::string FolderWalker::WithClosingSeparator(const std::string& path) const {
  if (!path.empty() && path.back() == separator_) return path;
  return path + separator_;
}

void FolderWalker::walk(const std::string& path) {
  if (fileSystem_ == nullptr) {
    throw platform::PlatformError(91, "Object variable or With block variable not set");
  }
  if (!fileSystem_->folderExists(path)) return;

  counter_ = 1;
  std::int32_t queueLength = 1;
  Made(visitedFolders_)->Add(WithClosingSeparator(path), Key(0));

  for (std::int32_t position = 1; position <= queueLength; ++position) {
    // Copied: the queue grows while this folder is read.
    const std::string folder = visitedFolders_->Item(position);
    try {
      readFolder(folder, position, queueLength);
    } catch (const core::IoError&) {
      if (!skipUnreadable_) throw;
      auto& skipped = Made(unreadable_);
      skipped->Add(folder, Key(skipped->Count() + 1));
    }
  }
}

void FolderWalker::readFolder(const std::string& folder, std::int32_t position,
                              std::int32_t& queueLength) {
  const core::FolderListing listing = fileSystem_->listFolder(folder);
  for (const std::string& name : listing.folders) {
    ++queueLength;
    visitedFolders_->Add(folder + name + separator_, Key(queueLength));
  }
  for (const std::string& name : listing.folderLinks) folderLinks_.push_back(folder + name);
  for (const std::string& name : listing.danglingLinks) danglingLinks_.push_back(folder + name);
  for (const std::string& name : listing.files) {
    if (sink_) {
      sink_(folder, name);
      ++counter_;
      continue;
    }
    const std::string key = Key(counter_);
    if (fullPathsOnly_) {
      Made(filePaths_)->Add(folder + name, key);
    } else {
      Made(fileNames_)->Add(name, key);
      Made(filePaths_)->Add(folder + name, key);
      Made(folderPositions_)->Add(position, key);
    }
    ++counter_;
  }
}

}  // namespace parvane::filelist
