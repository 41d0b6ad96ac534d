#include "conversion/folder_lookup.h"

#include <string_view>

namespace parvane::conversion {

namespace {

template <class T>
T& need(const std::shared_ptr<T>& object) {
  if (!object) {
    throw platform::AutomationError(platform::AutomationError::kObjectRequired, "Object required");
  }
  return *object;
}

}  // namespace

std::shared_ptr<platform::OutlookFolder> OpenMAPIFolder(platform::ObjectFactory& factory,
                                                        const std::string& path) {
  std::shared_ptr<platform::OutlookFolder> current;
  std::shared_ptr<platform::OutlookApplication> application;
  std::shared_ptr<platform::OutlookNamespace> mapi;
  try {
    application = platform::as<platform::OutlookApplication>(
        factory.CreateObject("Outlook.Application"));
  } catch (...) {
  }
  std::string rest = (!path.empty() && path.front() == '\\') ? path.substr(1) : path;
  while (!rest.empty()) {
    std::string name;
    const auto sep = rest.find('\\');
    if (sep != std::string::npos) {
      name = rest.substr(0, sep);
      rest.erase(0, sep + 1);
    } else {
      name = std::move(rest);
      rest.clear();
    }
    if (!current) {
      try {
        mapi = need(application).GetNamespace("MAPI");
      } catch (...) {
      }
      try {
        current = need(need(mapi).Folders()).Item(name);
      } catch (...) {
      }
    } else {
      try {
        auto next = need(need(current).Folders()).Item(name);
        if (next) current = std::move(next);
      } catch (...) {
      }
    }
  }
  return current;
}

std::optional<FolderHandle> FindFolderByPath(StoreService& store, const std::string& path) {
  std::optional<FolderHandle> current;
  std::string_view rest(path);
  if (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
  while (!rest.empty()) {
    const auto separator = rest.find('\\');
    const std::string name(rest.substr(0, separator));
    rest = separator == std::string_view::npos ? std::string_view() : rest.substr(separator + 1);
    auto found = current ? store.subfolder(*current, name) : store.storeFolder(name);
    if (found) current = found.value();
  }
  return current;
}

}  // namespace parvane::conversion
