#include "conversion/failure_report.h"

namespace parvane::conversion {

const char* const kPreparationErrorTitle = "Outlook Error";

namespace {

template <class Failure>
std::string reportText(const std::vector<Failure>& failures, std::size_t listed,
                       const std::string& firstLine = {}) {
  std::string text = std::to_string(failures.size()) + " file(s) could not be converted:";
  if (!firstLine.empty()) text += "\r\n" + firstLine;
  std::size_t shown = 0;
  for (const auto& failure : failures) {
    if (shown == listed) break;
    text += "\r\n" + FailureLine(failure);
    ++shown;
  }
  if (failures.size() > shown) {
    text += "\r\n... and " + std::to_string(failures.size() - shown) + " more.";
  }
  return text;
}

}  // namespace

std::string FailureLine(const ImportError& failure) {
  const std::string file = "\"" + failure.path + "\": ";
  switch (failure.cause.cause) {
    case StoreFailure::UnreadableMessage:
    case StoreFailure::DamagedMessage:
    case StoreFailure::NotFound:
      return "Cannot import " + file + failure.cause.detail;
    case StoreFailure::StoreFailed:
      return "Not converted: \"" + failure.path + "\"";
    default:
      return "Cannot save the message imported from " + file + failure.cause.detail;
  }
}

std::string FailureReportText(const std::vector<ImportError>& failures, std::size_t listed) {
  return reportText(failures, listed);
}

std::string FailureReportText(const RunResult& result, std::size_t listed) {
  return reportText(result.failures, listed,
                    result.storeFailure ? StoreFailureLine(*result.storeFailure) : std::string());
}

std::string StoreFailureLine(const StoreError& error) { return "The store failed: " + error.detail; }

std::string PreparationCause(const PreparationError& error) {
  switch (error.cause) {
    case PreparationFailure::NoFiles:
      return "The list holds no message file.";
    case PreparationFailure::NoFolder:
      return "The file \"" + error.path + "\" lies in no folder below its drive.";
    case PreparationFailure::StoreNotCreated:
      break;
  }
  const std::string store = "\"" + error.path + "\"";
  switch (error.store.cause) {
    case StoreFailure::AlreadyExists:
      return "The file " + store + " exists already.";
    case StoreFailure::NotWritable:
      return "The destination folder cannot be written: " + error.store.detail;
    case StoreFailure::NoSpace:
      return "The destination has no room for the store: " + error.store.detail;
    case StoreFailure::NotFound:
      return "The destination folder does not exist: " + error.store.detail;
    default:
      return "The store " + store + " could not be created: " + error.store.detail;
  }
}

std::string PreparationErrorText(const PreparationError& error) {
  return "Outlook Session Creation Error !\r\n" + PreparationCause(error) +
         "\r\nFor more details visit this link : "
         "https://support.microsoft.com/en-us/office/"
         "create-an-outlook-profile-f544c1ba-3352-4b3b-be0b-8d42a540459d";
}

}  // namespace parvane::conversion
