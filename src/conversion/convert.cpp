#include "conversion/convert.h"

#include <exception>
#include <unordered_map>
#include <utility>

#include "conversion/folder_list.h"
#include "conversion/folder_lookup.h"
#include "conversion/list_sort.h"

namespace parvane::conversion {
namespace {

// The listed files' folders: each distinct relative folder once, and which
// one each file lies in.
struct FileFolders {
  std::vector<std::string> folders;
  std::vector<std::size_t> folderOf;  // per file, a position in `folders`
};

std::optional<PreparationError> folderOfEachFile(const ConversionRequest& request,
                                                 FileFolders& out) {
  if (request.files.empty()) return PreparationError{PreparationFailure::NoFiles, {}, {}};
  std::unordered_map<std::string, std::size_t> positions;
  out.folderOf.reserve(request.files.size());
  for (const auto& file : request.files) {
    const std::string trimmed = TrimBlanks(file);
    if (trimmed.empty()) return PreparationError{PreparationFailure::NoFiles, {}, {}};
    std::string folder;
    try {
      folder = request.pathRules.relativeFolder(file);
    } catch (const std::exception&) {
      return PreparationError{PreparationFailure::NoFolder, {}, trimmed};
    }
    const auto found = positions.try_emplace(std::move(folder), out.folders.size());
    if (found.second) out.folders.push_back(found.first->first);
    out.folderOf.push_back(found.first->second);
  }
  return std::nullopt;
}

// Every folder the store must hold, each once, each after its parent: the
// files' folders sorted and de-duplicated, then every ancestor added and the
// whole sorted and de-duplicated again. The last position stays outside each
// sort: a spare empty one first, then the greatest path, which no prefix
// exceeds.
std::vector<std::string> storeFolders(const FileFolders& known, RunObserver& observer) {
  std::vector<std::string> list = known.folders;
  list.emplace_back();
  QuickSort(list, 0, static_cast<std::int32_t>(list.size()) - 2);
  observer.idle();
  RemoveDuplicates(list);
  ExpandFolderList(list);
  observer.idle();
  QuickSort(list, 0, static_cast<std::int32_t>(list.size()) - 2);
  observer.idle();
  RemoveDuplicates(list);
  return list;
}

class Run {
 public:
  Run(const ConversionRequest& request, StoreService& store, RunObserver& observer)
      : request_(request), store_(store), observer_(observer) {}

  RunResult go() {
    observer_.runStarted();
    observer_.idle();
    observer_.progressRangeSet();
    observer_.idle();
    if (auto failed = prepare()) {
      result_.stage = RunResult::Stage::PreparationFailed;
      result_.preparation = *failed;
      observer_.preparationFailed(*failed);
      observer_.runEnded(result_);
      return result_;
    }
    std::vector<std::string> trimmed;
    trimmed.reserve(request_.files.size());
    for (const auto& file : request_.files) trimmed.push_back(TrimBlanks(file));
    store_.expectImports(trimmed);
    createFolders();
    importFiles(trimmed);
    observer_.idle();
    (void)store_.removeStore();  // a failure here leaves the store as of its last commit
    observer_.idle();
    store_.endSession();
    observer_.runEnded(result_);
    return result_;
  }

 private:
  // The store, then the folder list; the first failure ends the run with
  // nothing undone (a store already created stays).
  std::optional<PreparationError> prepare() {
    std::string destination = request_.destinationFolder;
    const char separator = request_.pathRules.separator;
    if (destination.empty() || destination.back() != separator) destination += separator;
    const Clock& clock = request_.clock ? request_.clock : Clock(SystemLocalTime);
    result_.storeFilePath = request_.storeFilePath.empty()
                                ? destination + kStoreFilePrefix + FormatTimeStamp(clock()) +
                                      kStoreFileExtension
                                : request_.storeFilePath;
    result_.storeDisplayName = kStoreDisplayNamePrefix + FormatTimeStamp(clock());
    const Status created =
        store_.createStore(result_.storeFilePath, StoreFormat::Default, result_.storeDisplayName);
    if (!created) return PreparationError{PreparationFailure::StoreNotCreated, created.error(),
                              result_.storeFilePath};
    if (auto failed = folderOfEachFile(request_, known_)) return failed;
    folders_ = storeFolders(known_, observer_);
    return std::nullopt;
  }

  bool stopNow() {
    if (!result_.stopped) result_.stopped = observer_.stopRequested();
    return result_.stopped;
  }

  // Parents first: a top-level folder under the store's top folder unless one
  // of exactly that name is there; a deeper one under the folder the lookup
  // finds for its parent. A folder that cannot be made is left out; the files
  // that belong in it then find no folder.
  void createFolders() {
    for (const auto& entry : folders_) {
      if (stopNow()) return;
      if (entry.find('\\') != std::string::npos) {
        const ParentAndLeaf split = SplitLeaf(entry);
        const auto parent =
            FindFolderByPath(store_, "\\" + result_.storeDisplayName + "\\" + split.parent);
        observer_.idle();
        if (parent) (void)store_.addFolder(*parent, split.leaf, FolderKind::Mail);
        observer_.idle();
        continue;
      }
      const auto top = store_.topFolder();
      if (top) {
        const auto names = store_.subfolderNames(top.value());
        bool exists = false;
        if (names) {
          for (const auto& name : names.value()) exists = exists || name == entry;
        }
        if (!exists) (void)store_.addFolder(top.value(), entry, FolderKind::Mail);
      }
      observer_.idle();
    }
  }

  // One file into its folder: a new item, the file imported into it, marked
  // read and saved. A file that cannot be imported leaves no item behind.
  std::optional<StoreError> importOne(const std::string& folderPath, const std::string& file) {
    const auto folder = store_.folderAtPath(folderPath);
    if (!folder) return folder.error();
    const auto item = store_.addItem(folder.value());
    if (!item) return item.error();
    if (const Status imported = store_.importMessage(item.value(), file); !imported) {
      return imported.error();
    }
    (void)store_.setFlags(item.value(), kReadMessageFlags);
    if (const Status saved = store_.save(item.value()); !saved) return saved.error();
    return std::nullopt;
  }

  void importFiles(const std::vector<std::string>& trimmed) {
    const std::size_t total = request_.files.size();
    const std::string storePart = "\\\\" + result_.storeDisplayName + "\\";
    FileProgress progress;
    progress.total = total;
    for (std::size_t i = 0; i < total; ++i) {
      if (stopNow()) return;
      observer_.fileStarted(i);
      observer_.idle();
      const std::string& folder = known_.folders[known_.folderOf[i]];
      if (auto failed = importOne(storePart + folder, trimmed[i])) {
        result_.failures.push_back({i, trimmed[i], std::move(*failed)});
      } else {
        ++result_.converted;
      }
      progress.index = i;
      progress.relativeFolder = folder;
      progress.frameCaption = "Details : Converting - (" + std::to_string(i + 1) + " of " +
                              std::to_string(total) + ") file(s)";
      progress.folderCaption = "Importing Messages... from (" + folder + ")";
      progress.percent = static_cast<float>(static_cast<double>(i + 1) /
                                            static_cast<double>(total) * 100.0);
      observer_.fileDone(progress);
    }
  }

  const ConversionRequest& request_;
  StoreService& store_;
  RunObserver& observer_;
  RunResult result_;
  FileFolders known_;
  std::vector<std::string> folders_;
};

}  // namespace

RunResult convert(const ConversionRequest& request, StoreService& store, RunObserver& observer) {
  return Run(request, store, observer).go();
}

}  // namespace parvane::conversion
