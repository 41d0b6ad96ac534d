// The Redemption-shaped objects over our store: session, stores, store,
// folders, folder, items, message and the MAPI utilities.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/messaging/store.h"
#include "engine/msg/message.h"
#include "engine/session/import_read_ahead.h"
#include "platform/automation.h"

namespace parvane::msg {
class MessageFile;
}

namespace parvane::session {

// A folder of an attached store; raises once the store has been removed.
struct FolderRef {
  std::shared_ptr<messaging::Store> store;
  messaging::FolderId folder = 0;
};

class EngineFolder;

class EngineSession final : public platform::RDOSession {
 public:
  explicit EngineSession(messaging::StoreOptions options = {}) : options_(std::move(options)) {}
  void Logon() override;
  void Logoff() override;
  std::shared_ptr<platform::RDOStores> Stores() override;
  std::shared_ptr<platform::RDOFolder> GetFolderFromPath(const std::string& path) override;

 private:
  void requireLogon(const char* member) const;
  std::shared_ptr<EngineFolder> lookUp(const std::string& path) const;
  messaging::StoreOptions options_;  // of every store this session adds
  bool loggedOn_ = false;
  // Folders found, by the exact path asked for. A found folder stays what that
  // path names while the profile's stores stay the same and its store is open:
  // folders are never renamed or removed, and no sibling can take a name that
  // differs only in letter case. A path not found is looked up afresh each time.
  std::unordered_map<std::string, std::shared_ptr<EngineFolder>> found_;
  std::uint64_t foundGeneration_ = 0;
};

class EngineStores final : public platform::RDOStores {
 public:
  explicit EngineStores(messaging::StoreOptions options = {}) : options_(std::move(options)) {}
  std::shared_ptr<platform::RDOStore> AddPSTStore(const std::string& path, std::int32_t format,
                                                  const std::string& displayName) override;
  std::shared_ptr<platform::RDOStore> GetStoreFromID(const std::string& entryId) override;

 private:
  messaging::StoreOptions options_;
};

class EngineStore final : public platform::RDOStore {
 public:
  EngineStore(std::string entryId, std::shared_ptr<messaging::Store> store)
      : entryId_(std::move(entryId)), store_(std::move(store)) {}
  std::string EntryID() override { return entryId_; }
  std::shared_ptr<platform::RDOFolder> IPMRootFolder() override;
  void Remove() override;

 private:
  std::string entryId_;
  std::shared_ptr<messaging::Store> store_;
};

class EngineItems;

class EngineFolder final : public platform::RDOFolder {
 public:
  explicit EngineFolder(FolderRef ref) : ref_(std::move(ref)) {}
  std::string Name() override;
  std::shared_ptr<platform::RDOFolders> Folders() override;
  std::shared_ptr<platform::RDOItems> Items() override;
  const FolderRef& ref() const { return ref_; }

 private:
  FolderRef ref_;
  std::shared_ptr<EngineItems> items_;  // made on first use; it holds no state of its own
};

class EngineFolders final : public platform::RDOFolders {
 public:
  explicit EngineFolders(FolderRef parent) : parent_(std::move(parent)) {}
  std::int32_t Count() override;
  std::shared_ptr<platform::RDOFolder> Item(std::int32_t index) override;
  std::shared_ptr<platform::RDOFolder> Add(const std::string& name, const platform::Variant& type) override;

 private:
  FolderRef parent_;
};

class EngineItems final : public platform::RDOItems {
 public:
  explicit EngineItems(FolderRef folder) : folder_(std::move(folder)) {}
  std::shared_ptr<platform::RDOMail> Add(const platform::Variant& type) override;

 private:
  FolderRef folder_;
};

// Reads the .msg file at a UTF-8 path, as an import does. Raises msg::ReadError.
msg::MessageFile OpenMessageFile(const std::string& path);
// The same, with the size of the file.
OpenedMessageFile OpenMessageFileSized(const std::string& path);

// A new message: nothing reaches the store until Save().
class EngineMail final : public platform::RDOMail, public std::enable_shared_from_this<EngineMail> {
 public:
  // `messageClass`: the class of an item that is saved without an import.
  explicit EngineMail(FolderRef folder, std::string messageClass = {});
  ~EngineMail() override;
  void Import(const std::string& path, std::int32_t format) override;
  std::shared_ptr<platform::MapiObject> MAPIOBJECT() override;
  void Save() override;

  // Sets a property through the MAPI object (PidTagMessageFlags and simple values).
  void setProperty(std::uint32_t tag, const platform::Variant& value);

 private:
  FolderRef folder_;
  std::string messageClass_;
  std::shared_ptr<msg::MessageFile> source_;
  bool sourceReadAhead_ = false;  // read on the read-ahead's thread
  std::string importedPath_;
  std::optional<std::string> importFailure_;
  std::optional<std::uint32_t> flags_;
  std::vector<messaging::PropertyValue> extra_;
  bool saved_ = false;
};

class EngineMapiUtils final : public platform::MAPIUtils {
 public:
  void HrSetOneProp(platform::MapiObject& object, std::int32_t propTag, const platform::Variant& value,
                    bool save) override;
};

// Raises when the folder's store is no longer attached.
void requireAttached(const FolderRef& ref);

}  // namespace parvane::session

namespace parvane::session {
// The subfolder of that name, compared as MAPI compares names (any letter case).
std::optional<messaging::FolderId> findSubfolder(const messaging::Store& store, messaging::FolderId parent,
                                                 const std::u16string& name);
}  // namespace parvane::session
