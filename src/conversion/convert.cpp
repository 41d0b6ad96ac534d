#include "conversion/convert.h"

#include <algorithm>
#include <exception>
#include <unordered_map>
#include <utility>

#include "conversion/folder_list.h"
#include "conversion/folder_lookup.h"
#include "conversion/list_sort.h"
#include "conversion/store_file_name.h"

namespace parvane::conversion {
namespace {

// A failure of the store itself rather than of one message: nothing more can
// be written to it.
bool storeBroken(StoreFailure cause) {
  return cause == StoreFailure::NoSpace || cause == StoreFailure::Io ||
         cause == StoreFailure::NotWritable || cause == StoreFailure::NotAttached;
}

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
    const Status removed = store_.removeStore();
    if (!removed && storeBroken(removed.error().cause) && !result_.storeFailure) {
      storeFailed(request_.files.size(), removed.error());
    }
    observer_.idle();
    store_.endSession();
    if (result_.storeFailure) nameFilesNotInTheStore(trimmed);
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
    Status created =
        store_.createStore(result_.storeFilePath, StoreFormat::Default, result_.storeDisplayName);
    // A stamped name has a resolution of one second: a later run in the same
    // second takes the next free number. A name given by the caller is kept.
    const std::string stamped = result_.storeFilePath;
    for (int number = 2; !created && created.error().cause == StoreFailure::AlreadyExists &&
                         request_.storeFilePath.empty() && number <= kMostStoreNumbers;
         ++number) {
      result_.storeFilePath = NumberedStorePath(stamped, number);
      created =
          store_.createStore(result_.storeFilePath, StoreFormat::Default, result_.storeDisplayName);
    }
    if (!created) return PreparationError{PreparationFailure::StoreNotCreated, created.error(),
                              result_.storeFilePath};
    if (auto failed = folderOfEachFile(request_, known_)) return failed;
    folders_ = storeFolders(known_, observer_);
    return std::nullopt;
  }

  bool stopNow() {
    if (result_.storeFailure) return true;
    if (!result_.stopped) result_.stopped = observer_.stopRequested();
    return result_.stopped;
  }

  // The store failed while file `at` was handled (the list's size: at the end).
  void storeFailed(std::size_t at, StoreError error) {
    result_.storeFailure = std::move(error);
    notAttemptedFrom_ = at;
  }

  // The file keeps the messages saved up to its last commit: the files saved
  // after it, the one that failed and those never reached are not in it.
  void nameFilesNotInTheStore(const std::vector<std::string>& trimmed) {
    const std::size_t durable = std::min(store_.durableMessages(), convertedFiles_.size());
    std::vector<std::size_t> lost(convertedFiles_.begin() + static_cast<std::ptrdiff_t>(durable),
                                  convertedFiles_.end());
    for (std::size_t i = notAttemptedFrom_; i < trimmed.size(); ++i) lost.push_back(i);
    for (const std::size_t i : lost) {
      result_.failures.push_back({i, trimmed[i], {StoreFailure::StoreFailed, {}}});
    }
    result_.converted = durable;
    std::stable_sort(result_.failures.begin(), result_.failures.end(),
                     [](const ImportError& a, const ImportError& b) { return a.index < b.index; });
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
        if (parent) addFolder(*parent, split.leaf);
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
        if (!exists) addFolder(top.value(), entry);
      }
      observer_.idle();
    }
  }

  // A folder that cannot be made is left out, unless the store itself failed.
  void addFolder(FolderHandle parent, const std::string& name) {
    const auto added = store_.addFolder(parent, name, FolderKind::Mail);
    if (!added && storeBroken(added.error().cause)) storeFailed(0, added.error());
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
        if (storeBroken(failed->cause)) return storeFailed(i, std::move(*failed));
        // a stop that came while a large message was written: the file is
        // left out like those after it, not refused
        if (failed->cause == StoreFailure::Abandoned) {
          result_.stopped = true;
          return;
        }
        result_.failures.push_back({i, trimmed[i], std::move(*failed)});
      } else {
        ++result_.converted;
        convertedFiles_.push_back(i);
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
  std::vector<std::size_t> convertedFiles_;  // in the order they were saved
  std::size_t notAttemptedFrom_ = 0;           // once the store failed
};

}  // namespace

RunResult convert(const ConversionRequest& request, StoreService& store, RunObserver& observer) {
  return Run(request, store, observer).go();
}

}  // namespace parvane::conversion
