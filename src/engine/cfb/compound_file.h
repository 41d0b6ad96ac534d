// Reading compound files (structured storage, "docfiles"): versions 3 and 4,
// the DIFAT, FAT, mini FAT and mini stream, and the directory tree of storages
// and streams. The whole directory, the allocation tables and the sector
// chain of every stream in the tree are read and checked when the file is
// opened; stream contents are read on demand, in whatever pieces the caller
// asks for, straight from the byte source (or from memory, for a file small
// enough to be read whole when opened).
//
//   auto file = cfb::CompoundFile::open(std::make_shared<core::FileSource>(p), p.string());
//   const cfb::Entry* props = file->child(file->root(), "__properties_version1.0");
//   auto stream = file->openStream(*props);     // a core::ByteSource
//   stream->readAt(0, buffer);
//
// Every inconsistency that would make a read ambiguous (loops in a sector
// chain, a sector past the end of the file, an entry reached twice in the
// directory tree, a stream longer than its chain) raises cfb::Error naming the
// file and the structure; nothing is trusted before it is checked.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/cfb/error.h"
#include "engine/core/source.h"

namespace parvane::cfb {

enum class EntryType : std::uint8_t { Unused = 0, Storage = 1, Stream = 2, Root = 5 };

// Names and child lists are views into tables the compound file owns: an
// entry is valid for as long as its file.
struct Entry {
  std::uint32_t id = 0;  // index in the directory
  std::u16string_view name;
  EntryType type = EntryType::Unused;
  std::array<std::uint8_t, 16> clsid{};
  std::uint32_t stateBits = 0;
  std::uint64_t creationTime = 0;  // FILETIME
  std::uint64_t modifiedTime = 0;  // FILETIME
  std::uint32_t startSector = 0;
  std::uint64_t size = 0;
  std::uint32_t parent = 0xFFFFFFFF;   // directory index of the storage holding it
  std::span<const std::uint32_t> children;  // storages only, in name order (compareNames)

  bool isStorage() const { return type == EntryType::Storage || type == EntryType::Root; }
  bool isStream() const { return type == EntryType::Stream; }
};

// The compound-file rule for names: shorter names sort first; names of equal
// length compare code unit by code unit after simple upper-casing.
int compareNames(std::u16string_view a, std::u16string_view b);
bool sameName(std::u16string_view a, std::u16string_view b);
// The upper-cased form that compareNames() compares, and the order on it.
std::u16string nameKey(std::u16string_view name);
bool keyLess(const std::u16string& a, const std::u16string& b);

class CompoundFile : public std::enable_shared_from_this<CompoundFile> {
 public:
  // Parses and checks the file's structures; `name` appears in every error.
  static std::shared_ptr<const CompoundFile> open(std::shared_ptr<const core::ByteSource> source,
                                                  std::string name);

  const std::string& name() const { return name_; }
  std::uint16_t majorVersion() const { return majorVersion_; }
  std::uint32_t sectorSize() const { return sectorSize_; }

  const Entry& root() const { return entries_[0]; }
  const Entry& entry(std::uint32_t id) const {
    if (id >= entries_.size()) noEntry(id);
    return entries_[id];
  }
  // The upper-cased name that child() compares: for callers that match many
  // children against names of their own, as child() would.
  std::u16string_view key(std::uint32_t id) const {
    entry(id);
    return keyOf(id);
  }
  std::size_t entryCount() const { return entries_.size(); }

  // The child of `storage` called `name` (compound-file comparison), or nullptr.
  const Entry* child(const Entry& storage, std::u16string_view name) const;
  const Entry* child(const Entry& storage, std::string_view asciiName) const;

  // A stream's contents as a byte source of exactly entry.size bytes. The
  // returned object keeps the compound file alive.
  std::unique_ptr<core::ByteSource> openStream(const Entry& stream) const;
  // A whole stream in memory; raises Error if it is larger than `limit`.
  core::Bytes readStream(const Entry& stream, std::uint64_t limit) const;
  // The same into `out`, replacing its contents and reusing its capacity: for
  // callers that read many streams in turn and keep none of them.
  void readStreamInto(const Entry& stream, std::uint64_t limit, core::Bytes& out) const;

  // Internal to the layer's stream readers. The sectors are the file's own
  // table, or `owned` for a chain built on demand.
  struct Chain {
    Chain() = default;
    Chain(Chain&&) = default;
    Chain& operator=(Chain&&) = default;
    Chain(const Chain&) = delete;  // `sectors` may point into `owned`
    Chain& operator=(const Chain&) = delete;
    std::span<const std::uint32_t> sectors;
    std::uint32_t sectorSize = 0;
    bool mini = false;
    std::vector<std::uint32_t> owned;
  };

 private:
  CompoundFile() = default;
  class Loader;
  friend class Loader;
  friend class StreamReader;

  void readMini(std::uint64_t offset, std::span<std::uint8_t> out) const;
  // Calls piece(fileOffset, n) for the runs of the file that hold bytes
  // [offset, offset + length) of `chain`, in order, each checked against the
  // end of the file (or, for the mini stream, against its size) first.
  template <class What, class Piece>
  void forEachPiece(const Chain& chain, std::uint64_t offset, std::uint64_t length, What&& what,
                    Piece&& piece) const;
  template <class What>
  void readChain(const Chain& chain, std::uint64_t offset, std::span<std::uint8_t> out, What&& what) const;

  std::shared_ptr<const core::ByteSource> source_;
  // The whole file when it is in memory (small files are read whole when
  // opened): sectors and streams are then copied out of it directly.
  core::ByteView whole_;
  std::string name_;
  std::uint16_t majorVersion_ = 3;
  std::uint32_t sectorSize_ = 512;
  std::uint32_t miniSectorSize_ = 64;
  std::uint32_t miniStreamCutoff_ = 4096;
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> miniFat_;
  std::vector<Entry> entries_;
  // What the entries' views point into: for each entry, room for its name
  // (at most 31 units) and then its key, the upper-cased name that child()
  // compares; and the child lists of every storage one after another.
  static constexpr std::size_t kNameSlot = 64;
  std::unique_ptr<char16_t[]> names_;
  std::vector<std::uint32_t> childIds_;
  // The sector chains of every stream reached from the root, built and
  // checked once when the file is opened: chainAt_[id] is where the chain of
  // entry `id` starts in chainSectors_, kNoChain when it was not built.
  static constexpr std::size_t kNoChain = static_cast<std::size_t>(-1);
  std::vector<std::uint32_t> chainSectors_;
  std::vector<std::size_t> chainAt_;
  Chain miniStream_;  // the root entry's chain, holding the mini sectors
  std::uint64_t miniStreamSize_ = 0;
  static constexpr std::uint64_t kMiniCacheLimit = 4 * 1024 * 1024;
  // Files up to this size are read whole when opened (one read instead of one
  // per sector); larger ones are read as their streams are asked for.
  static constexpr std::uint64_t kWholeFileLimit = 256 * 1024;
  // A plain mutex rather than std::call_once: an uncontended lock makes no
  // system call, call_once's completion does (one per file opened).
  mutable std::mutex miniCacheMutex_;
  mutable bool miniCacheTried_ = false;
  mutable std::unique_ptr<std::uint8_t[]> miniCache_;

  // The mini stream's place in the file when it is one run of sectors there,
  // all inside the file.
  bool miniContiguous_ = false;
  std::uint64_t miniStart_ = 0;

  [[noreturn]] void noEntry(std::uint32_t id) const;
  Chain chainFor(const Entry& stream) const;
  std::u16string_view keyOf(std::uint32_t id) const {
    return {names_.get() + kNameSlot * std::size_t{id} + kNameSlot / 2, entries_[id].name.size()};
  }
  template <class Char>
  const Entry* findChild(const Entry& storage, std::basic_string_view<Char> name) const;
};

}  // namespace parvane::cfb
