// The conversion run: a new time-stamped store in the destination folder, the
// listed files' folder tree rebuilt in it, every listed file imported as a
// read message into the folder that matches its own, and the store detached.
// The run knows no window: it tells a RunObserver what a user should see and
// asks it whether to stop; it reaches the store only through StoreService.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "conversion/path_list.h"
#include "conversion/relative_folder.h"
#include "conversion/store_service.h"
#include "conversion/time_stamp.h"

namespace parvane::conversion {

struct ConversionRequest {
  PathList files;                 // one full path per listed row
  std::string destinationFolder;  // as the user chose it, not empty
  std::string storeFilePath;      // empty: the stamped name in the destination
  PathRules pathRules = kNativePathRules;
  Clock clock = SystemLocalTime;
  // 0: one store, whatever its size. Otherwise, when the next message would
  // take the store's file past this many bytes, that store is finished and the
  // run goes on in a new one named with the next number ("... (2).pst"),
  // which gets the folders its messages need. A message larger than that
  // goes alone into a store of its own.
  std::uint64_t maxStoreSize = 0;
};

// Why the store could not be made ready; the run then ends with nothing undone.
enum class PreparationFailure {
  StoreNotCreated,   // see `store`
  NoFiles,           // the list holds no file (one empty row)
  NoFolder,          // a listed path names no folder below the drive or root
};

struct PreparationError {
  PreparationFailure cause = PreparationFailure::NoFiles;
  StoreError store;  // for StoreNotCreated
  std::string path;  // the store file, or for NoFolder the listed file
};

// A listed file that did not become a message.
struct ImportError {
  std::size_t index = 0;  // its position in the list
  std::string path;       // blanks trimmed
  StoreError cause;
};

// A store file the run wrote.
struct WrittenStore {
  std::string path;
  std::string displayName;
  std::size_t messages = 0;  // saved in it (after a failure of the store, those its file keeps)
  std::uint64_t bytes = 0;   // the file's size as the run finished it
  // It holds one message alone that is larger than the request's maxStoreSize.
  bool oversizedMessage = false;
};

// Outlook warns when a Unicode store passes 47.5 GB (48,640 MB of 2^20 bytes)
// and by default refuses to let it grow past 50 GB.
inline constexpr std::uint64_t kOutlookWarningStoreSize = 48640ull << 20;
inline constexpr std::uint64_t kOutlookDefaultStoreLimit = 51200ull << 20;

struct RunResult {
  enum class Stage { PreparationFailed, Completed };
  Stage stage = Stage::Completed;
  std::string storeFilePath;     // the first store
  std::string storeDisplayName;  // the first store's
  std::vector<WrittenStore> stores;  // every store created, in order
  std::optional<PreparationError> preparation;
  std::size_t converted = 0;
  std::vector<ImportError> failures;  // in list order
  bool stopped = false;  // the observer asked to stop
  // The store itself failed (a full disk, an I/O error): the run stopped
  // there, and every file its file does not hold is among the failures.
  std::optional<StoreError> storeFailure;
};

// What the window shows after each file: its frame caption, its current-folder
// line and the overall progress.
struct FileProgress {
  std::size_t index = 0;  // from 0
  std::size_t total = 0;
  std::string relativeFolder;
  std::string frameCaption;   // "Details : Converting - (i of n) file(s)"
  std::string folderCaption;  // "Importing Messages... from (folder)"
  float percent = 0;
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The store work begins: a window keeps its list and its start button still
  // until runEnded.
  virtual void runStarted() {}
  // Both progress bars take the range 0 to 100; their positions stay.
  virtual void progressRangeSet() {}
  // A point where a window handles its pending messages.
  virtual void idle() {}
  virtual void preparationFailed(const PreparationError& error) { (void)error; }
  // The file at `index` is next (a window makes its row current).
  virtual void fileStarted(std::size_t index) { (void)index; }
  virtual void fileDone(const FileProgress& progress) { (void)progress; }
  virtual void runEnded(const RunResult& result) { (void)result; }
  // Asked before each folder is made and each file is imported; once it says
  // yes the rest is left out and the store is finished as at every end.
  virtual bool stopRequested() { return false; }
};

inline constexpr const char* kStoreFilePrefix = "OstrelMSGMessages";
inline constexpr const char* kStoreFileExtension = ".pst";
// The stores of a run that passed the size at which Outlook warns.
std::vector<const WrittenStore*> StoresPastOutlookWarning(const RunResult& result);

inline constexpr const char* kStoreDisplayNamePrefix = "Ostrel Software : Created - ";
inline constexpr std::uint32_t kReadMessageFlags = 17;  // read, and "has attachments"

RunResult convert(const ConversionRequest& request, StoreService& store, RunObserver& observer);

}  // namespace parvane::conversion
