// The conversion run: a new time-stamped store in the destination folder, the
// listed files' folder tree rebuilt in it, every listed file imported as a
// read message into the folder that matches its own, and the store detached.
// The run knows no window: it tells a RunObserver what a user should see and
// asks it whether to stop; it reaches the store only through StoreService.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "conversion/relative_folder.h"
#include "conversion/store_service.h"
#include "conversion/time_stamp.h"

namespace parvane::conversion {

struct ConversionRequest {
  std::vector<std::string> files;  // one full path per listed row
  std::string destinationFolder;   // as the user chose it, not empty
  std::string storeFilePath;       // empty: the stamped name in the destination
  PathRules pathRules = kNativePathRules;
  Clock clock = SystemLocalTime;
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

struct RunResult {
  enum class Stage { PreparationFailed, Completed };
  Stage stage = Stage::Completed;
  std::string storeFilePath;
  std::string storeDisplayName;
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
inline constexpr const char* kStoreDisplayNamePrefix = "Ostrel Software : Created - ";
inline constexpr std::uint32_t kReadMessageFlags = 17;  // read, and "has attachments"

RunResult convert(const ConversionRequest& request, StoreService& store, RunObserver& observer);

}  // namespace parvane::conversion
