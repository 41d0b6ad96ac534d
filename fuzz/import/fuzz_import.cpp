// libFuzzer target: takes the bytes of a message file through the whole
// import (reader, conversion, a new store with one folder and the message,
// a commit) into a store kept in memory, then reads the store back with the
// engine's own readers and audits it (support/store_audit). A file the
// reader refuses is fine; any other exception, an audit disagreement, a
// crash, a sanitizer report or a hang is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "support/store_audit/import_audit.h"
#include "support/memory_file_system.h"

using namespace parvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    testing::MemoryFileSystem fs;
    testsupport::ImportOptions options;
    // the last byte's low bit (the end of a compound file's last sector,
    // which a reader rarely looks at) picks where values start being read
    // on demand: both ways of saving a value get exercised
    options.inMemoryLimit = size && (data[size - 1] & 1) ? 1024 : 64 * 1024;
    const auto imported = testsupport::importMessageFile(core::ByteView(data, size), fs, "fuzz.pst", options);
    testsupport::auditStore(fs, imported);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fuzz_import: %s\n", e.what());
    std::abort();
  }
  return 0;
}
