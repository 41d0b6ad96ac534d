// The store service of a window that was given none (the screenshot tool, the
// window's own tests): every store it is asked for is refused, so a run ends
// with the preparation box and writes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "conversion/store_service.h"

namespace parvane::app {

class NoStoreService final : public conversion::StoreService {
 public:
  static constexpr const char* kDetail = "this window has no mail store to write to";

  conversion::Status createStore(const std::string&, conversion::StoreFormat,
                                 const std::string&) override {
    return conversion::StoreError{conversion::StoreFailure::Other, kDetail};
  }
  conversion::Result<conversion::FolderHandle> topFolder() override { return none(); }
  conversion::Result<std::vector<std::string>> subfolderNames(conversion::FolderHandle) override {
    return none();
  }
  conversion::Result<conversion::FolderHandle> addFolder(conversion::FolderHandle,
                                                         const std::string&,
                                                         conversion::FolderKind) override {
    return none();
  }
  conversion::Result<conversion::FolderHandle> storeFolder(const std::string&) override {
    return none();
  }
  conversion::Result<conversion::FolderHandle> subfolder(conversion::FolderHandle,
                                                         const std::string&) override {
    return none();
  }
  conversion::Result<conversion::FolderHandle> folderAtPath(const std::string&) override {
    return none();
  }
  void expectImports(std::shared_ptr<const conversion::PathList>) override {}
  conversion::Result<conversion::ItemHandle> addItem(conversion::FolderHandle) override {
    return none();
  }
  conversion::Status importMessage(conversion::ItemHandle, const std::string&) override {
    return none();
  }
  conversion::Status setFlags(conversion::ItemHandle, std::uint32_t) override { return none(); }
  conversion::Status save(conversion::ItemHandle) override { return none(); }
  void discardItem(conversion::ItemHandle) override {}
  conversion::Result<bool> fitsWithin(conversion::ItemHandle, std::uint64_t) override {
    return none();
  }
  std::uint64_t storeSize() override { return 0; }
  std::size_t durableMessages() override { return 0; }
  conversion::Status removeStore() override { return none(); }
  void endSession() override {}

 private:
  static conversion::StoreError none() {
    return {conversion::StoreFailure::NotAttached, kDetail};
  }
};

}  // namespace parvane::app
