// A personal folders store at the messaging level: a new store as Outlook
// creates one (message store object, name-to-id map, root folder, IPM
// subtree, Deleted Items, search root, table templates and search nodes),
// folders with their hierarchy, contents and associated-contents tables, and
// messages with recipients, attachments and embedded messages.
//
// Folder tables and folder counts are written at each commit, so that adding
// many messages stays linear; a commit happens on its own every few seconds or
// megabytes (between two messages, when the store is consistent), and at
// close(). Destroying a store that is still open closes it.
//
// Memory does not grow with the number of messages: a contents table keeps
// only its unfinished blocks in memory (ltp::AppendingTable), and only while
// its folder had one of the last 64 messages; after that only the references
// to its blocks (ltp::ParkedTable), and a later message to the folder reads
// them back. Each folder costs a record of about 400 bytes (its properties
// and counts, 4 bytes a subfolder), plus
// half a byte per message in a folder past a few hundred: a hierarchy table is
// made anew from its subfolders' records whenever it is written.
//
// Nor does a folder's time grow with the folders: a subfolder is found by a
// hash of its parent and name, and a commit writes the folders that changed
// since the last one (their counts, their parents' hierarchy tables), not all.
//
// Errors: StoreError (messaging), with a core::IoError passed on inside a
// StoreError of Kind::Io (Kind::FileExists for a new store's file that
// exists), whose text names the file and the cause once: "cannot write PATH:
// No space left on device". Not thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/messaging/message_content.h"
#include "engine/messaging/named_property_map.h"

namespace parvane::core {
class FileSystem;
}

namespace parvane::messaging {

using FolderId = std::uint32_t;  // the folder's node id
using MessageId = std::uint32_t;

struct StoreOptions {
  std::uint64_t commitEveryBytes = 64ull << 20;
  std::uint32_t commitEveryMilliseconds = 5000;
  core::FileSystem* fileSystem = nullptr;  // nullptr: the operating system's
  // Where the store's times (FILETIME) and random keys come from; empty: the
  // system clock and a randomly seeded generator. Fixing both, and leaving
  // commits to the byte count alone, makes the file's bytes repeatable.
  std::function<std::uint64_t()> fileTime;
  RandomSource random;
  // Asked between the 64 KiB pieces of a large value: true abandons the message
  // being written (StoreError Abandoned) and leaves the store as before it.
  std::function<bool()> abandonMessage;
};

class Store {
 public:
  // Creates the store; an existing path is an error. The file is written
  // under a temporary name beside `path` and appears under `path` only once
  // the new store's first commit is on disk: a failed creation (disk full,
  // read-only folder...) leaves no file under either name.
  static std::unique_ptr<Store> create(const std::string& path, const std::u16string& displayName,
                                       const StoreOptions& options = {});
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const std::string& path() const;
  const std::u16string& displayName() const;
  const GuidBytes& recordKey() const;
  // The 24-byte entry identifier of a folder or message of this store.
  core::Bytes entryId(std::uint32_t nid) const;

  FolderId rootFolder() const;
  FolderId ipmSubtree() const;
  FolderId deletedItems() const;
  std::vector<FolderId> subfolders(FolderId folder) const;
  // The subfolder of that name in any letter case, if any; as quick with
  // many siblings as with few.
  std::optional<FolderId> subfolderNamed(FolderId parent, std::u16string_view name) const;
  std::u16string folderName(FolderId folder) const;
  bool hasFolder(FolderId folder) const;
  std::uint32_t contentCount(FolderId folder) const;

  // A new mail folder (container class IPF.Note). Raises StoreError
  // NameCollision when a sibling has that name in any letter case.
  FolderId createFolder(FolderId parent, const std::u16string& name);

  // Writes a message into a folder; computes what the store owns (see
  // finish()) with `flags` as PidTagMessageFlags when given.
  MessageId addMessage(FolderId folder, StoreMessage message, std::optional<std::uint32_t> flags);

  NamedPropertyMap& namedProperties();

  // Writes what is pending and makes it durable.
  void commit();

  // Durability of the messages, for telling which are in the file after a
  // failure. Count the addMessage() calls in order: savedMessageCount() rises
  // by one for each message written, even when the commit that followed it
  // in the same call failed (the call then raises the error); the first
  // committedMessageCount() of them are in the file, which holds its last
  // commit whatever happens afterwards. After an I/O error (StoreError Io: disk
  // full, ...) the messages from committedMessageCount() to
  // savedMessageCount() are not in the file; the store takes no more.
  std::uint64_t savedMessageCount() const;
  std::uint64_t committedMessageCount() const;
  // The size of the file now, and how much of it content uses (pages, blocks,
  // and space freed since the last commit, which is reusable only after it):
  // the difference is what the next messages can take without the file growing.
  std::uint64_t fileSize() const;
  std::uint64_t bytesInUse() const;
  // Block bytes written since the last commit.
  std::uint64_t bytesSinceCommit() const;
  // The file grows no further than `bytes` unless its content needs more
  // (0: no limit); fitsWithin() tells whether a message fits.
  void setGrowthLimit(std::uint64_t bytes);
  // Whether `message`, added now, keeps the file within `limit` bytes up to
  // and including the close, whatever else the store writes meanwhile (the
  // message's blocks, the folders' tables and counts, B-tree pages, the
  // commits). Sets the growth limit. Near the limit it commits first, so that
  // space freed since the last commit counts and nothing is left to guess.
  bool fitsWithin(const StoreMessage& message, std::uint64_t limit);

  // Commits and closes; the store cannot be used afterwards.
  void close();
  bool isOpen() const;

  class Impl;

 private:
  explicit Store(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace parvane::messaging
