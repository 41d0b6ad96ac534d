// A recording, in-memory stand-in for the mail-store objects of
// platform/automation.h: a mail profile of stores and folders that answers the
// Redemption-shaped and Outlook-shaped calls, records every call with its
// arguments in order, and can be told to fail chosen calls.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation.h"

namespace parvane::testing {

// One recorded call: "RDOStores.AddPSTStore" with its arguments rendered as
// text (texts as they are, numbers as "int16 6", "int32 1", "bool true").
struct AutomationCall {
  std::string member;
  std::vector<std::string> args;
  std::string text() const;  // "RDOStores.AddPSTStore(/out/x.pst, int32 1, Name)"; "RDOSession.Logon"
};

std::string RenderVariant(const platform::Variant& value);

struct FakeMessage {
  std::string importedFrom;
  bool importFailed = false;
  bool saved = false;
  std::map<std::int32_t, std::string> properties;  // tag -> rendered value
};

struct FakeFolderNode {
  std::string name;
  std::vector<std::shared_ptr<FakeFolderNode>> children;
  std::vector<std::shared_ptr<FakeMessage>> messages;  // saved messages, in saving order

  // The child of that name, compared without regard to case; null if none.
  std::shared_ptr<FakeFolderNode> child(const std::string& childName) const;
  // Every folder below this one as "A", "A\B", ... in creation order, depth first.
  std::vector<std::string> folderPaths() const;
  // The folder at a relative path ("A\B"), compared exactly; null if none.
  const FakeFolderNode* find(const std::string& relativePath) const;
};

struct FakeStoreData {
  std::string path;
  std::string displayName;
  std::string entryId;
  bool attached = true;
  std::shared_ptr<FakeFolderNode> root;  // the top-level folder; named as the store
};

class FakeProfile : public platform::ObjectFactory {
 public:
  FakeProfile();
  ~FakeProfile() override;
  FakeProfile(const FakeProfile&) = delete;
  FakeProfile& operator=(const FakeProfile&) = delete;

  // ---- set-up ----
  // A store already attached to the profile.
  FakeStoreData& addStore(const std::string& displayName, const std::string& path = {});
  // Top-level folders that every new store brings with it.
  std::vector<std::string> newStoreFolders;
  // Makes every call of `member` whose rendered arguments contain `argContains`
  // raise AutomationError, `times` times (negative: always). `member` is as
  // recorded ("RDOMail.Import", "CreateObject", ...).
  void failOn(const std::string& member, const std::string& argContains = {}, int times = -1);

  // ---- inspection ----
  std::vector<AutomationCall> calls;
  // The recorded calls of the given members, as text, in order.
  std::vector<std::string> callTexts(const std::vector<std::string>& members) const;
  std::vector<std::string> allCallTexts() const;
  std::vector<std::shared_ptr<FakeStoreData>> stores;  // every store, attached or not
  FakeStoreData* storeAt(const std::string& path) const;
  FakeStoreData* storeNamed(const std::string& displayName) const;  // attached ones
  int sessionsLoggedOn = 0;
  int mapiUtilsAlive = 0;  // MAPIUtils objects not yet released

  // Every announcement of imports to come, with how many calls were recorded
  // before it.
  struct Announcement {
    std::vector<std::string> files;
    std::size_t afterCalls = 0;
  };
  std::vector<Announcement> announcements;

  // ---- ObjectFactory ----
  std::shared_ptr<platform::AutomationObject> CreateObject(const std::string& progId) override;
  void ExpectImports(std::vector<std::string> files) override {
    announcements.push_back({std::move(files), calls.size()});
  }

  // ---- used by the fake objects ----
  // Records the call, then raises if a failure rule matches it.
  void record(const std::string& member, std::vector<std::string> args = {});

 private:
  struct FailRule {
    std::string member;
    std::string argContains;
    int remaining;
  };
  std::vector<FailRule> rules_;
  int nextStore_ = 1;
  friend class FakeStoresImpl;
};

}  // namespace parvane::testing
