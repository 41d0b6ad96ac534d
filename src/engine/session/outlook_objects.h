// The Outlook-shaped folder lookup over the attached stores: the namespace's
// folders are the attached stores' top folders, named after the stores;
// names compare in any letter case, as Outlook compares them.
#pragma once

#include <memory>
#include <string>

#include "engine/session/rdo_objects.h"
#include "platform/automation.h"

namespace parvane::session {

class EngineOutlookApplication final : public platform::OutlookApplication {
 public:
  std::shared_ptr<platform::OutlookNamespace> GetNamespace(const std::string& type) override;
};

class EngineOutlookNamespace final : public platform::OutlookNamespace {
 public:
  std::shared_ptr<platform::OutlookFolders> Folders() override;
};

// The top-level folders: one per attached store.
class EngineOutlookStoreFolders final : public platform::OutlookFolders {
 public:
  std::shared_ptr<platform::OutlookFolder> Item(const std::string& name) override;
  std::shared_ptr<platform::OutlookFolder> Add(const std::string& name, const platform::Variant& type) override;
};

class EngineOutlookFolder final : public platform::OutlookFolder {
 public:
  EngineOutlookFolder(FolderRef ref, bool storeTop) : ref_(std::move(ref)), storeTop_(storeTop) {}
  std::string Name() override;
  std::shared_ptr<platform::OutlookFolders> Folders() override;

 private:
  FolderRef ref_;
  bool storeTop_;
};

class EngineOutlookFolders final : public platform::OutlookFolders {
 public:
  explicit EngineOutlookFolders(FolderRef parent) : parent_(std::move(parent)) {}
  std::shared_ptr<platform::OutlookFolder> Item(const std::string& name) override;
  std::shared_ptr<platform::OutlookFolder> Add(const std::string& name, const platform::Variant& type) override;

 private:
  FolderRef parent_;
};

}  // namespace parvane::session
