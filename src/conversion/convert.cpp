#include "conversion/convert.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
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

// Whether a listed path begins or ends with a blank, read from its parts so
// that no path is built.
bool anyBlankEnds(const PathList& files) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string_view folder = files.folder(i), name = files.name(i);
    const std::string_view first = folder.empty() ? name : folder;
    const std::string_view last = name.empty() ? folder : name;
    if ((!first.empty() && first.front() == ' ') || (!last.empty() && last.back() == ' ')) return true;
  }
  return false;
}

// The listed files' folders: each distinct relative folder once, and which
// one each file lies in.
struct FileFolders {
  std::vector<std::string> folders;
  std::vector<std::uint32_t> folderOf;  // per file, a position in `folders`
};

std::optional<PreparationError> folderOfEachFile(const ConversionRequest& request,
                                                 FileFolders& out) {
  if (request.files.empty()) return PreparationError{PreparationFailure::NoFiles, {}, {}};
  std::unordered_map<std::string, std::uint32_t> positions;
  out.folderOf.reserve(request.files.size());
  for (std::size_t i = 0; i < request.files.size(); ++i) {
    const std::string file = request.files.path(i);
    const std::string trimmed = TrimBlanks(file);
    if (trimmed.empty()) return PreparationError{PreparationFailure::NoFiles, {}, {}};
    std::string folder;
    try {
      folder = request.pathRules.relativeFolder(file);
    } catch (const std::exception&) {
      return PreparationError{PreparationFailure::NoFolder, {}, trimmed};
    }
    const auto found =
        positions.try_emplace(std::move(folder), static_cast<std::uint32_t>(out.folders.size()));
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

// Ends the store's session once, at the latest when the run leaves by an
// exception: the store lets go of the run's file list there.
class SessionEnd {
 public:
  explicit SessionEnd(StoreService& store) : store_(store) {}
  ~SessionEnd() {
    if (!ended_) store_.endSession();
  }
  SessionEnd(const SessionEnd&) = delete;
  SessionEnd& operator=(const SessionEnd&) = delete;
  void now() {
    ended_ = true;
    store_.endSession();
  }

 private:
  StoreService& store_;
  bool ended_ = false;
};

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
    // The paths as the store gets them: the request's list itself unless a
    // row has blanks around its path, so that a long list is held once. The
    // store holds it until the session ends, before this returns.
    std::shared_ptr<const PathList> paths(std::shared_ptr<void>(), &request_.files);
    if (anyBlankEnds(request_.files)) {
      auto copy = std::make_shared<PathList>();
      copy->reserve(request_.files.size());
      for (std::size_t i = 0; i < request_.files.size(); ++i) {
        copy->append(TrimBlanks(request_.files.path(i)));
      }
      paths = std::move(copy);
    }
    const PathList& trimmed = *paths;
    SessionEnd ending{store_};
    store_.expectImports(paths);
    createFolders();
    importFiles(trimmed);
    observer_.idle();
    if (storeAttached_) {
      if (const Status removed = finishStore(); !removed && storeBroken(removed.error().cause) &&
                                                !result_.storeFailure) {
        storeFailed(request_.files.size(), removed.error());
      }
    }
    observer_.idle();
    ending.now();
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
    firstPath_ = result_.storeFilePath;
    while (!created && created.error().cause == StoreFailure::AlreadyExists &&
           request_.storeFilePath.empty() && number_ < kMostStoreNumbers) {
      result_.storeFilePath = NumberedStorePath(firstPath_, ++number_);
      created =
          store_.createStore(result_.storeFilePath, StoreFormat::Default, result_.storeDisplayName);
    }
    if (!created) return PreparationError{PreparationFailure::StoreNotCreated, created.error(),
                              result_.storeFilePath};
    attached(result_.storeFilePath, result_.storeDisplayName);
    if (auto failed = folderOfEachFile(request_, known_)) return failed;
    folders_ = storeFolders(known_, observer_);
    return std::nullopt;
  }

  // A store is created and attached: the run writes into it from now on.
  void attached(const std::string& path, const std::string& displayName) {
    storeAttached_ = true;
    result_.stores.push_back({path, displayName, 0, 0, false});
    storePart_ = "\\\\" + displayName + "\\";
    madeFolders_.clear();
  }

  Status finishStore() {
    const Status removed = store_.removeStore();
    storeAttached_ = false;
    result_.stores.back().bytes = store_.storeSize();
    return removed;
  }

  // The store is full: it is finished, and the next number's store takes
  // its place, with the display name numbered as the file is. A failure of
  // either ends the run as a failure of the store.
  bool moveToNextStore() {
    if (const Status removed = finishStore(); !removed && storeBroken(removed.error().cause)) {
      storeFailed(current_, removed.error());
      return false;
    }
    convertedBefore_ += convertedFiles_.size();
    convertedFiles_.clear();
    Status created = StoreError{StoreFailure::AlreadyExists, {}};
    std::string path, displayName;
    while (!created && created.error().cause == StoreFailure::AlreadyExists &&
           number_ < kMostStoreNumbers) {
      ++number_;
      path = NumberedStorePath(firstPath_, number_);
      displayName = result_.storeDisplayName + " (" + std::to_string(number_) + ")";
      created = store_.createStore(path, StoreFormat::Default, displayName);
    }
    if (!created) {
      StoreError error = created.error();
      error.detail = "cannot create the store \"" + path + "\": " + error.detail;
      storeFailed(current_, std::move(error));
      return false;
    }
    attached(path, displayName);
    return true;
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
  // after it, the one that failed and those never reached are not in it. The
  // stores finished before it keep all of theirs.
  void nameFilesNotInTheStore(const PathList& trimmed) {
    const std::size_t durable = std::min(store_.durableMessages(), convertedFiles_.size());
    std::vector<std::size_t> lost(convertedFiles_.begin() + static_cast<std::ptrdiff_t>(durable),
                                  convertedFiles_.end());
    for (std::size_t i = notAttemptedFrom_; i < trimmed.size(); ++i) lost.push_back(i);
    for (const std::size_t i : lost) {
      result_.failures.push_back({i, trimmed.path(i), {StoreFailure::StoreFailed, {}}});
    }
    result_.converted = convertedBefore_ + durable;
    // (none saved in it: a store that failed at its first message, or the one
    // finished before a next one that could not be created, keeps its count)
    if (!convertedFiles_.empty()) result_.stores.back().messages = durable;
    std::stable_sort(result_.failures.begin(), result_.failures.end(),
                     [](const ImportError& a, const ImportError& b) { return a.index < b.index; });
  }

  // Parents first; a folder that cannot be made is left out, and the files
  // that belong in it then find no folder.
  void createFolders() {
    for (const auto& entry : folders_) {
      if (stopNow()) return;
      makeFolder(entry);
    }
  }

  // A top-level folder under the store's top folder unless one of exactly
  // that name is there; a deeper one under the folder the lookup finds for
  // its parent.
  void makeFolder(const std::string& entry) {
    if (entry.find('\\') != std::string::npos) {
      const ParentAndLeaf split = SplitLeaf(entry);
      const auto parent = FindFolderByPath(store_, "\\" + currentDisplayName() + "\\" + split.parent);
      observer_.idle();
      if (parent) addFolder(*parent, split.leaf);
      observer_.idle();
      return;
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

  // In a store after the first, the folder of the next file and its
  // ancestors, each made once when a file first needs it.
  void makeFolderPath(const std::string& folder) {
    if (result_.stores.size() < 2) return;  // the first store has them all
    for (std::size_t at = folder.find('\\');; at = folder.find('\\', at + 1)) {
      std::string prefix = folder.substr(0, at);
      if (madeFolders_.insert(prefix).second) makeFolder(prefix);
      if (at == std::string::npos) return;
    }
  }

  const std::string& currentDisplayName() const { return result_.stores.back().displayName; }

  // A folder that cannot be made is left out, unless the store itself failed.
  void addFolder(FolderHandle parent, const std::string& name) {
    const auto added = store_.addFolder(parent, name, FolderKind::Mail);
    if (!added && storeBroken(added.error().cause)) storeFailed(current_, added.error());
  }

  // One file into its folder: a new item, the file imported into it, marked
  // read and saved. A file that cannot be imported leaves no item behind.
  // With a size limit, a message that would take the store past it goes into
  // the next store instead, unless the store holds nothing yet.
  std::optional<StoreError> importOne(const std::string& folderName, const std::string& file,
                                      bool mayMoveOn) {
    bool fitsAlready = false;
    if (request_.maxStoreSize > 0 && mayMoveOn && !convertedFiles_.empty() &&
        folderStillToMake(folderName)) {
      // A folder is made only for a message that stays: the size is asked
      // first with the message in the top folder.
      const auto fits = fitsInTopFolder(file);
      if (!fits) return fits.error();
      if (!fits.value()) return inNextStore(folderName, file);
      fitsAlready = true;
    }
    makeFolderPath(folderName);
    if (result_.storeFailure) return result_.storeFailure;
    const auto folder = store_.folderAtPath(storePart_ + folderName);
    if (!folder) return folder.error();
    const auto item = store_.addItem(folder.value());
    if (!item) return item.error();
    if (auto failed = fill(item.value(), file)) {
      store_.discardItem(item.value());
      return failed;
    }
    bool alone = false;
    if (request_.maxStoreSize > 0 && !fitsAlready) {
      // a store given to a message too large to share one takes no other
      bool fits = false;
      if (!result_.stores.back().oversizedMessage) {
        const auto asked = store_.fitsWithin(item.value(), request_.maxStoreSize);
        if (!asked) {
          store_.discardItem(item.value());
          return asked.error();
        }
        fits = asked.value();
      }
      if (!fits && mayMoveOn && !convertedFiles_.empty()) {
        store_.discardItem(item.value());
        return inNextStore(folderName, file);
      }
      alone = !fits;
    }
    if (const Status saved = store_.save(item.value()); !saved) return saved.error();
    if (alone) result_.stores.back().oversizedMessage = true;
    return std::nullopt;
  }

  // The file imported into a new item, marked read.
  std::optional<StoreError> fill(ItemHandle item, const std::string& file) {
    if (const Status imported = store_.importMessage(item, file); !imported) return imported.error();
    (void)store_.setFlags(item, kReadMessageFlags);
    return std::nullopt;
  }

  bool folderStillToMake(const std::string& folderName) const {
    return result_.stores.size() > 1 && madeFolders_.count(folderName) == 0;
  }

  Result<bool> fitsInTopFolder(const std::string& file) {
    const auto top = store_.topFolder();
    if (!top) return top.error();
    const auto item = store_.addItem(top.value());
    if (!item) return item.error();
    std::optional<StoreError> failed = fill(item.value(), file);
    Result<bool> fits = failed ? Result<bool>(*failed)
                               : store_.fitsWithin(item.value(), request_.maxStoreSize);
    store_.discardItem(item.value());
    return fits;
  }

  std::optional<StoreError> inNextStore(const std::string& folderName, const std::string& file) {
    if (!moveToNextStore()) return result_.storeFailure;
    return importOne(folderName, file, false);
  }

  void importFiles(const PathList& trimmed) {
    const std::size_t total = request_.files.size();
    FileProgress progress;
    progress.total = total;
    for (std::size_t i = 0; i < total; ++i) {
      if (stopNow()) return;
      current_ = i;
      observer_.fileStarted(i);
      observer_.idle();
      const std::string& folder = known_.folders[known_.folderOf[i]];
      const std::string file = trimmed.path(i);
      if (auto failed = importOne(folder, file, true)) {
        if (result_.storeFailure) return;
        if (storeBroken(failed->cause)) return storeFailed(i, std::move(*failed));
        // a stop that came while a large message was written: the file is
        // left out like those after it, not refused
        if (failed->cause == StoreFailure::Abandoned) {
          result_.stopped = true;
          return;
        }
        result_.failures.push_back({i, file, std::move(*failed)});
      } else {
        ++result_.converted;
        ++result_.stores.back().messages;
        convertedFiles_.push_back(static_cast<std::uint32_t>(i));
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
  bool storeAttached_ = false;
  std::string storePart_;   // "\\" + the current store's display name + "\"
  std::string firstPath_;   // the first store's name before any number
  int number_ = 1;          // of the current store's name
  std::unordered_set<std::string> madeFolders_;  // in a store after the first
  std::size_t current_ = 0;                      // the file being handled
  // of the current store, in the order they were saved (4 bytes a file: a
  // list of 4 billion files is not in sight)
  std::vector<std::uint32_t> convertedFiles_;
  std::size_t convertedBefore_ = 0;          // in the stores finished before it
  std::size_t notAttemptedFrom_ = 0;         // once the store failed
};

}  // namespace

std::vector<const WrittenStore*> StoresPastOutlookWarning(const RunResult& result) {
  std::vector<const WrittenStore*> past;
  for (const auto& store : result.stores) {
    if (store.bytes > kOutlookWarningStoreSize) past.push_back(&store);
  }
  return past;
}

RunResult convert(const ConversionRequest& request, StoreService& store, RunObserver& observer) {
  return Run(request, store, observer).go();
}

}  // namespace parvane::conversion
