// parvane-cli: imports .msg files into a new .pst file from the command line.
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli.h"
#include "import/engine_store_service.h"

namespace {

volatile std::sig_atomic_t pendingSignal = 0;

void NoteSignal(int signal) { pendingSignal = signal; }

// SIGINT, SIGTERM and SIGHUP (the terminal went away) are noted for the run to
// stop between files and finish the store; each handler is used once, so a
// second signal ends the program at once.
void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = &NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = static_cast<int>(static_cast<unsigned>(SA_RESTART) | static_cast<unsigned>(SA_RESETHAND));
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  CatchStopSignals();
  // A file-size limit (ulimit -f) makes a write fail with EFBIG, which the
  // store takes as a full disk, rather than end the process unannounced.
  signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  parvane::cli::CliEnvironment environment;
  std::error_code error;
  const auto here = std::filesystem::current_path(error);
  if (!error) environment.currentDirectory = here.string();
  environment.errorIsTerminal = isatty(STDERR_FILENO) != 0;
  environment.pendingSignal = [] { return static_cast<int>(pendingSignal); };
  // A stop is acted on between messages, and inside a large one between the
  // chunks of its values, so that it never waits for a whole big attachment.
  parvane::messaging::StoreOptions storeOptions;
  storeOptions.abandonMessage = [] { return pendingSignal != 0; };
  parvane::importer::EngineStoreService store(storeOptions);
  return parvane::cli::RunCli(args, store, parvane::core::FileSystem::native(), environment, std::cout, std::cerr);
}
