#include "conversion/conversion_run.h"

#include <charconv>
#include <cstdint>
#include <exception>
#include <unordered_map>
#include <utility>

#include "conversion/failure_report.h"
#include "conversion/folder_list.h"
#include "conversion/folder_lookup.h"
#include "conversion/list_sort.h"
#include "conversion/store_file_name.h"
#include "platform/registry.h"

namespace parvane::conversion {

const char* const kOutlookErrorText =
    "Outlook Session Creation Error !\r\n"
    "Check if Outlook is installed and configured.\r\n"
    "For more details visit this link : "
    "https://support.microsoft.com/en-us/office/"
    "create-an-outlook-profile-f544c1ba-3352-4b3b-be0b-8d42a540459d";
const char* const kOutlookErrorTitle = "Outlook Error";

namespace {

using platform::AutomationError;
using platform::Variant;

constexpr const char* kChooserTitle = "Choose Folder to Save...";
constexpr const char* kFilePrefix = "OstrelMSGMessages";
constexpr const char* kFileExtension = ".pst";
constexpr const char* kDisplayNamePrefix = "Ostrel Software : Created - ";
constexpr const char* kApplicationTitle = "Parvane";
constexpr std::int32_t kStoreDefaultFormat = 1;
constexpr std::int16_t kFolderInbox = 6;
constexpr std::int16_t kMailItem = 0;
constexpr std::int32_t kImportMsg = 3;
constexpr std::int32_t kPrMessageFlags = 0x0E070003;
constexpr std::int16_t kReadAndHasAttach = 17;

template <class T>
T& need(const std::shared_ptr<T>& object) {
  if (!object) throw AutomationError(AutomationError::kObjectRequired, "Object required");
  return *object;
}

std::string describeCurrent() {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "Unknown error";
  }
}

// One step under the continue-on-error rule: a step that raises is skipped.
// Returns whether it ran through; the first error's text goes to *firstError.
template <class Step>
bool attempt(Step&& step, std::string* firstError = nullptr) {
  try {
    std::forward<Step>(step)();
    return true;
  } catch (...) {
    const std::string text = describeCurrent();
    if (firstError && firstError->empty()) *firstError = text.empty() ? "Unknown error" : text;
    return false;
  }
}

// Keeps the list from changing and a second run from starting while this run
// yields: the list buttons and CmdExtractDBX are disabled from the start of
// the run to its end. Afterwards the list buttons get their state back, and
// CmdExtractDBX too unless an imported row has disabled it for good.
class RunLock {
 public:
  RunLock(WindowValues& values, const RunControls& controls)
      : values_(values), controls_(controls) {
    values_.runActive = true;
    for (auto& held : held_) {
      attempt([&] {
        held.wasEnabled = held.button->enabled();
        held.button->setEnabled(false);
      });
    }
  }
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  ~RunLock() { release(); }

  void importStarted() { importStarted_ = true; }

  void release() noexcept {
    if (released_) return;
    released_ = true;
    for (auto& held : held_) {
      if (held.button == &controls_.CmdExtractDBX && importStarted_) continue;
      attempt([&] { held.button->setEnabled(held.wasEnabled); });
    }
    values_.runActive = false;
  }

 private:
  struct Held {
    platform::Button* button;
    bool wasEnabled = true;
  };
  WindowValues& values_;
  const RunControls& controls_;
  Held held_[4] = {{&controls_.cmdAdd},
                   {&controls_.CmdAddFolder},
                   {&controls_.cmdClear1},
                   {&controls_.CmdExtractDBX}};
  bool importStarted_ = false;
  bool released_ = false;
};

std::string cellText(platform::Grid& grid, std::int32_t row) {
  grid.setRow(row);
  grid.setCol(0);
  return grid.text();
}

// What step D learnt of each row, so that the import step need not work out
// a row's relative folder again while the row's text is still the same.
struct RowFolders {
  std::vector<std::string> texts;         // each row's text as step D read it
  std::vector<std::size_t> folderOf;      // each row's folder, a position in `folders`
  std::vector<std::string> folders;       // the distinct relative folders
};

// D: one relative folder per row and a spare slot, sorted and de-duplicated,
// then every ancestor added, sorted and de-duplicated again. Rows mostly share
// their folders, so only the distinct ones are sorted: the outcome is the same.
// The rows' files, as the import step reads them, go to *files.
void buildFolderList(WindowValues& values, const RunControls& controls,
                     const RunOptions& options, std::vector<std::string>* files,
                     RowFolders* known) {
  const std::int32_t rows = controls.grdFiles1.rows();
  if (rows < 1) throw AutomationError(AutomationError::kFailed, "The file list has no rows");
  auto& list = values.FolderList;
  list.clear();
  files->clear();
  files->reserve(static_cast<std::size_t>(rows));
  known->texts.reserve(static_cast<std::size_t>(rows));
  known->folderOf.reserve(static_cast<std::size_t>(rows));
  std::unordered_map<std::string, std::size_t> positions;
  for (std::int32_t i = 0; i < rows; ++i) {
    std::string text = cellText(controls.grdFiles1, i);
    std::string folder = options.pathRules.relativeFolder(text);
    std::size_t position = known->folderOf.empty() ? 0 : known->folderOf.back();
    if (known->folders.empty() || known->folders[position] != folder) {
      const auto found = positions.try_emplace(folder, known->folders.size());
      if (found.second) known->folders.push_back(std::move(folder));
      position = found.first->second;
    }
    files->push_back(TrimBlanks(text));
    known->texts.push_back(std::move(text));
    known->folderOf.push_back(position);
  }
  list.reserve(known->folders.size() + 1);
  list = known->folders;
  list.emplace_back();
  QuickSort(list, 0, static_cast<std::int32_t>(list.size()) - 2);
  controls.desktop.yield();
  RemoveDuplicates(list);

  ExpandFolderList(list);
  controls.desktop.yield();
  QuickSort(list, 0, static_cast<std::int32_t>(list.size()) - 2);
  controls.desktop.yield();
  RemoveDuplicates(list);
}

// Tells the store which files the import step is about to import, in row
// order, so that it can read them ahead; the announcement ends with the step.
class AnnouncedImports {
 public:
  AnnouncedImports(platform::ObjectFactory& factory, std::vector<std::string> files)
      : factory_(factory) {
    attempt([&] { factory_.ExpectImports(std::move(files)); });
  }
  AnnouncedImports(const AnnouncedImports&) = delete;
  AnnouncedImports& operator=(const AnnouncedImports&) = delete;
  ~AnnouncedImports() {
    attempt([&] { factory_.ExpectImports({}); });
  }

 private:
  platform::ObjectFactory& factory_;
};

// E: the folders, parents first. Top-level ones through the store, deeper ones
// under the folder Outlook finds for their parent.
// True once the caller wants the run cut short; a failing question counts as no.
bool stopNow(const RunOptions& options, RunOutcome& outcome) {
  if (!outcome.stopped && options.stopRequested) {
    attempt([&] { outcome.stopped = options.stopRequested(); });
  }
  return outcome.stopped;
}

void createFolders(WindowValues& values, const RunControls& controls,
                   platform::ObjectFactory& factory, const RunOptions& options,
                   const std::string& storeEntryId, RunOutcome& outcome) {
  const std::size_t count = values.FolderList.size();
  for (std::size_t position = 0; position < count; ++position) {
    if (stopNow(options, outcome)) return;
    std::string entry;
    if (!attempt([&] { entry = values.FolderList.at(position); })) continue;
    if (entry.find('\\') != std::string::npos) {
      const ParentAndLeaf split = SplitLeaf(entry);
      std::shared_ptr<platform::OutlookFolder> parent =
          OpenMAPIFolder(factory, "\\" + values.StoreDisplayName + "\\" + split.parent);
      controls.desktop.yield();
      attempt([&] { need(need(parent).Folders()).Add(split.leaf, Variant{kFolderInbox}); });
      controls.desktop.yield();
    } else {
      std::shared_ptr<platform::RDOStore> store;
      attempt([&] { store = need(need(values.MailSession).Stores()).GetStoreFromID(storeEntryId); });
      std::shared_ptr<platform::RDOFolders> topLevel;
      bool exists = false;
      attempt([&] {
        topLevel = need(need(store).IPMRootFolder()).Folders();
        const std::int32_t folders = need(topLevel).Count();
        for (std::int32_t k = 1; k <= folders; ++k) {
          attempt([&] {
            if (need(topLevel->Item(k)).Name() == entry) exists = true;
          });
        }
      });
      if (!exists) attempt([&] { need(topLevel).Add(entry, Variant{kFolderInbox}); });
      controls.desktop.yield();
    }
  }
}

// F3 to F6 for one row, into the store folder at `folderPath`. Returns whether
// the message was saved; the first error's text goes to *firstError. A message
// whose import failed is neither flagged nor saved, so no empty message is
// left in the store.
bool importRow(WindowValues& values, platform::ObjectFactory& factory,
               const std::string& folderPath, const std::string& file,
               std::string* firstError) {
  static const std::string kMapiUtils = "Redemption.MAPIUtils";
  std::shared_ptr<platform::RDOMail> message;
  const bool added = attempt(
      [&] {
        auto folder = need(values.MailSession).GetFolderFromPath(folderPath);
        message = need(need(folder).Items()).Add(Variant{kMailItem});
        need(message);
      },
      firstError);
  if (!added) return false;
  if (!attempt([&] { message->Import(file, kImportMsg); }, firstError)) return false;
  attempt([&] {
    auto utils = platform::as<platform::MAPIUtils>(factory.CreateObject(kMapiUtils));
    auto mapiObject = message->MAPIOBJECT();
    utils->HrSetOneProp(need(mapiObject), kPrMessageFlags, Variant{kReadAndHasAttach}, true);
  });
  return attempt([&] { message->Save(); }, firstError);
}

void appendNumber(std::string& text, std::int32_t number) {
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  text.append(digits, end);
}

// The row's relative folder: step D's when the row's text is still what step D
// read, otherwise worked out afresh into *computed.
const std::string& folderOfRow(const RowFolders& known, std::int32_t row,
                               const std::string& rowText, const RunOptions& options,
                               std::string* computed) {
  const auto at = static_cast<std::size_t>(row);
  if (at < known.texts.size() && known.texts[at] == rowText) {
    return known.folders[known.folderOf[at]];
  }
  *computed = options.pathRules.relativeFolder(rowText);
  return *computed;
}

// The row's text without its surrounding blanks; the text itself when it has none.
const std::string& trimmedRow(const std::string& rowText, std::string* trimmed) {
  if (rowText.empty() || (rowText.front() != ' ' && rowText.back() != ' ')) return rowText;
  *trimmed = TrimBlanks(rowText);
  return *trimmed;
}

void importRows(WindowValues& values, const RunControls& controls,
                platform::ObjectFactory& factory, const RunOptions& options, RunLock& lock,
                const RowFolders& known, RunOutcome& outcome) {
  static const std::string kNoFolder;
  auto& grid = controls.grdFiles1;
  const std::int32_t rows = grid.rows();
  // Reused from row to row: the folder path up to the relative folder, and the captions.
  std::string folderPath = "\\\\" + values.StoreDisplayName + "\\";
  const std::size_t storePart = folderPath.size();
  std::string frameCaption, labelCaption, computedFolder, trimmedText;
  for (std::int32_t i = 0; i < rows; ++i) {
    if (stopNow(options, outcome)) return;
    attempt([&] {
      grid.setRow(i);
      grid.setCol(0);
    });
    controls.desktop.yield();

    std::string error, rowText;
    const std::string* relativeFolder = &kNoFolder;
    bool saved = false;
    if (attempt([&] {
          rowText = grid.text();
          relativeFolder = &folderOfRow(known, i, rowText, options, &computedFolder);
        },
                &error)) {
      folderPath.resize(storePart);
      folderPath += *relativeFolder;
      saved = importRow(values, factory, folderPath, trimmedRow(rowText, &trimmedText), &error);
    }
    if (saved) {
      ++outcome.rowsConverted;
    } else {
      outcome.failures.push_back({i, TrimBlanks(rowText), error.empty() ? "Unknown error" : error});
    }

    attempt([&] { controls.CmdExtractDBX.setEnabled(false); });
    lock.importStarted();
    attempt([&] {
      const std::int32_t total = grid.rows();
      frameCaption.assign("Details : Converting - (");
      appendNumber(frameCaption, i + 1);
      frameCaption += " of ";
      appendNumber(frameCaption, total);
      frameCaption += ") file(s)";
      controls.FrameConversion.setCaption(frameCaption);
      labelCaption.assign("Importing Messages... from (");
      labelCaption += *relativeFolder;
      labelCaption += ')';
      controls.LblCurrentDBX.setCaption(labelCaption);
      const double percent = static_cast<double>(i + 1) / static_cast<double>(total) * 100.0;
      controls.ProgressBar1.setValue(static_cast<float>(percent));
    });
  }
}

}  // namespace

RunOutcome CmdExtractDBX_Click(WindowValues& values, const RunControls& controls,
                               platform::ObjectFactory& factory, const RunOptions& options) {
  RunOutcome outcome;
  if (values.runActive) {
    outcome.stage = RunOutcome::Stage::Busy;
    return outcome;
  }

  // A. Destination.
  const char separator = options.pathRules.separator;
  values.SavePath = platform::ChooseFolder(controls.folderDialog,
                                           controls.desktop.mainWindowHandle(), kChooserTitle,
                                           separator);
  if (values.SavePath.empty()) return outcome;
  if (values.SavePath.back() != separator) values.SavePath += separator;
  RunLock lock(values, controls);
  controls.desktop.yield();

  // B. Progress display.
  controls.ProgressBar1.setMin(0.0f);
  controls.ProgressBar1.setMax(100.0f);
  controls.ProgressBar2.setMin(0.0f);
  controls.ProgressBar2.setMax(100.0f);
  controls.desktop.yield();

  // C and D, under the preparation rule: the first error ends the run with the
  // error box, and nothing is undone.
  std::shared_ptr<platform::RDOStore> newStore;
  std::string storeEntryId;
  std::vector<std::string> rowFiles;
  RowFolders known;
  try {
    values.MailSession =
        platform::as<platform::RDOSession>(factory.CreateObject("Redemption.RDOSession"));
    values.MailSession->Logon();
    const Clock& clock = options.clock ? options.clock : Clock(SystemLocalTime);
    outcome.pstFilePath = options.pstFilePath.empty()
                              ? values.SavePath + kFilePrefix + FormatTimeStamp(clock()) +
                                    kFileExtension
                              : options.pstFilePath;
    values.StoreDisplayName = kDisplayNamePrefix + FormatTimeStamp(clock());
    newStore = AddStoreAtFreePath(need(need(values.MailSession).Stores()), outcome.pstFilePath,
                                  options.pstFilePath.empty(), kStoreDefaultFormat,
                                  values.StoreDisplayName);
    storeEntryId = need(newStore).EntryID();
    buildFolderList(values, controls, options, &rowFiles, &known);
  } catch (...) {
    outcome.stage = RunOutcome::Stage::PreparationFailed;
    outcome.preparationError = describeCurrent();
    lock.release();
    attempt([&] {
      controls.messageBox.show(kOutlookErrorText, platform::MessageButtons::Ok,
                               platform::MessageIcon::Information, kOutlookErrorTitle);
    });
    return outcome;
  }

  // E and F, under the continue-on-error rule. The files are announced first,
  // so that reading them starts while the folders are made.
  {
    AnnouncedImports announced(factory, std::move(rowFiles));
    createFolders(values, controls, factory, options, storeEntryId, outcome);
    importRows(values, controls, factory, options, lock, known, outcome);
  }

  // G. Finish.
  controls.desktop.yield();
  attempt([&] { need(newStore).Remove(); });
  newStore.reset();
  controls.desktop.yield();
  attempt([&] { need(values.MailSession).Logoff(); });
  values.MailSession.reset();

  outcome.stage = RunOutcome::Stage::Completed;
  lock.release();
  if (!outcome.failures.empty() && options.reportFailures) {
    attempt([&] {
      controls.messageBox.show(FailureReportText(outcome.failures), platform::MessageButtons::Ok,
                               platform::MessageIcon::Exclamation, kApplicationTitle);
    });
  }
  return outcome;
}

}  // namespace parvane::conversion
