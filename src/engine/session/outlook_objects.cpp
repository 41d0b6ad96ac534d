#include "engine/session/outlook_objects.h"

#include "engine/core/codepage.h"
#include "engine/core/text.h"
#include "engine/messaging/folder_names.h"
#include "engine/session/automation_errors.h"
#include "engine/session/profile.h"

namespace parvane::session {

std::shared_ptr<platform::OutlookNamespace> EngineOutlookApplication::GetNamespace(const std::string& type) {
  if (type != "MAPI") raise(kMapiInvalidParameter, "GetNamespace: only the \"MAPI\" namespace exists");
  return std::make_shared<EngineOutlookNamespace>();
}

std::shared_ptr<platform::OutlookFolders> EngineOutlookNamespace::Folders() {
  return std::make_shared<EngineOutlookStoreFolders>();
}

std::shared_ptr<platform::OutlookFolder> EngineOutlookStoreFolders::Item(const std::string& name) {
  auto store = Profile::instance().byDisplayName(core::utf8ToUtf16(name));
  if (!store) raise(kMapiNotFound, "Folders.Item: no store named \"" + name + "\" is attached");
  return std::make_shared<EngineOutlookFolder>(FolderRef{store, store->ipmSubtree()}, true);
}

std::shared_ptr<platform::OutlookFolder> EngineOutlookStoreFolders::Add(const std::string& name,
                                                                        const platform::Variant&) {
  raise(kMapiNotSupported, "Folders.Add: \"" + name + "\" cannot be added at the top level; stores are added to the profile");
}

std::string EngineOutlookFolder::Name() {
  requireAttached(ref_);
  return core::toUtf8(storeTop_ ? ref_.store->displayName() : ref_.store->folderName(ref_.folder));
}

std::shared_ptr<platform::OutlookFolders> EngineOutlookFolder::Folders() {
  requireAttached(ref_);
  return std::make_shared<EngineOutlookFolders>(ref_);
}

std::shared_ptr<platform::OutlookFolder> EngineOutlookFolders::Item(const std::string& name) {
  requireAttached(parent_);
  auto child = findSubfolder(*parent_.store, parent_.folder, core::utf8ToUtf16(name));
  if (!child) raise(kMapiNotFound, "Folders.Item: no folder named \"" + name + "\"");
  return std::make_shared<EngineOutlookFolder>(FolderRef{parent_.store, *child}, false);
}

std::shared_ptr<platform::OutlookFolder> EngineOutlookFolders::Add(const std::string& name,
                                                                   const platform::Variant& type) {
  requireAttached(parent_);
  if (!std::holds_alternative<std::monostate>(type)) (void)toInt32(type);
  if (name.empty()) raise(kMapiInvalidParameter, "Folders.Add: a folder needs a name");
  auto id = translated("Cannot add the folder \"" + name + "\"", [&] {
    return parent_.store->createFolder(parent_.folder, core::utf8ToUtf16(name));
  });
  return std::make_shared<EngineOutlookFolder>(FolderRef{parent_.store, id}, false);
}

}  // namespace parvane::session
