#include "support/fake_automation.h"

#include <algorithm>
#include <cctype>

namespace parvane::testing {

using platform::AutomationError;
using platform::Variant;

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

[[noreturn]] void fail(const std::string& what) {
  throw AutomationError(AutomationError::kFailed, what);
}

std::vector<std::string> splitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  while (true) {
    const auto sep = path.find('\\', from);
    parts.push_back(path.substr(from, sep == std::string::npos ? std::string::npos : sep - from));
    if (sep == std::string::npos) break;
    from = sep + 1;
  }
  return parts;
}

std::shared_ptr<FakeFolderNode> addChild(FakeFolderNode& parent, const std::string& name) {
  if (name.empty()) fail("A folder needs a name");
  if (parent.child(name)) fail("A folder named " + name + " exists already");
  auto node = std::make_shared<FakeFolderNode>();
  node->name = name;
  parent.children.push_back(node);
  return node;
}

// ---- Redemption-shaped objects ----

class FakeMapiObject : public platform::MapiObject {
 public:
  explicit FakeMapiObject(std::shared_ptr<FakeMessage> held) : message(std::move(held)) {}
  std::shared_ptr<FakeMessage> message;
};

class FakeMail : public platform::RDOMail {
 public:
  FakeMail(FakeProfile& profile, std::shared_ptr<FakeFolderNode> folder)
      : profile_(profile), folder_(std::move(folder)), message_(std::make_shared<FakeMessage>()) {}
  void Import(const std::string& path, std::int32_t format) override {
    try {
      profile_.record("RDOMail.Import", {path, RenderVariant(format)});
    } catch (...) {
      message_->importFailed = true;
      throw;
    }
    message_->importedFrom = path;
  }
  std::shared_ptr<platform::MapiObject> MAPIOBJECT() override {
    profile_.record("RDOMail.MAPIOBJECT");
    return std::make_shared<FakeMapiObject>(message_);
  }
  void Save() override {
    profile_.record("RDOMail.Save");
    // As the engine does: a message whose import failed is never stored.
    if (message_->importFailed) fail("The message was not imported and is not saved");
    if (!message_->saved) folder_->messages.push_back(message_);
    message_->saved = true;
  }

 private:
  FakeProfile& profile_;
  std::shared_ptr<FakeFolderNode> folder_;
  std::shared_ptr<FakeMessage> message_;
};

class FakeItems : public platform::RDOItems {
 public:
  FakeItems(FakeProfile& profile, std::shared_ptr<FakeFolderNode> folder)
      : profile_(profile), folder_(std::move(folder)) {}
  std::shared_ptr<platform::RDOMail> Add(const Variant& type) override {
    profile_.record("RDOItems.Add", {RenderVariant(type)});
    return std::make_shared<FakeMail>(profile_, folder_);
  }

 private:
  FakeProfile& profile_;
  std::shared_ptr<FakeFolderNode> folder_;
};

class FakeRdoFolder;

class FakeRdoFolders : public platform::RDOFolders {
 public:
  FakeRdoFolders(FakeProfile& profile, std::shared_ptr<FakeFolderNode> parent)
      : profile_(profile), parent_(std::move(parent)) {}
  std::int32_t Count() override {
    profile_.record("RDOFolders.Count");
    return static_cast<std::int32_t>(parent_->children.size());
  }
  std::shared_ptr<platform::RDOFolder> Item(std::int32_t index) override;
  std::shared_ptr<platform::RDOFolder> Add(const std::string& name, const Variant& type) override;

 private:
  FakeProfile& profile_;
  std::shared_ptr<FakeFolderNode> parent_;
};

class FakeRdoFolder : public platform::RDOFolder {
 public:
  FakeRdoFolder(FakeProfile& profile, std::shared_ptr<FakeFolderNode> node)
      : profile_(profile), node_(std::move(node)) {}
  std::string Name() override {
    profile_.record("RDOFolder.Name");
    return node_->name;
  }
  std::shared_ptr<platform::RDOFolders> Folders() override {
    profile_.record("RDOFolder.Folders");
    return std::make_shared<FakeRdoFolders>(profile_, node_);
  }
  std::shared_ptr<platform::RDOItems> Items() override {
    profile_.record("RDOFolder.Items");
    return std::make_shared<FakeItems>(profile_, node_);
  }

 private:
  FakeProfile& profile_;
  std::shared_ptr<FakeFolderNode> node_;
};

std::shared_ptr<platform::RDOFolder> FakeRdoFolders::Item(std::int32_t index) {
  profile_.record("RDOFolders.Item", {RenderVariant(index)});
  if (index < 1 || static_cast<std::size_t>(index) > parent_->children.size()) {
    fail("No folder at position " + std::to_string(index));
  }
  return std::make_shared<FakeRdoFolder>(profile_,
                                         parent_->children[static_cast<std::size_t>(index - 1)]);
}

std::shared_ptr<platform::RDOFolder> FakeRdoFolders::Add(const std::string& name,
                                                         const Variant& type) {
  profile_.record("RDOFolders.Add", {name, RenderVariant(type)});
  return std::make_shared<FakeRdoFolder>(profile_, addChild(*parent_, name));
}

class FakeStore : public platform::RDOStore {
 public:
  FakeStore(FakeProfile& profile, std::shared_ptr<FakeStoreData> data)
      : profile_(profile), data_(std::move(data)) {}
  std::string EntryID() override {
    profile_.record("RDOStore.EntryID");
    return data_->entryId;
  }
  std::shared_ptr<platform::RDOFolder> IPMRootFolder() override {
    profile_.record("RDOStore.IPMRootFolder");
    return std::make_shared<FakeRdoFolder>(profile_, data_->root);
  }
  void Remove() override {
    profile_.record("RDOStore.Remove");
    data_->attached = false;
  }

 private:
  FakeProfile& profile_;
  std::shared_ptr<FakeStoreData> data_;
};

class FakeMapiUtils : public platform::MAPIUtils {
 public:
  explicit FakeMapiUtils(FakeProfile& profile) : profile_(profile) { ++profile_.mapiUtilsAlive; }
  ~FakeMapiUtils() override { --profile_.mapiUtilsAlive; }
  FakeMapiUtils(const FakeMapiUtils&) = delete;
  FakeMapiUtils& operator=(const FakeMapiUtils&) = delete;
  void HrSetOneProp(platform::MapiObject& object, std::int32_t propTag, const Variant& value,
                    bool save) override {
    profile_.record("MAPIUtils.HrSetOneProp", {"MAPIOBJECT", RenderVariant(propTag),
                                               RenderVariant(value), RenderVariant(save)});
    auto* mapi = dynamic_cast<FakeMapiObject*>(&object);
    if (!mapi) fail("Not a MAPI object of this profile");
    mapi->message->properties[propTag] = RenderVariant(value);
  }

 private:
  FakeProfile& profile_;
};

// ---- Outlook-shaped objects ----

class FakeOutlookFolder;

// The folders under one folder, or (parent null) the top-level folders of the
// profile: the root folder of every attached store.
class FakeOutlookFolders : public platform::OutlookFolders {
 public:
  FakeOutlookFolders(FakeProfile& profile, std::shared_ptr<FakeFolderNode> parent)
      : profile_(profile), parent_(std::move(parent)) {}
  std::shared_ptr<platform::OutlookFolder> Item(const std::string& name) override;
  std::shared_ptr<platform::OutlookFolder> Add(const std::string& name,
                                               const Variant& type) override;

 private:
  FakeProfile& profile_;
  std::shared_ptr<FakeFolderNode> parent_;
};

class FakeOutlookFolder : public platform::OutlookFolder {
 public:
  FakeOutlookFolder(FakeProfile& profile, std::shared_ptr<FakeFolderNode> node)
      : profile_(profile), node_(std::move(node)) {}
  std::string Name() override {
    profile_.record("OutlookFolder.Name");
    return node_->name;
  }
  std::shared_ptr<platform::OutlookFolders> Folders() override {
    profile_.record("OutlookFolder.Folders");
    return std::make_shared<FakeOutlookFolders>(profile_, node_);
  }
  const std::shared_ptr<FakeFolderNode>& node() const { return node_; }

 private:
  FakeProfile& profile_;
  std::shared_ptr<FakeFolderNode> node_;
};

std::shared_ptr<platform::OutlookFolder> FakeOutlookFolders::Item(const std::string& name) {
  profile_.record("OutlookFolders.Item", {name});
  if (parent_) {
    if (auto node = parent_->child(name)) return std::make_shared<FakeOutlookFolder>(profile_, node);
  } else if (auto* store = profile_.storeNamed(name)) {
    return std::make_shared<FakeOutlookFolder>(profile_, store->root);
  }
  fail("The folder " + name + " was not found");
}

std::shared_ptr<platform::OutlookFolder> FakeOutlookFolders::Add(const std::string& name,
                                                                 const Variant& type) {
  profile_.record("OutlookFolders.Add", {name, RenderVariant(type)});
  if (!parent_) fail("Top-level folders come with stores");
  return std::make_shared<FakeOutlookFolder>(profile_, addChild(*parent_, name));
}

class FakeNamespace : public platform::OutlookNamespace {
 public:
  explicit FakeNamespace(FakeProfile& profile) : profile_(profile) {}
  std::shared_ptr<platform::OutlookFolders> Folders() override {
    profile_.record("OutlookNamespace.Folders");
    return std::make_shared<FakeOutlookFolders>(profile_, nullptr);
  }

 private:
  FakeProfile& profile_;
};

class FakeOutlook : public platform::OutlookApplication {
 public:
  explicit FakeOutlook(FakeProfile& profile) : profile_(profile) {}
  std::shared_ptr<platform::OutlookNamespace> GetNamespace(const std::string& type) override {
    profile_.record("OutlookApplication.GetNamespace", {type});
    if (type != "MAPI") fail("Unknown namespace " + type);
    return std::make_shared<FakeNamespace>(profile_);
  }

 private:
  FakeProfile& profile_;
};

}  // namespace

// ---- stores and session (need the profile's internals) ----

class FakeStoresImpl : public platform::RDOStores {
 public:
  explicit FakeStoresImpl(FakeProfile& profile) : profile_(profile) {}
  std::shared_ptr<platform::RDOStore> AddPSTStore(const std::string& path, std::int32_t format,
                                                  const std::string& displayName) override {
    profile_.record("RDOStores.AddPSTStore", {path, RenderVariant(format), displayName});
    if (profile_.storeAt(path)) {
      throw AutomationError(AutomationError::kFileExists, "The file " + path + " exists already");
    }
    auto& data = profile_.addStore(displayName, path);
    for (const auto& name : profile_.newStoreFolders) addChild(*data.root, name);
    return std::make_shared<FakeStore>(profile_, profile_.stores.back());
  }
  std::shared_ptr<platform::RDOStore> GetStoreFromID(const std::string& entryId) override {
    profile_.record("RDOStores.GetStoreFromID", {entryId});
    for (const auto& store : profile_.stores) {
      if (store->attached && store->entryId == entryId) {
        return std::make_shared<FakeStore>(profile_, store);
      }
    }
    fail("No store with that entry identifier");
  }

 private:
  FakeProfile& profile_;
};

namespace {

class FakeSession : public platform::RDOSession {
 public:
  explicit FakeSession(FakeProfile& profile) : profile_(profile) {}
  void Logon() override {
    profile_.record("RDOSession.Logon");
    ++profile_.sessionsLoggedOn;
    loggedOn_ = true;
  }
  void Logoff() override {
    profile_.record("RDOSession.Logoff");
    if (loggedOn_) --profile_.sessionsLoggedOn;
    loggedOn_ = false;
  }
  std::shared_ptr<platform::RDOStores> Stores() override {
    profile_.record("RDOSession.Stores");
    return std::make_shared<FakeStoresImpl>(profile_);
  }
  std::shared_ptr<platform::RDOFolder> GetFolderFromPath(const std::string& path) override {
    profile_.record("RDOSession.GetFolderFromPath", {path});
    if (path.rfind("\\\\", 0) != 0) fail("Not a folder path: " + path);
    const auto parts = splitPath(path.substr(2));
    auto* store = profile_.storeNamed(parts[0]);
    if (!store) fail("No store named " + parts[0]);
    auto node = store->root;
    for (std::size_t k = 1; k < parts.size(); ++k) {
      node = node->child(parts[k]);
      if (!node) fail("The folder " + path + " was not found");
    }
    return std::make_shared<FakeRdoFolder>(profile_, node);
  }

 private:
  FakeProfile& profile_;
  bool loggedOn_ = false;
};

}  // namespace

// ---- plain helpers ----

std::string RenderVariant(const Variant& value) {
  struct Visitor {
    std::string operator()(std::monostate) const { return "empty"; }
    std::string operator()(bool v) const { return v ? "bool true" : "bool false"; }
    std::string operator()(std::int16_t v) const { return "int16 " + std::to_string(v); }
    std::string operator()(std::int32_t v) const { return "int32 " + std::to_string(v); }
    std::string operator()(double v) const { return "double " + std::to_string(v); }
    std::string operator()(const std::string& v) const { return v; }
  };
  return std::visit(Visitor{}, value);
}

std::string AutomationCall::text() const {
  if (args.empty()) return member;
  std::string out = member + "(";
  for (std::size_t k = 0; k < args.size(); ++k) out += (k ? ", " : "") + args[k];
  return out + ")";
}

std::shared_ptr<FakeFolderNode> FakeFolderNode::child(const std::string& childName) const {
  const std::string wanted = lower(childName);
  for (const auto& c : children) {
    if (lower(c->name) == wanted) return c;
  }
  return nullptr;
}

std::vector<std::string> FakeFolderNode::folderPaths() const {
  std::vector<std::string> out;
  for (const auto& c : children) {
    out.push_back(c->name);
    for (const auto& below : c->folderPaths()) out.push_back(c->name + "\\" + below);
  }
  return out;
}

const FakeFolderNode* FakeFolderNode::find(const std::string& relativePath) const {
  const FakeFolderNode* node = this;
  for (const auto& part : splitPath(relativePath)) {
    const FakeFolderNode* next = nullptr;
    for (const auto& c : node->children) {
      if (c->name == part) next = c.get();
    }
    if (!next) return nullptr;
    node = next;
  }
  return node;
}

FakeProfile::FakeProfile() = default;
FakeProfile::~FakeProfile() = default;

FakeStoreData& FakeProfile::addStore(const std::string& displayName, const std::string& path) {
  auto data = std::make_shared<FakeStoreData>();
  data->path = path;
  data->displayName = displayName;
  data->entryId = "STORE-" + std::to_string(nextStore_++);
  data->root = std::make_shared<FakeFolderNode>();
  data->root->name = displayName;
  stores.push_back(data);
  return *data;
}

void FakeProfile::failOn(const std::string& member, const std::string& argContains, int times) {
  rules_.push_back({member, argContains, times});
}

void FakeProfile::record(const std::string& member, std::vector<std::string> args) {
  calls.push_back({member, std::move(args)});
  const AutomationCall& call = calls.back();
  for (auto& rule : rules_) {
    if (rule.remaining == 0 || rule.member != member) continue;
    if (!rule.argContains.empty() && call.text().find(rule.argContains) == std::string::npos) {
      continue;
    }
    if (rule.remaining > 0) --rule.remaining;
    fail(call.text() + " failed");
  }
}

std::vector<std::string> FakeProfile::callTexts(const std::vector<std::string>& members) const {
  std::vector<std::string> out;
  for (const auto& call : calls) {
    if (std::find(members.begin(), members.end(), call.member) != members.end()) {
      out.push_back(call.text());
    }
  }
  return out;
}

std::vector<std::string> FakeProfile::allCallTexts() const {
  std::vector<std::string> out;
  for (const auto& call : calls) out.push_back(call.text());
  return out;
}

FakeStoreData* FakeProfile::storeAt(const std::string& path) const {
  for (const auto& store : stores) {
    if (!path.empty() && store->path == path) return store.get();
  }
  return nullptr;
}

FakeStoreData* FakeProfile::storeNamed(const std::string& displayName) const {
  const std::string wanted = lower(displayName);
  for (const auto& store : stores) {
    if (store->attached && lower(store->displayName) == wanted) return store.get();
  }
  return nullptr;
}

std::shared_ptr<platform::AutomationObject> FakeProfile::CreateObject(const std::string& progId) {
  try {
    record("CreateObject", {progId});
  } catch (const AutomationError&) {
    throw AutomationError(AutomationError::kCannotCreateObject,
                          "ActiveX component can't create object");
  }
  if (progId == "Redemption.RDOSession") return std::make_shared<FakeSession>(*this);
  if (progId == "Redemption.MAPIUtils") return std::make_shared<FakeMapiUtils>(*this);
  if (progId == "Outlook.Application") return std::make_shared<FakeOutlook>(*this);
  throw AutomationError(AutomationError::kCannotCreateObject,
                        "ActiveX component can't create object");
}

}  // namespace parvane::testing
