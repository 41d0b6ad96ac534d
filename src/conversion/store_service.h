// The store operations a conversion run uses, as a typed interface: our
// engine implements it (engine_store_service.h), the tests keep it in memory.
// Expected failures come back as values (StoreError), never as exceptions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "conversion/path_list.h"

namespace parvane::conversion {

// Why a store operation failed.
enum class StoreFailure {
  AlreadyExists,     // the store file, or a folder of that name, is there already
  NotWritable,       // the destination refuses the file (permissions, read-only)
  NoSpace,           // the disk is full
  Io,                // another input/output failure of the store file
  NotFound,          // no folder or item at that path or handle
  NotAttached,       // no store is attached, or it was removed
  UnreadableMessage, // the message file cannot be opened or read
  DamagedMessage,    // the message file is not a message file we can read
  StoreFailed,       // not converted: the store failed (its cause is reported once)
  Abandoned,         // the save was given up because a stop was asked for
  Other,
};

struct StoreError {
  StoreFailure cause = StoreFailure::Other;
  std::string detail;  // what the layer below said, for people
};

// A value or the error that took its place.
template <class T>
class Result {
 public:
  Result(T value) : state_(std::move(value)) {}             // NOLINT: implicit by design
  Result(StoreError error) : state_(std::move(error)) {}    // NOLINT
  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  const T& value() const { return std::get<0>(state_); }
  const StoreError& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, StoreError> state_;
};

struct Done {};
using Status = Result<Done>;

// Handles the service hands out; meaningful only to the service that made them.
struct FolderHandle {
  std::uint32_t id = 0;
  bool operator==(const FolderHandle&) const = default;
};
struct ItemHandle {
  std::uint32_t id = 0;
};

// The formats and types the run passes, with the values Outlook gives them.
enum class StoreFormat : std::int32_t { Default = 1 };
enum class FolderKind : std::int16_t { Mail = 6 };

class StoreService {
 public:
  virtual ~StoreService() = default;

  // Creates the store file at `path` and attaches it under `displayName`.
  virtual Status createStore(const std::string& path, StoreFormat format,
                             const std::string& displayName) = 0;
  // The store's top folder (the one that holds the user's folders).
  virtual Result<FolderHandle> topFolder() = 0;
  virtual Result<std::vector<std::string>> subfolderNames(FolderHandle folder) = 0;
  // Fails with AlreadyExists when a sibling has that name in any letter case.
  virtual Result<FolderHandle> addFolder(FolderHandle parent, const std::string& name,
                                         FolderKind kind) = 0;
  // The top folder of the attached store with that display name, and a
  // subfolder by name; names compare in any letter case.
  virtual Result<FolderHandle> storeFolder(const std::string& displayName) = 0;
  virtual Result<FolderHandle> subfolder(FolderHandle parent, const std::string& name) = 0;
  // "\\" + display name + "\" + folder names: every name must exist.
  virtual Result<FolderHandle> folderAtPath(const std::string& path) = 0;

  // The files about to be imported, in order: the service may read them
  // ahead. Shared rather than copied, so that a long list is held once; it
  // stays unchanged while the service holds it (until endSession() or the
  // next expectImports()).
  virtual void expectImports(std::shared_ptr<const PathList> files) = 0;
  // A new, empty mail item in `folder`; nothing is stored before save().
  virtual Result<ItemHandle> addItem(FolderHandle folder) = 0;
  virtual Status importMessage(ItemHandle item, const std::string& file) = 0;
  virtual Status setFlags(ItemHandle item, std::uint32_t flags) = 0;
  virtual Status save(ItemHandle item) = 0;
  // Drops an item that will not be saved (its import failed, or it goes
  // into another store).
  virtual void discardItem(ItemHandle item) = 0;
  // Whether the attached store's file, with the imported item saved in it and
  // the store finished, stays within `bytes` bytes. The store's file then
  // grows no further than that unless a message needs more. It may commit
  // what is pending to tell.
  virtual Result<bool> fitsWithin(ItemHandle item, std::uint64_t bytes) = 0;
  // The size in bytes of the store's file: the attached store's now, or the
  // one last removed as it was finished.
  virtual std::uint64_t storeSize() = 0;
  // How many saved messages the store file holds durably: after a failure
  // of the store, the file keeps only those (the ones saved first).
  virtual std::size_t durableMessages() = 0;
  // Commits, closes and detaches the store; the file stays.
  virtual Status removeStore() = 0;
  virtual void endSession() = 0;
};

}  // namespace parvane::conversion
