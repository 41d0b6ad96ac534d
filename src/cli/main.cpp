// parvane-cli: imports .msg files into a new .pst file from the command line.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli.h"
#include "engine/session/engine_object_factory.h"
#include "platform/posix_file_system.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  parvane::cli::CliEnvironment environment;
  std::error_code error;
  const auto here = std::filesystem::current_path(error);
  if (!error) environment.currentDirectory = here.string();
  environment.errorIsTerminal = isatty(STDERR_FILENO) != 0;
  parvane::session::EngineObjectFactory factory;
  parvane::platform::PosixFileSystem fileSystem;
  return parvane::cli::RunCli(args, factory, fileSystem, environment, std::cout, std::cerr);
}
