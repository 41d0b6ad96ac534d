// Late-bound objects created by programmatic identifier, in the shape of the COM
// mail-store libraries the conversion run drives ("Redemption.RDOSession",
// "Redemption.MAPIUtils", "Outlook.Application"). Our own engine implements them
// (src/engine/session); a COM implementation could stand behind the same classes
// on Windows; the tests put recording fakes behind them.
//
// Every failure is raised as AutomationError, never returned.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace parvane::platform {

class AutomationError : public std::runtime_error {
 public:
  // Codes follow the automation runtime's numbering where one exists.
  static constexpr std::int32_t kCannotCreateObject = 429;
  static constexpr std::int32_t kTypeMismatch = 13;
  static constexpr std::int32_t kObjectRequired = 424;
  static constexpr std::int32_t kFileExists = 58;  // a file to be created exists already
  static constexpr std::int32_t kFailed = -2147467259;  // E_FAIL as a signed number

  AutomationError(std::int32_t code, const std::string& description)
      : std::runtime_error(description), code_(code) {}
  std::int32_t code() const { return code_; }

 private:
  std::int32_t code_;
};

// A value passed to a late-bound member.
using Variant = std::variant<std::monostate, bool, std::int16_t, std::int32_t, double, std::string>;

class AutomationObject {
 public:
  virtual ~AutomationObject() = default;
};

// Narrows a generic object to the interface a caller invokes on it; a null
// object or one of another kind raises, as a late-bound call on it would.
template <class T>
std::shared_ptr<T> as(const std::shared_ptr<AutomationObject>& object) {
  if (!object) throw AutomationError(AutomationError::kObjectRequired, "Object required");
  auto typed = std::dynamic_pointer_cast<T>(object);
  if (!typed) throw AutomationError(AutomationError::kTypeMismatch, "Type mismatch");
  return typed;
}

class ObjectFactory {
 public:
  virtual ~ObjectFactory() = default;
  // Raises kCannotCreateObject for an identifier it does not serve.
  virtual std::shared_ptr<AutomationObject> CreateObject(const std::string& progId) = 0;
  // The files about to be imported, in the order their imports will come. A
  // hint: an implementation may read them ahead, and an import is the same
  // whether it was announced or not. An empty list ends the reading ahead.
  virtual void ExpectImports(std::vector<std::string> files) { (void)files; }
};

// ---- Redemption-shaped mail-store objects ----

class MapiObject {  // the underlying MAPI object of a message; opaque to callers
 public:
  virtual ~MapiObject() = default;
};

class RDOFolder;

class RDOMail : public AutomationObject {
 public:
  virtual void Import(const std::string& path, std::int32_t format) = 0;  // format 3: .msg
  virtual std::shared_ptr<MapiObject> MAPIOBJECT() = 0;
  virtual void Save() = 0;
};

class RDOItems : public AutomationObject {
 public:
  virtual std::shared_ptr<RDOMail> Add(const Variant& type) = 0;  // 0: a mail item
};

class RDOFolders : public AutomationObject {
 public:
  virtual std::int32_t Count() = 0;
  virtual std::shared_ptr<RDOFolder> Item(std::int32_t index) = 0;  // from 1
  // Fails when a sibling of that name exists in any letter case.
  virtual std::shared_ptr<RDOFolder> Add(const std::string& name, const Variant& type) = 0;
};

class RDOFolder : public AutomationObject {
 public:
  virtual std::string Name() = 0;
  virtual std::shared_ptr<RDOFolders> Folders() = 0;
  virtual std::shared_ptr<RDOItems> Items() = 0;
};

class RDOStore : public AutomationObject {
 public:
  virtual std::string EntryID() = 0;  // opaque; finds the store again
  virtual std::shared_ptr<RDOFolder> IPMRootFolder() = 0;
  virtual void Remove() = 0;  // final commit, close, detach; the file stays
};

class RDOStores : public AutomationObject {
 public:
  // format 1: the default store format. An existing path is an error
  // (AutomationError::kFileExists).
  virtual std::shared_ptr<RDOStore> AddPSTStore(const std::string& path, std::int32_t format,
                                                const std::string& displayName) = 0;
  virtual std::shared_ptr<RDOStore> GetStoreFromID(const std::string& entryId) = 0;
};

class RDOSession : public AutomationObject {
 public:
  virtual void Logon() = 0;
  virtual void Logoff() = 0;
  virtual std::shared_ptr<RDOStores> Stores() = 0;
  // "\\" + store display name + "\" + folder names separated by "\".
  virtual std::shared_ptr<RDOFolder> GetFolderFromPath(const std::string& path) = 0;
};

class MAPIUtils : public AutomationObject {
 public:
  virtual void HrSetOneProp(MapiObject& object, std::int32_t propTag, const Variant& value,
                            bool save) = 0;
};

// ---- Outlook-shaped folder lookup ----

class OutlookFolder;

class OutlookFolders : public AutomationObject {
 public:
  // By name, compared as Outlook compares names (case-insensitive); raises when absent.
  virtual std::shared_ptr<OutlookFolder> Item(const std::string& name) = 0;
  virtual std::shared_ptr<OutlookFolder> Add(const std::string& name, const Variant& type) = 0;
};

class OutlookFolder : public AutomationObject {
 public:
  virtual std::string Name() = 0;
  virtual std::shared_ptr<OutlookFolders> Folders() = 0;
};

class OutlookNamespace : public AutomationObject {
 public:
  virtual std::shared_ptr<OutlookFolders> Folders() = 0;  // one per attached store
};

class OutlookApplication : public AutomationObject {
 public:
  virtual std::shared_ptr<OutlookNamespace> GetNamespace(const std::string& type) = 0;  // "MAPI"
};

}  // namespace parvane::platform
