// The store operations of a conversion run over our own engine: one store
// file at a time, message files read ahead of their imports on a thread of the
// service's own, and every failure returned as a typed StoreError.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "conversion/store_service.h"
#include "engine/messaging/store.h"

namespace parvane::importer {

class ImportReadAhead;
struct PendingItem;

class EngineStoreService final : public conversion::StoreService {
 public:
  explicit EngineStoreService(messaging::StoreOptions options = {});
  // Commits and closes a store still attached.
  ~EngineStoreService() override;
  EngineStoreService(const EngineStoreService&) = delete;
  EngineStoreService& operator=(const EngineStoreService&) = delete;

  conversion::Status createStore(const std::string& path, conversion::StoreFormat format,
                                 const std::string& displayName) override;
  conversion::Result<conversion::FolderHandle> topFolder() override;
  conversion::Result<std::vector<std::string>> subfolderNames(
      conversion::FolderHandle folder) override;
  conversion::Result<conversion::FolderHandle> addFolder(conversion::FolderHandle parent,
                                                         const std::string& name,
                                                         conversion::FolderKind kind) override;
  conversion::Result<conversion::FolderHandle> storeFolder(const std::string& displayName) override;
  conversion::Result<conversion::FolderHandle> subfolder(conversion::FolderHandle parent,
                                                         const std::string& name) override;
  conversion::Result<conversion::FolderHandle> folderAtPath(const std::string& path) override;
  void expectImports(std::shared_ptr<const conversion::PathList> files) override;
  conversion::Result<conversion::ItemHandle> addItem(conversion::FolderHandle folder) override;
  conversion::Status importMessage(conversion::ItemHandle item, const std::string& file) override;
  conversion::Status setFlags(conversion::ItemHandle item, std::uint32_t flags) override;
  conversion::Status save(conversion::ItemHandle item) override;
  void discardItem(conversion::ItemHandle item) override;
  conversion::Result<bool> fitsWithin(conversion::ItemHandle item, std::uint64_t bytes) override;
  std::uint64_t storeSize() override;
  std::size_t durableMessages() override;
  conversion::Status removeStore() override;
  void endSession() override;

  // Commits and closes the attached store at once (the program is ending);
  // never fails: the file then stays as of its last commit.
  void closeNow() noexcept;

 private:
  messaging::StoreMessage translated(PendingItem& item);
  std::optional<conversion::StoreError> requireFolder(conversion::FolderHandle folder) const;
  std::optional<messaging::FolderId> childNamed(messaging::FolderId parent,
                                                const std::u16string& name) const;

  messaging::StoreOptions options_;
  std::shared_ptr<messaging::Store> store_;  // the attached store, if any
  // Folders found by path: folders are never renamed or removed while the
  // store is attached, so a path once found keeps naming the same folder.
  std::unordered_map<std::string, messaging::FolderId> foundPaths_;
  std::unordered_map<std::uint32_t, std::unique_ptr<PendingItem>> items_;
  std::uint32_t nextItem_ = 1;
  std::unique_ptr<ImportReadAhead> readAhead_;
  std::size_t durableOfRemoved_ = 0;  // of the store last removed
  std::uint64_t sizeOfRemoved_ = 0;
};

}  // namespace parvane::importer
