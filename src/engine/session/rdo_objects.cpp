#include "engine/session/rdo_objects.h"

#include "engine/core/codepage.h"
#include "engine/core/text.h"
#include "engine/messaging/folder_names.h"
#include "engine/msg/message.h"
#include "engine/session/automation_errors.h"
#include "engine/session/import_read_ahead.h"
#include "engine/session/profile.h"
#include "import/message_translation.h"

namespace parvane::session {
namespace {

constexpr std::int32_t kMailItem = 0;
constexpr std::int32_t kFormatMsg = 3;
constexpr std::uint32_t kTagMessageFlags = 0x0E070003;

std::u16string wide(const std::string& s) { return core::utf8ToUtf16(s); }

std::shared_ptr<platform::RDOFolder> folderObject(FolderRef ref) { return std::make_shared<EngineFolder>(std::move(ref)); }

std::vector<std::string> splitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '\\') {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

}  // namespace

std::optional<messaging::FolderId> findSubfolder(const messaging::Store& store, messaging::FolderId parent,
                                                 const std::u16string& name) {
  for (auto child : store.subfolders(parent)) {
    if (messaging::sameFolderName(store.folderName(child), name)) return child;
  }
  return std::nullopt;
}

void requireAttached(const FolderRef& ref) {
  if (!ref.store || !ref.store->isOpen())
    raise(platform::AutomationError::kFailed, "The store of this folder has been removed from the profile");
}

// ---- session ----

void EngineSession::Logon() { loggedOn_ = true; }

void EngineSession::Logoff() {
  loggedOn_ = false;
  found_.clear();
}

void EngineSession::requireLogon(const char* member) const {
  if (!loggedOn_) raise(platform::AutomationError::kFailed, std::string(member) + ": the session is not logged on");
}

std::shared_ptr<platform::RDOStores> EngineSession::Stores() {
  requireLogon("Stores");
  return std::make_shared<EngineStores>(options_);
}

std::shared_ptr<platform::RDOFolder> EngineSession::GetFolderFromPath(const std::string& path) {
  requireLogon("GetFolderFromPath");
  const std::uint64_t generation = Profile::instance().generation();
  if (generation != foundGeneration_) {
    found_.clear();
    foundGeneration_ = generation;
  }
  if (auto it = found_.find(path); it != found_.end()) {
    if (it->second->ref().store->isOpen()) return it->second;
    found_.erase(it);
  }
  auto folder = lookUp(path);
  // The store's list may have changed while the folder was looked up.
  if (folder->ref().store->isOpen() && Profile::instance().generation() == generation)
    found_.insert_or_assign(path, folder);
  return folder;
}

std::shared_ptr<EngineFolder> EngineSession::lookUp(const std::string& path) const {
  auto notFound = [&] { raise(kMapiNotFound, "GetFolderFromPath: no folder \"" + path + "\""); };
  std::size_t start = 0;
  while (start < path.size() && path[start] == '\\') ++start;
  if (start == 0) notFound();
  auto parts = splitPath(path.substr(start));
  if (parts.empty()) notFound();
  auto store = Profile::instance().byDisplayName(wide(parts[0]));
  if (!store) notFound();
  messaging::FolderId folder = store->ipmSubtree();
  for (std::size_t i = 1; i < parts.size(); ++i) {
    auto child = findSubfolder(*store, folder, wide(parts[i]));
    if (!child) notFound();
    folder = *child;
  }
  return std::make_shared<EngineFolder>(FolderRef{store, folder});
}

// ---- stores ----

std::shared_ptr<platform::RDOStore> EngineStores::AddPSTStore(const std::string& path, std::int32_t format,
                                                               const std::string& displayName) {
  // 1: the default format, 2: Unicode; both are the Unicode format we write.
  if (format != 1 && format != 2)
    raise(kMapiNotSupported, "AddPSTStore: store format " + std::to_string(format) + " is not supported");
  auto attached = Profile::instance().attach(path, displayName, options_);
  return std::make_shared<EngineStore>(attached.entryId, attached.store);
}

std::shared_ptr<platform::RDOStore> EngineStores::GetStoreFromID(const std::string& entryId) {
  auto attached = Profile::instance().byEntryId(entryId);
  return std::make_shared<EngineStore>(attached.entryId, attached.store);
}

std::shared_ptr<platform::RDOFolder> EngineStore::IPMRootFolder() {
  FolderRef ref{store_, store_->ipmSubtree()};
  requireAttached(ref);
  return folderObject(ref);
}

void EngineStore::Remove() { Profile::instance().detach(entryId_); }

// ---- folders ----

std::string EngineFolder::Name() {
  requireAttached(ref_);
  return core::toUtf8(ref_.store->folderName(ref_.folder));
}

std::shared_ptr<platform::RDOFolders> EngineFolder::Folders() {
  requireAttached(ref_);
  return std::make_shared<EngineFolders>(ref_);
}

std::shared_ptr<platform::RDOItems> EngineFolder::Items() {
  requireAttached(ref_);
  if (!items_) items_ = std::make_shared<EngineItems>(ref_);
  return items_;
}

std::int32_t EngineFolders::Count() {
  requireAttached(parent_);
  return static_cast<std::int32_t>(parent_.store->subfolders(parent_.folder).size());
}

std::shared_ptr<platform::RDOFolder> EngineFolders::Item(std::int32_t index) {
  requireAttached(parent_);
  auto children = parent_.store->subfolders(parent_.folder);
  if (index < 1 || static_cast<std::size_t>(index) > children.size())
    raise(kMapiNotFound, "Folders.Item: index " + std::to_string(index) + " is outside 1.." +
                             std::to_string(children.size()));
  return folderObject({parent_.store, children[static_cast<std::size_t>(index) - 1]});
}

std::shared_ptr<platform::RDOFolder> EngineFolders::Add(const std::string& name, const platform::Variant& type) {
  requireAttached(parent_);
  // the type is optional; any folder type becomes a mail folder
  if (!std::holds_alternative<std::monostate>(type)) (void)toInt32(type);
  if (name.empty()) raise(kMapiInvalidParameter, "Folders.Add: a folder needs a name");
  auto id = translated("Cannot add the folder \"" + name + "\"",
                       [&] { return parent_.store->createFolder(parent_.folder, wide(name)); });
  return folderObject({parent_.store, id});
}

std::shared_ptr<platform::RDOMail> EngineItems::Add(const platform::Variant& type) {
  requireAttached(folder_);
  // a mail item: no type, 0, or a message class
  bool mail = std::holds_alternative<std::monostate>(type) || std::holds_alternative<std::string>(type) ||
              toInt32(type) == kMailItem;
  if (!mail) raise(kMapiNotSupported, "Items.Add: only mail items (0) can be added");
  const auto* messageClass = std::get_if<std::string>(&type);
  return std::make_shared<EngineMail>(folder_, messageClass ? *messageClass : std::string());
}

// ---- messages ----

namespace {

class EngineMapiObject final : public platform::MapiObject {
 public:
  explicit EngineMapiObject(std::weak_ptr<EngineMail> mail) : mail_(std::move(mail)) {}
  std::shared_ptr<EngineMail> mail() const {
    auto m = mail_.lock();
    if (!m) raise(platform::AutomationError::kObjectRequired, "The message of this MAPI object has been released");
    return m;
  }

 private:
  std::weak_ptr<EngineMail> mail_;
};

}  // namespace

namespace {

// The reader's errors begin with the file's name; the import error names the
// file once, so that prefix is dropped from the reason.
std::string withoutPathPrefix(const std::string& reason, const std::string& path) {
  const std::string prefix = path + ": ";
  if (reason.size() > prefix.size() && reason.compare(0, prefix.size(), prefix) == 0)
    return reason.substr(prefix.size());
  return reason;
}

}  // namespace

msg::MessageFile OpenMessageFile(const std::string& path) {
  // The path is UTF-8; on Windows a plain string would be read in the system code page.
  return msg::MessageFile::open(std::filesystem::path(std::u8string(path.begin(), path.end())));
}

OpenedMessageFile OpenMessageFileSized(const std::string& path) {
  msg::MessageFile file = OpenMessageFile(path);
  const std::uint64_t bytes = file.fileSize();
  return {std::move(file), bytes};
}

EngineMail::EngineMail(FolderRef folder, std::string messageClass)
    : folder_(std::move(folder)), messageClass_(std::move(messageClass)) {}
EngineMail::~EngineMail() = default;

void EngineMail::Import(const std::string& path, std::int32_t format) {
  if (format != kFormatMsg) {
    importFailure_ = "format " + std::to_string(format) + " is not supported";
    raise(kMapiNotSupported, "Cannot import \"" + path + "\": " + *importFailure_);
  }
  try {
    bool byReader = false;
    std::optional<msg::MessageFile> readAhead = TakeAnnouncedImport(path, &byReader);
    sourceReadAhead_ = readAhead.has_value() && byReader;
    source_ = std::make_shared<msg::MessageFile>(readAhead ? std::move(*readAhead) : OpenMessageFile(path));
    importedPath_ = path;
    importFailure_.reset();
  } catch (const std::exception& e) {
    source_.reset();
    importedPath_ = path;
    importFailure_ = withoutPathPrefix(e.what(), path);
    raise(platform::AutomationError::kFailed, "Cannot import \"" + path + "\": " + *importFailure_);
  }
}

std::shared_ptr<platform::MapiObject> EngineMail::MAPIOBJECT() {
  return std::make_shared<EngineMapiObject>(weak_from_this());
}

void EngineMail::setProperty(std::uint32_t tag, const platform::Variant& value) {
  if (tag == kTagMessageFlags) {
    flags_ = static_cast<std::uint32_t>(toInt32(value));
    return;
  }
  auto id = static_cast<std::uint16_t>(tag >> 16);
  auto type = static_cast<std::uint16_t>(tag & 0xFFFF);
  if (id >= 0x8000) raise(kMapiInvalidParameter, "HrSetOneProp: named property ids are not accepted here");
  switch (type) {
    case 0x0003:
      extra_.push_back(messaging::PropertyValue::int32(id, static_cast<std::uint32_t>(toInt32(value))));
      return;
    case 0x000B:
      extra_.push_back(messaging::PropertyValue::boolean(id, toInt32(value) != 0));
      return;
    case 0x001F:
      if (const auto* s = std::get_if<std::string>(&value)) {
        extra_.push_back(messaging::PropertyValue::unicode(id, wide(*s)));
        return;
      }
      break;
    default:
      break;
  }
  raise(platform::AutomationError::kTypeMismatch, "HrSetOneProp: the value does not fit the property type");
}

void EngineMail::Save() {
  if (importFailure_)
    raise(platform::AutomationError::kFailed, "The message was not saved: importing \"" + importedPath_ +
                                                  "\" failed: " + *importFailure_);
  if (saved_) return;
  requireAttached(folder_);
  try {
    messaging::StoreMessage content = source_
        ? importer::TranslateMessage(source_->message(), folder_.store->namedProperties())
        : messaging::emptyMessage();
    if (!source_ && !messageClass_.empty())
      content.properties.set(messaging::PropertyValue::unicode(0x001A, wide(messageClass_)));
    for (const auto& v : extra_) {
      if (!messaging::isComputedByStore(v.id())) content.properties.set(v);
    }
    folder_.store->addMessage(folder_.folder, std::move(content), flags_);
  } catch (const platform::AutomationError&) {
    throw;
  } catch (...) {
    // The text only once something failed: a save that goes through needs none.
    rethrowAsAutomation(importedPath_.empty() ? std::string("Cannot save the message")
                                              : "Cannot save the message imported from \"" + importedPath_ + "\"");
  }
  saved_ = true;
  if (sourceReadAhead_) {
    RetireImport(std::move(source_));
  } else {
    source_.reset();
  }
}

void EngineMapiUtils::HrSetOneProp(platform::MapiObject& object, std::int32_t propTag,
                                   const platform::Variant& value, bool /*save*/) {
  auto* mapi = dynamic_cast<EngineMapiObject*>(&object);
  if (!mapi) raise(platform::AutomationError::kTypeMismatch, "HrSetOneProp: not a MAPI object of this session");
  // The message is written by its Save(); the save flag only asks to keep the value.
  mapi->mail()->setProperty(static_cast<std::uint32_t>(propTag), value);
}

}  // namespace parvane::session
