#include "filelist/path_logger.h"

#include <charconv>
#include <vector>

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

PathLogger::PathLogger(const platform::FileSystem& fileSystem, char separator)
    : fileSystemSource_(fileSystem), separator_(separator) {}

void PathLogger::PathLogInit() {
  fileSystem_ = &fileSystemSource_;
  fullFileNamesOnly_ = true;
  skipUnreadable_ = false;
  fileNames_.reset();
  pathNames_.reset();
  pathPointers_.reset();
  fullFileNames_.reset();
  unreadable_.reset();
}

void PathLogger::Terminate() {
  fileSystem_ = nullptr;
  fileNames_.reset();
  pathNames_.reset();
  pathPointers_.reset();
  fullFileNames_.reset();
  unreadable_.reset();
}

std::shared_ptr<StringCollection> PathLogger::fileNames() { return Made(fileNames_); }
std::shared_ptr<StringCollection> PathLogger::pathNames() { return Made(pathNames_); }
std::shared_ptr<IntCollection> PathLogger::pathPointers() { return Made(pathPointers_); }
std::shared_ptr<StringCollection> PathLogger::fullFileNames() { return Made(fullFileNames_); }
std::shared_ptr<StringCollection> PathLogger::unreadableFolders() { return Made(unreadable_); }

std::string PathLogger::AddBackslash(const std::string& path) const {
  if (!path.empty() && path.back() == separator_) return path;
  return path + separator_;
}

void PathLogger::LogPath(const std::string& path) {
  if (fileSystem_ == nullptr) {
    throw platform::PlatformError(91, "Object variable or With block variable not set");
  }
  if (!fileSystem_->folderExists(path)) return;

  counter_ = 1;
  std::int32_t queueLength = 1;
  Made(pathNames_)->Add(AddBackslash(path), Key(0));

  for (std::int32_t position = 1; position <= queueLength; ++position) {
    // Copied: the queue grows while this folder is read.
    const std::string folder = pathNames_->Item(position);
    try {
      readFolder(folder, position, queueLength);
    } catch (const platform::PlatformError&) {
      if (!skipUnreadable_) throw;
      auto& skipped = Made(unreadable_);
      skipped->Add(folder, Key(skipped->Count() + 1));
    }
  }
}

void PathLogger::readFolder(const std::string& folder, std::int32_t position,
                            std::int32_t& queueLength) {
  const std::vector<std::string> subFolders = fileSystem_->subFolderNames(folder);
  for (const std::string& name : subFolders) {
    ++queueLength;
    pathNames_->Add(folder + name + separator_, Key(queueLength));
  }
  const std::vector<std::string> files = fileSystem_->fileNames(folder);
  for (const std::string& name : files) {
    const std::string key = Key(counter_);
    if (fullFileNamesOnly_) {
      Made(fullFileNames_)->Add(folder + name, key);
    } else {
      Made(fileNames_)->Add(name, key);
      Made(fullFileNames_)->Add(folder + name, key);
      Made(pathPointers_)->Add(position, key);
    }
    ++counter_;
  }
}

}  // namespace parvane::filelist
