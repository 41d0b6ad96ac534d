// A store service held in memory, for tests of the run: folders with the
// files imported into them, every call written down, and failures on demand.
#pragma once

#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "conversion/store_service.h"

namespace parvane::testing {

class MemoryStoreService : public conversion::StoreService {
 public:
  using FolderHandle = conversion::FolderHandle;
  using ItemHandle = conversion::ItemHandle;
  using StoreError = conversion::StoreError;
  using StoreFailure = conversion::StoreFailure;
  template <class T>
  using Result = conversion::Result<T>;
  using Status = conversion::Status;

  struct Message {
    std::string file;  // what was imported, empty for none
    std::uint32_t flags = 0;
  };
  struct Folder {
    std::string name;
    std::uint32_t parent = 0;
    std::vector<std::uint32_t> children;
    std::vector<Message> messages;
  };

  // ---- failures on demand ----
  std::function<std::optional<StoreError>(const std::string& path)> createFails;
  std::set<std::string> unreadable;  // files whose import fails as damaged
  std::set<std::string> abandoned;   // files whose save is given up for a stop
  // Fails every save from the nth on (1 = the first), as a full disk does.
  int saveFailsFrom = 0;
  // Saved messages become durable in groups of this many (0: each at once);
  // a failed store's file keeps the durable ones only.
  int commitEvery = 0;
  StoreError saveFailure{StoreFailure::NoSpace, "No space left on device"};

  // ---- sizes: a store's file is emptyStoreSize plus the sizes of the files
  // saved in it (fileSizes, else defaultFileSize) ----
  std::uint64_t emptyStoreSize = 1000;
  std::uint64_t defaultFileSize = 100;
  std::map<std::string, std::uint64_t> fileSizes;

  // ---- the stores removed, as they were finished ----
  struct FinishedStore {
    std::string path, displayName;
    std::vector<std::string> folderPaths;
    std::map<std::string, std::vector<std::string>> files;  // by folder path
    std::uint64_t size = 0;
  };
  std::vector<FinishedStore> finished;

  // ---- the calls, one line each: "addFolder Mail Work 6" ----
  std::vector<std::string> calls;

  // ---- what the store holds ----
  std::vector<std::string> savedFiles;  // in the order they were saved
  bool created = false, attached = false, sessionEnded = false;
  std::string path, displayName;
  std::map<std::uint32_t, Folder> folders;

  // "A", "A\B", ... below the top folder, parents first.
  std::vector<std::string> folderPaths() const {
    std::vector<std::string> out;
    walk(kTop, "", [&](const std::string& p, const Folder&) { out.push_back(p); });
    return out;
  }
  // The files imported into the folder at `folderPath` ("A\B"), in order.
  std::vector<std::string> filesIn(const std::string& folderPath) const {
    std::vector<std::string> out;
    walk(kTop, "", [&](const std::string& p, const Folder& f) {
      if (p == folderPath) {
        for (const auto& m : f.messages) out.push_back(m.file);
      }
    });
    return out;
  }
  // Items added and neither saved nor dropped.
  std::size_t pendingItems() const { return pending_.size(); }
  std::vector<Message> allMessages() const {
    std::vector<Message> out;
    for (const auto& [id, f] : folders) out.insert(out.end(), f.messages.begin(), f.messages.end());
    return out;
  }

  // ---- the service ----
  Status createStore(const std::string& p, conversion::StoreFormat format,
                     const std::string& name) override {
    calls.push_back("createStore " + p + " " + std::to_string(static_cast<int>(format)) + " " + name);
    if (createFails) {
      if (auto failed = createFails(p)) return *failed;
    }
    if (created) {  // a later store of the session starts empty
      folders.clear();
      savedFiles.clear();
      durable_ = 0;
    }
    created = attached = true;
    path = p;
    displayName = name;
    size_ = emptyStoreSize;
    folders[kTop] = Folder{"Top of Personal Folders", 0, {}, {}};
    return conversion::Done{};
  }
  Result<FolderHandle> topFolder() override {
    calls.push_back("topFolder");
    if (!attached) return notAttached();
    return FolderHandle{kTop};
  }
  Result<std::vector<std::string>> subfolderNames(FolderHandle folder) override {
    calls.push_back("subfolderNames " + nameOf(folder));
    if (!folders.count(folder.id)) return notFound();
    std::vector<std::string> names;
    for (auto child : folders[folder.id].children) names.push_back(folders[child].name);
    return names;
  }
  Result<FolderHandle> addFolder(FolderHandle parent, const std::string& name,
                                 conversion::FolderKind kind) override {
    calls.push_back("addFolder " + nameOf(parent) + " " + name + " " +
                    std::to_string(static_cast<int>(kind)));
    if (!folders.count(parent.id)) return notFound();
    if (childNamed(parent.id, name)) return StoreError{StoreFailure::AlreadyExists, name};
    const std::uint32_t id = next_++;
    folders[id] = Folder{name, parent.id, {}, {}};
    folders[parent.id].children.push_back(id);
    return FolderHandle{id};
  }
  Result<FolderHandle> storeFolder(const std::string& name) override {
    calls.push_back("storeFolder " + name);
    if (!attached || fold(name) != fold(displayName)) return notFound();
    return FolderHandle{kTop};
  }
  Result<FolderHandle> subfolder(FolderHandle parent, const std::string& name) override {
    calls.push_back("subfolder " + nameOf(parent) + " " + name);
    if (!folders.count(parent.id)) return notFound();
    if (auto child = childNamed(parent.id, name)) return FolderHandle{child};
    return notFound();
  }
  Result<FolderHandle> folderAtPath(const std::string& p) override {
    calls.push_back("folderAtPath " + p);
    std::vector<std::string> names(1);
    std::size_t start = 0;
    while (start < p.size() && p[start] == '\\') ++start;
    for (std::size_t k = start; k < p.size(); ++k) {
      if (p[k] == '\\') names.emplace_back();
      else names.back() += p[k];
    }
    if (!attached || start == 0 || fold(names.front()) != fold(displayName)) return notFound();
    std::uint32_t at = kTop;
    for (std::size_t i = 1; i < names.size(); ++i) {
      at = childNamed(at, names[i]);
      if (!at) return notFound();
    }
    return FolderHandle{at};
  }
  void expectImports(std::shared_ptr<const conversion::PathList> files) override {
    calls.push_back("expectImports " + std::to_string(files ? files->size() : 0));
  }
  Result<ItemHandle> addItem(FolderHandle folder) override {
    calls.push_back("addItem " + nameOf(folder));
    if (!folders.count(folder.id)) return notFound();
    pending_[nextItem_] = {folder.id, Message{}};
    return ItemHandle{nextItem_++};
  }
  Status importMessage(ItemHandle item, const std::string& file) override {
    calls.push_back("importMessage " + file);
    if (unreadable.count(file)) return StoreError{StoreFailure::DamagedMessage, "not a message file"};
    pending_.at(item.id).second.file = file;
    return conversion::Done{};
  }
  Status setFlags(ItemHandle item, std::uint32_t flags) override {
    calls.push_back("setFlags " + std::to_string(flags));
    pending_.at(item.id).second.flags = flags;
    return conversion::Done{};
  }
  Status save(ItemHandle item) override {
    calls.push_back("save");
    ++saves_;
    if (saveFailsFrom > 0 && saves_ >= saveFailsFrom) return saveFailure;
    auto& [folder, message] = pending_.at(item.id);
    if (abandoned.count(message.file)) {
      pending_.erase(item.id);
      return StoreError{StoreFailure::Abandoned, "the message was abandoned while it was written"};
    }
    folders[folder].messages.push_back(message);
    savedFiles.push_back(message.file);
    size_ += sizeOf(message.file);
    pending_.erase(item.id);
    if (commitEvery == 0 || savedFiles.size() % static_cast<std::size_t>(commitEvery) == 0) {
      durable_ = savedFiles.size();
    }
    return conversion::Done{};
  }
  void discardItem(ItemHandle item) override {
    calls.push_back("discardItem");
    pending_.erase(item.id);
  }
  Result<bool> fitsWithin(ItemHandle item, std::uint64_t bytes) override {
    calls.push_back("fitsWithin " + std::to_string(bytes));
    if (!attached) return notAttached();
    return size_ + sizeOf(pending_.at(item.id).second.file) <= bytes;
  }
  std::uint64_t storeSize() override { return size_; }
  std::size_t durableMessages() override {
    calls.push_back("durableMessages");
    return durable_;
  }
  Status removeStore() override {
    calls.push_back("removeStore");
    if (!attached) return notAttached();
    attached = false;
    FinishedStore done{path, displayName, folderPaths(), {}, size_};
    for (const auto& folder : done.folderPaths) done.files[folder] = filesIn(folder);
    finished.push_back(std::move(done));
    // the last commit, at closing, fails as the saves did
    if (saveFailsFrom > 0 && saves_ >= saveFailsFrom) return saveFailure;
    durable_ = savedFiles.size();
    return conversion::Done{};
  }
  void endSession() override {
    calls.push_back("endSession");
    sessionEnded = true;
  }

 private:
  static constexpr std::uint32_t kTop = 1;
  static StoreError notFound() { return {StoreFailure::NotFound, "not found"}; }
  static StoreError notAttached() { return {StoreFailure::NotAttached, "no store"}; }
  static std::string fold(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  std::uint32_t childNamed(std::uint32_t parent, const std::string& name) const {
    for (auto child : folders.at(parent).children) {
      if (fold(folders.at(child).name) == fold(name)) return child;
    }
    return 0;
  }
  std::string nameOf(FolderHandle folder) const {
    if (folder.id == kTop) return "<top>";
    auto it = folders.find(folder.id);
    return it == folders.end() ? "<none>" : it->second.name;
  }
  void walk(std::uint32_t id, const std::string& prefix,
            const std::function<void(const std::string&, const Folder&)>& visit) const {
    auto it = folders.find(id);
    if (it == folders.end()) return;
    for (auto child : it->second.children) {
      const auto& f = folders.at(child);
      const std::string p = prefix.empty() ? f.name : prefix + "\\" + f.name;
      visit(p, f);
      walk(child, p, visit);
    }
  }
  std::uint64_t sizeOf(const std::string& file) const {
    const auto found = fileSizes.find(file);
    return found == fileSizes.end() ? defaultFileSize : found->second;
  }
  std::uint32_t next_ = 2, nextItem_ = 1;
  std::uint64_t size_ = 0;
  int saves_ = 0;
  std::size_t durable_ = 0;
  std::map<std::uint32_t, std::pair<std::uint32_t, Message>> pending_;
};

}  // namespace parvane::testing
