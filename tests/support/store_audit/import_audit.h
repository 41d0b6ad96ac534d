// A message file's whole way into a store, checked from the other end: the
// bytes are read as a message file, converted, saved into a new store (one
// folder, the message, a commit) as the converter does, and the store is then
// read back with the engine's own readers and audited.
//
// The audit holds the store to what was written: every block is in the block
// B-tree, reads back with its CRC and lies inside the file without
// overlapping another block or page, in space the allocation map marks as
// used; every reference count is exact; every node's parent exists and its
// property or table context reads back with all its subnodes; the folder's
// counts, tables and hierarchy row agree with its property context; the
// message's contents-table row, its attachment rows and its recipient rows
// agree with the message, attachment and recipient properties that were
// saved, embedded messages to any depth. Any disagreement raises AuditError.
//
// Used by the import fuzzer and by the tests that replay its findings.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/messaging/message_content.h"
#include "engine/core/file_system.h"

namespace parvane::testsupport {

class AuditError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

struct ImportOptions {
  // Message-file values above this size are read on demand while the message is saved.
  std::uint64_t inMemoryLimit = 64 * 1024;
  // PidTagMessageFlags as the converter sets it (read, has attachments).
  std::optional<std::uint32_t> flags = 0x11;
};

// What a store should hold after importMessageFile().
struct ImportedStore {
  std::string path;
  std::u16string folderName;
  std::optional<std::uint32_t> flags;
  // The saved messages as converted from their file, before the store
  // finished them (none when the file was refused).
  std::vector<messaging::StoreMessage> messages;
  // Why the message file was refused; empty when it was saved.
  std::string refusal;
  bool storeWritten = false;  // false when the file was refused before a store was made
};

// Imports the bytes of one message file into a new store at `path` on `fs`.
// A file the reader refuses (msg::ReadError, or a container error met while a
// value is read on demand) is a refusal, not an error: the store then holds
// the folder and no message. Anything else that is thrown passes through.
ImportedStore importMessageFile(core::ByteView bytes, core::FileSystem& fs, const std::string& path,
                                const ImportOptions& options = {});

// Reads the store back and checks it against `expected`; raises AuditError
// naming the first disagreement.
void auditStore(core::FileSystem& fs, const ImportedStore& expected);

}  // namespace parvane::testsupport
