#include "import/engine_store_service.h"

#include <filesystem>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "engine/core/text.h"
#include "engine/core/io_error.h"
#include "engine/core/source.h"
#include "engine/messaging/errors.h"
#include "engine/messaging/folder_names.h"
#include "engine/msg/message.h"
#include "import/message_translation.h"
#include "import/read_ahead.h"

namespace parvane::importer {

using conversion::FolderHandle;
using conversion::ItemHandle;
using conversion::Result;
using conversion::Status;
using conversion::StoreError;
using conversion::StoreFailure;

// A new message: nothing reaches the store until it is saved.
struct PendingItem {
  messaging::FolderId folder = 0;
  std::shared_ptr<const msg::MessageFile> source;  // when not translated yet
  std::optional<DetachedTranslation> translation;
  bool readByReader = false;  // released on the read-ahead's thread
  std::optional<std::uint32_t> flags;
  std::optional<StoreError> importFailure;
  // Translated ahead of its save when the run asked whether it fits.
  std::optional<messaging::StoreMessage> content;
};

namespace {

// A message file that could not be opened at all, as opposed to one that
// opened and is not a message file we can read.
class UnopenedFile : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::filesystem::path utf8Path(const std::string& path) {
  // On Windows a plain string would be read in the system code page.
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

OpenedMessageFile openMessageFile(const std::string& path) {
  std::shared_ptr<const core::ByteSource> source;
  try {
    source = std::make_shared<core::FileSource>(utf8Path(path));
  } catch (const core::IoError& e) {
    throw UnopenedFile(e.what());
  }
  OpenedMessageFile opened;
  opened.file.emplace(msg::MessageFile::read(std::move(source), path));
  opened.bytes = opened.file->fileSize();
  // Translated on the thread that read it, the message leaves the store's
  // thread less to do, and the file's own structures go at once (its values
  // too big for memory keep the file open themselves). A message that does
  // not translate is left to its save, which meets the same failure and
  // reports it as always.
  try {
    opened.translation = TranslateDetached(opened.file->message());
    opened.file.reset();
  } catch (...) {
    opened.translation.reset();
  }
  return opened;
}

StoreFailure storeFailureOf(core::IoError::Cause cause) {
  using Cause = core::IoError::Cause;
  switch (cause) {
    case Cause::DiskFull: return StoreFailure::NoSpace;
    case Cause::AccessDenied: return StoreFailure::NotWritable;
    case Cause::AlreadyExists: return StoreFailure::AlreadyExists;
    case Cause::NotFound: return StoreFailure::NotFound;
    case Cause::NotAFile:
    case Cause::Other: break;
  }
  return StoreFailure::Io;
}

// The reader's texts begin with the file's name; the failure names it once.
std::string withoutPathPrefix(const std::string& text, const std::string& path) {
  const std::string prefix = path + ": ";
  if (text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0) {
    return text.substr(prefix.size());
  }
  return text;
}

// The exception in flight as a typed failure.
StoreError failureInFlight() {
  try {
    throw;
  } catch (const UnopenedFile& e) {
    return {StoreFailure::UnreadableMessage, e.what()};
  } catch (const msg::ReadError& e) {
    return {StoreFailure::DamagedMessage, e.what()};
  } catch (const core::IoError& e) {
    return {storeFailureOf(e.cause()), e.what()};
  } catch (const messaging::StoreError& e) {
    using Kind = messaging::StoreError::Kind;
    switch (e.kind()) {
      case Kind::NameCollision:
      case Kind::FileExists:
        return {StoreFailure::AlreadyExists, e.what()};
      case Kind::NotFound:
        return {StoreFailure::NotFound, e.what()};
      case Kind::Closed:
        return {StoreFailure::NotAttached, e.what()};
      case Kind::Io:
        return {storeFailureOf(e.ioCause()), e.what()};
      case Kind::Abandoned:
        return {StoreFailure::Abandoned, e.what()};
      case Kind::Format:
        break;
    }
    return {StoreFailure::Other, e.what()};
  } catch (const std::bad_alloc&) {
    return {StoreFailure::Other, "out of memory"};
  } catch (const std::exception& e) {
    return {StoreFailure::Other, e.what()};
  } catch (...) {
    return {StoreFailure::Other, "unknown failure"};
  }
}

template <class F>
auto typed(F&& f) -> Result<decltype(f())> {
  try {
    return f();
  } catch (...) {
    return failureInFlight();
  }
}

StoreError notAttached() { return {StoreFailure::NotAttached, "no store is attached"}; }

}  // namespace

EngineStoreService::EngineStoreService(messaging::StoreOptions options)
    : options_(std::move(options)) {}

EngineStoreService::~EngineStoreService() { closeNow(); }

Status EngineStoreService::createStore(const std::string& path, conversion::StoreFormat format,
                                       const std::string& displayName) {
  (void)format;  // every format we are asked for is the Unicode store we write
  if (store_) return StoreError{StoreFailure::AlreadyExists, "a store is attached already"};
  // Past MAX_PATH the check may miss on Windows: the exclusive creation refuses then.
  std::error_code ec;
  if (std::filesystem::exists(utf8Path(path), ec)) {
    return StoreError{StoreFailure::AlreadyExists, "the file already exists"};
  }
  return typed([&] {
    store_ = messaging::Store::create(path, core::utf8ToUtf16(displayName), options_);
    foundPaths_.clear();
    return conversion::Done{};
  });
}

std::optional<StoreError> EngineStoreService::requireFolder(FolderHandle folder) const {
  if (!store_ || !store_->isOpen()) return notAttached();
  if (!store_->hasFolder(folder.id)) return StoreError{StoreFailure::NotFound, "no such folder"};
  return std::nullopt;
}

std::optional<messaging::FolderId> EngineStoreService::childNamed(messaging::FolderId parent,
                                                                  const std::u16string& name) const {
  return store_->subfolderNamed(parent, name);
}

Result<FolderHandle> EngineStoreService::topFolder() {
  if (!store_ || !store_->isOpen()) return notAttached();
  return FolderHandle{store_->ipmSubtree()};
}

Result<std::vector<std::string>> EngineStoreService::subfolderNames(FolderHandle folder) {
  if (auto failed = requireFolder(folder)) return *failed;
  return typed([&] {
    std::vector<std::string> names;
    for (auto child : store_->subfolders(folder.id)) {
      names.push_back(core::toUtf8(store_->folderName(child)));
    }
    return names;
  });
}

Result<FolderHandle> EngineStoreService::addFolder(FolderHandle parent, const std::string& name,
                                                   conversion::FolderKind kind) {
  (void)kind;  // every folder we make holds mail
  if (auto failed = requireFolder(parent)) return *failed;
  if (name.empty()) return StoreError{StoreFailure::Other, "a folder needs a name"};
  return typed([&] {
    return FolderHandle{store_->createFolder(parent.id, core::utf8ToUtf16(name))};
  });
}

Result<FolderHandle> EngineStoreService::storeFolder(const std::string& displayName) {
  if (!store_ || !store_->isOpen() ||
      !messaging::sameFolderName(store_->displayName(), core::utf8ToUtf16(displayName))) {
    return StoreError{StoreFailure::NotFound, "no store named \"" + displayName + "\""};
  }
  return FolderHandle{store_->ipmSubtree()};
}

Result<FolderHandle> EngineStoreService::subfolder(FolderHandle parent, const std::string& name) {
  if (auto failed = requireFolder(parent)) return *failed;
  if (auto child = childNamed(parent.id, core::utf8ToUtf16(name))) return FolderHandle{*child};
  return StoreError{StoreFailure::NotFound, "no folder named \"" + name + "\""};
}

Result<FolderHandle> EngineStoreService::folderAtPath(const std::string& path) {
  if (auto found = foundPaths_.find(path); found != foundPaths_.end()) {
    return FolderHandle{found->second};
  }
  const StoreError notFound{StoreFailure::NotFound, "no folder \"" + path + "\""};
  std::size_t start = 0;
  while (start < path.size() && path[start] == '\\') ++start;
  if (start == 0 || start == path.size()) return notFound;
  // The names between backslashes; a closing backslash adds none.
  std::vector<std::string> names(1);
  for (std::size_t k = start; k < path.size(); ++k) {
    if (path[k] == '\\') {
      names.emplace_back();
    } else {
      names.back() += path[k];
    }
  }
  if (names.back().empty()) names.pop_back();
  auto folder = storeFolder(names.front());
  if (!folder) return notFound;
  for (std::size_t i = 1; i < names.size(); ++i) {
    folder = subfolder(folder.value(), names[i]);
    if (!folder) return notFound;
  }
  foundPaths_.emplace(path, folder.value().id);
  return folder;
}

void EngineStoreService::expectImports(std::shared_ptr<const conversion::PathList> files) {
  readAhead_.reset();
  if (!files || files->empty()) return;
  try {
    readAhead_ = std::make_unique<ImportReadAhead>(std::move(files), &openMessageFile);
  } catch (const std::system_error&) {
    // No thread to read with: every import reads its own file.
  }
}

Result<ItemHandle> EngineStoreService::addItem(FolderHandle folder) {
  if (auto failed = requireFolder(folder)) return *failed;
  auto item = std::make_unique<PendingItem>();
  item->folder = folder.id;
  const std::uint32_t id = nextItem_++;
  items_.emplace(id, std::move(item));
  return ItemHandle{id};
}

Status EngineStoreService::importMessage(ItemHandle handle, const std::string& file) {
  const auto found = items_.find(handle.id);
  if (found == items_.end()) return StoreError{StoreFailure::NotFound, "no such item"};
  PendingItem& item = *found->second;
  try {
    bool byReader = false;
    std::optional<OpenedMessageFile> read;
    if (readAhead_) read = readAhead_->take(file, &byReader);
    if (!read) read.emplace(openMessageFile(file));
    item.source.reset();
    if (read->file) item.source = std::make_shared<const msg::MessageFile>(std::move(*read->file));
    item.translation = std::move(read->translation);
    item.readByReader = byReader;
    item.importFailure.reset();
    return conversion::Done{};
  } catch (...) {
    StoreError failure = failureInFlight();
    failure.detail = withoutPathPrefix(failure.detail, file);
    item.source.reset();
    item.translation.reset();
    item.importFailure = failure;
    return failure;
  }
}

Status EngineStoreService::setFlags(ItemHandle handle, std::uint32_t flags) {
  const auto found = items_.find(handle.id);
  if (found == items_.end()) return StoreError{StoreFailure::NotFound, "no such item"};
  found->second->flags = flags;
  return conversion::Done{};
}

Status EngineStoreService::save(ItemHandle handle) {
  const auto found = items_.find(handle.id);
  if (found == items_.end()) return StoreError{StoreFailure::NotFound, "no such item"};
  std::unique_ptr<PendingItem> item = std::move(found->second);
  items_.erase(found);
  if (item->importFailure) return *item->importFailure;
  if (!store_ || !store_->isOpen()) return notAttached();
  Status saved = typed([&] {
    messaging::StoreMessage content = item->content ? std::move(*item->content) : translated(*item);
    store_->addMessage(item->folder, std::move(content), item->flags);
    return conversion::Done{};
  });
  // Memory goes back to the thread that allocated it.
  if (item->readByReader && readAhead_ && item->source) readAhead_->retire(std::move(item->source));
  return saved;
}

messaging::StoreMessage EngineStoreService::translated(PendingItem& item) {
  if (item.translation) {
    DetachedTranslation translation = std::move(*item.translation);
    item.translation.reset();
    return WithStoreIds(std::move(translation), store_->namedProperties());
  }
  return item.source ? TranslateMessage(item.source->message(), store_->namedProperties())
                     : messaging::emptyMessage();
}

void EngineStoreService::discardItem(ItemHandle handle) {
  const auto found = items_.find(handle.id);
  if (found == items_.end()) return;
  std::unique_ptr<PendingItem> item = std::move(found->second);
  items_.erase(found);
  if (item->readByReader && readAhead_ && item->source) readAhead_->retire(std::move(item->source));
}

Result<bool> EngineStoreService::fitsWithin(ItemHandle handle, std::uint64_t bytes) {
  const auto found = items_.find(handle.id);
  if (found == items_.end()) return StoreError{StoreFailure::NotFound, "no such item"};
  PendingItem& item = *found->second;
  if (item.importFailure) return *item.importFailure;
  if (!store_ || !store_->isOpen()) return notAttached();
  return typed([&] {
    if (!item.content) item.content = translated(item);
    return store_->fitsWithin(*item.content, bytes);
  });
}

std::uint64_t EngineStoreService::storeSize() {
  return store_ ? store_->fileSize() : sizeOfRemoved_;
}

std::size_t EngineStoreService::durableMessages() {
  return store_ ? static_cast<std::size_t>(store_->committedMessageCount()) : durableOfRemoved_;
}

Status EngineStoreService::removeStore() {
  if (!store_) return notAttached();
  std::shared_ptr<messaging::Store> store = std::move(store_);
  foundPaths_.clear();
  Status closed = typed([&] {
    store->close();
    return conversion::Done{};
  });
  durableOfRemoved_ = static_cast<std::size_t>(store->committedMessageCount());
  sizeOfRemoved_ = store->fileSize();
  return closed;
}

void EngineStoreService::endSession() {
  readAhead_.reset();
  items_.clear();
}

void EngineStoreService::closeNow() noexcept {
  readAhead_.reset();
  items_.clear();
  if (!store_) return;
  try {
    store_->close();
  } catch (...) {
    // nothing left to report to; the file stays as of its last commit
  }
  store_.reset();
}

}  // namespace parvane::importer
