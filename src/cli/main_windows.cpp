// parvane-cli on Windows: the arguments come from the wide command line and go
// on as UTF-8; the console shows UTF-8; folders are listed through the Windows
// API.
#include <windows.h>
#include <shellapi.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "import/engine_store_service.h"
#include "platform/win32_text.h"

namespace {

volatile LONG pendingSignal = 0;

// Ctrl+C and Ctrl+Break are noted once for the run to stop between files and
// finish the store; a second one ends the program at once (the default).
BOOL WINAPI NoteStop(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  return InterlockedCompareExchange(&pendingSignal, SIGINT, 0) == 0 ? TRUE : FALSE;
}

std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(parvane::platform::WideToUtf8(wide[i]));
  LocalFree(wide);
  return args;
}

std::string CurrentDirectory() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  if (size == 0) return {};
  std::wstring wide(size, L'\0');
  const DWORD length = GetCurrentDirectoryW(size, wide.data());
  if (length == 0 || length >= size) return {};
  wide.resize(length);
  return parvane::platform::WideToUtf8(wide);
}

// A console, not a file or a pipe: GetConsoleMode succeeds only on one.
bool IsConsole(DWORD which) {
  DWORD mode = 0;
  HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

int main() {
  SetConsoleOutputCP(CP_UTF8);
  parvane::cli::CliEnvironment environment;
  if (std::string here = CurrentDirectory(); !here.empty()) environment.currentDirectory = here;
  environment.errorIsTerminal = IsConsole(STD_ERROR_HANDLE);
  SetConsoleCtrlHandler(&NoteStop, TRUE);
  environment.pendingSignal = [] { return static_cast<int>(pendingSignal); };
  // A stop is acted on between messages, and inside a large one between the
  // chunks of its values, so that it never waits for a whole big attachment.
  parvane::messaging::StoreOptions storeOptions;
  storeOptions.abandonMessage = [] { return pendingSignal != 0; };
  parvane::importer::EngineStoreService store(storeOptions);
  return parvane::cli::RunCli(Arguments(), store, parvane::core::FileSystem::native(), environment, std::cout, std::cerr);
}
