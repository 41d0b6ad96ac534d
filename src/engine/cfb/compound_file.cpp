#include "engine/cfb/compound_file.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>

#include "engine/cfb/format.h"

namespace parvane::cfb {

namespace {

std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

std::string printable(std::u16string_view name) {
  std::string out;
  for (char16_t c : name) {
    if (c >= 0x20 && c < 0x7F) out.push_back(static_cast<char>(c));
    else out += "\\u" + hex(c).substr(2);
  }
  return out;
}

inline char16_t upper(char16_t c) {
  // Simple upper-casing: ASCII, Latin-1, Greek and Cyrillic, which covers the
  // names storage writers use in practice.
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

}  // namespace

std::u16string nameKey(std::u16string_view name) {
  std::u16string key(name);
  for (auto& c : key) c = upper(c);
  return key;
}

bool keyLess(const std::u16string& a, const std::u16string& b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

int compareNames(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    const char16_t x = upper(a[i]);
    const char16_t y = upper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

bool sameName(std::u16string_view a, std::u16string_view b) { return compareNames(a, b) == 0; }

// Reads a stream (or the mini stream) through its sector list, joining runs
// of consecutive sectors into one read of the underlying source.
class StreamReader final : public core::ByteSource {
 public:
  StreamReader(std::shared_ptr<const CompoundFile> file, CompoundFile::Chain chain, const Entry& entry)
      : file_(std::move(file)), chain_(std::move(chain)), size_(entry.size), entry_(entry.id) {}

  std::uint64_t size() const override { return size_; }

  void readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    const auto what = [&] { return "stream '" + printable(file_->entry(entry_).name) + "'"; };
    if (offset > size_ || out.size() > size_ - offset) core::checkRange(what(), offset, out.size(), size_);
    readChain(*file_, chain_, offset, out, what);
  }

  template <class What>
  static void readChain(const CompoundFile& file, const CompoundFile::Chain& chain, std::uint64_t offset,
                        std::span<std::uint8_t> out, What&& what) {
    const std::uint64_t ss = chain.sectorSize;
    std::size_t done = 0;
    while (done < out.size()) {
      const std::uint64_t pos = offset + done;
      std::size_t index = static_cast<std::size_t>(pos / ss);
      const std::uint64_t within = pos % ss;
      // Extend over sectors that follow one another on disk.
      std::size_t run = 1;
      const std::uint64_t wanted = out.size() - done;
      while (index + run < chain.sectors.size() && chain.sectors[index + run] == chain.sectors[index] + run &&
             run * ss - within < wanted) {
        ++run;
      }
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(run * ss - within, wanted));
      const std::uint64_t at = static_cast<std::uint64_t>(chain.sectors[index]) * ss + within;
      auto piece = out.subspan(done, n);
      if (chain.mini) {
        file.readMini(at, piece);
      } else {
        const std::uint64_t fileOffset = at + ss;  // sector 0 follows the header sector
        if (fileOffset > file.source_->size() || n > file.source_->size() - fileOffset) {
          throw Error(file.name() + ": " + what() + ": sector " + hex(chain.sectors[index]) +
                      " lies past the end of the file (" + std::to_string(file.source_->size()) + " bytes)");
        }
        file.source_->readAt(fileOffset, piece);
      }
      done += n;
    }
  }

 private:
  std::shared_ptr<const CompoundFile> file_;
  CompoundFile::Chain chain_;
  std::uint64_t size_;
  std::uint32_t entry_;
};

class CompoundFile::Loader {
 public:
  Loader(CompoundFile& f) : f_(f) {}

  void load() {
    const std::uint64_t fileSize = f_.source_->size();
    if (fileSize < kHeaderSize) {
      fail("header: file is " + std::to_string(fileSize) + " bytes, a compound file needs at least 512");
    }
    const core::Bytes raw = f_.source_->read(0, kHeaderSize);
    core::ByteReader in(raw, "header");
    const StructuredStorageHeader h = decodeHeader(in);
    if (!std::equal(kSignature.begin(), kSignature.end(), h.abSig)) {
      std::string found;
      for (auto b : h.abSig) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X", b);
        found += buf;
      }
      fail("not a compound file: header signature expected D0CF11E0A1B11AE1, found " + found);
    }
    if (h.uByteOrder != kByteOrderMark) fail("header byte order: expected 0xFFFE, found " + hex(h.uByteOrder));
    if (h.uDllVersion == 3) {
      if (h.uSectorShift != 9) fail("header sector shift: version 3 expects 9, found " + std::to_string(h.uSectorShift));
    } else if (h.uDllVersion == 4) {
      if (h.uSectorShift != 12) fail("header sector shift: version 4 expects 12, found " + std::to_string(h.uSectorShift));
    } else {
      fail("header major version: expected 3 or 4, found " + std::to_string(h.uDllVersion));
    }
    if (h.uMiniSectorShift != 6) fail("header mini sector shift: expected 6, found " + std::to_string(h.uMiniSectorShift));
    if (h.ulMiniSectorCutoff != kMiniStreamCutoff) {
      fail("header mini stream cutoff: expected 4096, found " + std::to_string(h.ulMiniSectorCutoff));
    }
    f_.majorVersion_ = h.uDllVersion;
    f_.sectorSize_ = 1u << h.uSectorShift;
    ss_ = f_.sectorSize_;
    // Sectors that begin inside the file; a partial last sector counts.
    sectorCount_ = fileSize <= ss_ ? 0 : (fileSize - ss_ + ss_ - 1) / ss_;
    if (sectorCount_ > MAXREGSECT) sectorCount_ = MAXREGSECT;

    if (h.csectFat > sectorCount_) {
      fail("header FAT sector count: " + std::to_string(h.csectFat) + " exceeds the file's " +
           std::to_string(sectorCount_) + " sectors");
    }
    if (h.csectDif > sectorCount_) {
      fail("header DIFAT sector count: " + std::to_string(h.csectDif) + " exceeds the file's " +
           std::to_string(sectorCount_) + " sectors");
    }
    readFat(h);
    readDirectory(h);
    readMiniFat(h);
    buildTree();
    checkOwnership(h);
  }

 private:
  [[noreturn]] void fail(const std::string& what) const { throw Error(f_.name_ + ": " + what); }

  // Reads sector `s` into `out`, which is reused from sector to sector.
  void sector(std::uint32_t s, const std::string& what, core::Bytes& out) const {
    if (s >= sectorCount_) {
      fail(what + ": sector " + hex(s) + " lies past the end of the file (" + std::to_string(sectorCount_) +
           " sectors)");
    }
    const std::uint64_t offset = (static_cast<std::uint64_t>(s) + 1) * ss_;
    const auto avail = static_cast<std::size_t>(std::min<std::uint64_t>(ss_, f_.source_->size() - offset));
    out.resize(ss_);
    f_.source_->readAt(offset, std::span<std::uint8_t>(out.data(), avail));
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(avail), out.end(), 0);  // a partial last sector reads as zero-padded
  }

  void readFat(const StructuredStorageHeader& h) {
    std::vector<std::uint32_t> fatSectors;
    fatSectors.reserve(h.csectFat);
    for (std::size_t i = 0; i < kHeaderDifatCount && fatSectors.size() < h.csectFat; ++i) {
      fatSectors.push_back(h.sectFat[i]);
    }
    std::uint32_t dif = h.sectDifStart;
    std::vector<bool> seen;
    core::Bytes raw;
    for (std::uint32_t n = 0; fatSectors.size() < h.csectFat; ++n) {
      if (dif == ENDOFCHAIN || dif == FREESECT || n >= h.csectDif) {
        fail("DIFAT: lists " + std::to_string(fatSectors.size()) + " FAT sectors, header declares " +
             std::to_string(h.csectFat));
      }
      if (dif < sectorCount_) {
        if (seen.empty()) seen.assign(static_cast<std::size_t>(sectorCount_), false);
        if (seen[dif]) fail("DIFAT: sector chain loops back to sector " + hex(dif));
        seen[dif] = true;
      }
      sector(dif, "DIFAT", raw);
      const std::size_t per = ss_ / 4 - 1;
      for (std::size_t i = 0; i < per && fatSectors.size() < h.csectFat; ++i) {
        fatSectors.push_back(core::loadU32(raw.data() + 4 * i));
      }
      dif = core::loadU32(raw.data() + 4 * per);
    }
    f_.fat_.reserve(fatSectors.size() * (ss_ / 4));
    for (std::size_t i = 0; i < fatSectors.size(); ++i) {
      sector(fatSectors[i], "FAT sector " + std::to_string(i), raw);
      for (std::size_t k = 0; k < ss_ / 4; ++k) f_.fat_.push_back(core::loadU32(raw.data() + 4 * k));
    }
  }

  // Follows a FAT chain of unknown length (directory, mini FAT) to its end.
  std::vector<std::uint32_t> followChain(std::uint32_t start, const std::string& what) const {
    std::vector<std::uint32_t> out;
    std::vector<bool> seen(static_cast<std::size_t>(sectorCount_), false);
    for (std::uint32_t s = start; s != ENDOFCHAIN;) {
      if (s >= sectorCount_ || s >= f_.fat_.size()) {
        fail(what + ": chain reaches sector " + hex(s) + ", past the file's " + std::to_string(sectorCount_) +
             " sectors");
      }
      if (seen[s]) fail(what + ": sector chain loops back to sector " + hex(s));
      seen[s] = true;
      out.push_back(s);
      s = f_.fat_[s];
    }
    return out;
  }

  void readDirectory(const StructuredStorageHeader& h) {
    const auto chain = followChain(h.sectDirStart, "directory");
    if (chain.empty()) fail("directory: header's first directory sector is ENDOFCHAIN, no root entry");
    const std::size_t count = chain.size() * (ss_ / kDirEntrySize);
    f_.entries_.reserve(count);
    rawTypes_.reserve(count);
    nameLengths_.reserve(count);
    links_.reserve(count);
    core::Bytes raw;
    for (auto s : chain) {
      sector(s, "directory", raw);
      core::ByteReader in(raw, "directory sector");
      for (std::size_t k = 0; k < ss_ / kDirEntrySize; ++k) {
        const auto d = decodeDirEntry(in);
        Entry e;
        e.id = static_cast<std::uint32_t>(f_.entries_.size());
        // Entries outside the tree are never looked at, so a bad type or name
        // there is no error; buildTree() checks the entries it reaches.
        const bool known = d.mse == 1 || d.mse == 2 || d.mse == 5;
        e.type = known ? static_cast<EntryType>(d.mse) : EntryType::Unused;
        rawTypes_.push_back(d.mse);
        nameLengths_.push_back(d.cb);
        if (known && d.cb <= 64 && d.cb % 2 == 0) {
          const std::size_t len = d.cb == 0 ? 0 : d.cb / 2u - 1;
          e.name.assign(d.ab, d.ab + len);
        }
        std::copy(std::begin(d.clsid), std::end(d.clsid), e.clsid.begin());
        e.stateBits = d.dwUserFlags;
        e.creationTime = d.time[0] | (static_cast<std::uint64_t>(d.time[1]) << 32);
        e.modifiedTime = d.time[2] | (static_cast<std::uint64_t>(d.time[3]) << 32);
        e.startSector = d.sectStart;
        // Version 3 files may carry garbage in the high half of the size.
        e.size = f_.majorVersion_ == 3 ? d.ulSizeLow : (d.ulSizeLow | (static_cast<std::uint64_t>(d.ulSizeHigh) << 32));
        links_.push_back({d.sidLeftSib, d.sidRightSib, d.sidChild});
        f_.entries_.push_back(std::move(e));
      }
    }
    Entry& root = f_.entries_[0];
    if (root.type != EntryType::Root) {
      fail("directory entry 0 object type: expected 5 (root storage), found " + std::to_string(rawTypes_[0]));
    }
  }

  void readMiniFat(const StructuredStorageHeader& h) {
    const Entry& root = f_.entries_[0];
    f_.miniStreamSize_ = root.size;
    if (root.size > 0) {
      CompoundFile::Chain c;
      c.sectorSize = ss_;
      c.sectors = fatChain(root.startSector, root.size, "mini stream");
      f_.miniStream_ = std::move(c);
    }
    if (h.sectMiniFatStart == ENDOFCHAIN || h.csectMiniFat == 0) return;
    core::Bytes raw;
    for (auto s : followChain(h.sectMiniFatStart, "mini FAT")) {
      sector(s, "mini FAT", raw);
      for (std::size_t k = 0; k < ss_ / 4; ++k) f_.miniFat_.push_back(core::loadU32(raw.data() + 4 * k));
    }
  }

 public:
  // The sectors of a FAT chain holding `size` bytes; checks length and loops.
  // `what` names the chain in errors; it is only called when there is one.
  template <class What>
  static std::vector<std::uint32_t> chainOf(const CompoundFile& f, const std::vector<std::uint32_t>& table,
                                            std::uint64_t limit, std::uint32_t start, std::uint64_t size,
                                            std::uint32_t unit, What&& what) {
    const std::uint64_t needed = (size + unit - 1) / unit;
    if (needed > limit) {
      throw Error(f.name_ + ": " + what() + ": size " + std::to_string(size) + " needs " + std::to_string(needed) +
                  " sectors, the file has " + std::to_string(limit));
    }
    std::vector<std::uint32_t> out;
    out.reserve(static_cast<std::size_t>(needed));
    std::uint32_t s = start;
    for (std::uint64_t i = 0; i < needed; ++i) {
      if (s == ENDOFCHAIN) {
        throw Error(f.name_ + ": " + what() + ": sector chain ends after " + std::to_string(i) + " sectors, size " +
                    std::to_string(size) + " needs " + std::to_string(needed));
      }
      if (s >= limit || s >= table.size()) {
        throw Error(f.name_ + ": " + what() + ": sector chain reaches sector " + hex(s) + ", past the last sector " +
                    std::to_string(limit == 0 ? 0 : limit - 1));
      }
      out.push_back(s);
      s = table[s];
    }
    if (out.size() > 1) {
      auto sorted = out;
      std::sort(sorted.begin(), sorted.end());
      auto dup = std::adjacent_find(sorted.begin(), sorted.end());
      if (dup != sorted.end()) {
        throw Error(f.name_ + ": " + what() + ": sector chain loops back to sector " + hex(*dup));
      }
    }
    return out;
  }

 private:
  std::vector<std::uint32_t> fatChain(std::uint32_t start, std::uint64_t size, const std::string& what) const {
    return chainOf(f_, f_.fat_, sectorCount_, start, size, ss_, [&] { return what; });
  }

  void checkLink(std::uint32_t from, std::uint32_t to, const char* field) const {
    if (to != NOSTREAM && to >= f_.entries_.size()) {
      fail("directory entry " + std::to_string(from) + " " + field + ": id " + std::to_string(to) +
           " is past the directory's " + std::to_string(f_.entries_.size()) + " entries");
    }
  }

  // Walks the red-black trees of every storage from the root, collecting each
  // storage's children. Every entry may be reached once only: a second visit
  // means a cycle or a shared subtree, and the file is rejected.
  void buildTree() {
    std::vector<bool> seen(f_.entries_.size(), false);
    seen[0] = true;
    std::vector<std::uint32_t> storages{0};
    const std::uint64_t fileSize = f_.source_->size();
    while (!storages.empty()) {
      const std::uint32_t parent = storages.back();
      storages.pop_back();
      checkLink(parent, links_[parent].child, "child");
      // In-order walk of the sibling tree below `parent`.
      std::vector<std::uint32_t> stack;
      std::uint32_t node = links_[parent].child;
      std::vector<std::uint32_t> children;
      while (node != NOSTREAM || !stack.empty()) {
        while (node != NOSTREAM) {
          if (seen[node]) {
            fail("directory entry " + std::to_string(node) +
                 " is reached twice in the directory tree (a cycle or a shared entry)");
          }
          seen[node] = true;
          checkLink(node, links_[node].left, "left sibling");
          checkLink(node, links_[node].right, "right sibling");
          stack.push_back(node);
          node = links_[node].left;
        }
        node = stack.back();
        stack.pop_back();
        Entry& e = f_.entries_[node];
        if (e.type == EntryType::Unused || e.type == EntryType::Root) {
          fail("directory entry " + std::to_string(node) + " object type: a storage's child must be 1 (storage) or "
               "2 (stream), found " + std::to_string(rawTypes_[node]));
        }
        if (nameLengths_[node] > 64 || nameLengths_[node] % 2 != 0) {
          fail("directory entry " + std::to_string(node) + " name length: expected an even count up to 64, found " +
               std::to_string(nameLengths_[node]));
        }
        e.parent = parent;
        children.push_back(node);
        if (e.isStorage()) {
          storages.push_back(node);
        } else if (e.size > fileSize) {
          fail("stream '" + printable(e.name) + "' size: " + std::to_string(e.size) + " bytes is larger than the file (" +
               std::to_string(fileSize) + " bytes)");
        }
        node = links_[node].right;
      }
      // Sorted by the comparison rule so that child() can search; a sound
      // tree is in this order already.
      const auto& entries = f_.entries_;
      const auto before = [&](std::uint32_t a, std::uint32_t b) {
        return compareNames(entries[a].name, entries[b].name) < 0;
      };
      if (!std::is_sorted(children.begin(), children.end(), before))
        std::stable_sort(children.begin(), children.end(), before);
      for (std::size_t i = 1; i < children.size(); ++i) {
        if (compareNames(entries[children[i - 1]].name, entries[children[i]].name) == 0) {
          fail("directory entries " + std::to_string(children[i - 1]) + " and " + std::to_string(children[i]) +
               ": storage '" + printable(f_.entries_[parent].name) + "' holds two entries named '" +
               printable(f_.entries_[children[i]].name) + "'");
        }
      }
      f_.entries_[parent].children = std::move(children);
    }
  }

  // Every sector may belong to one structure only. Checking this once, up
  // front, also checks every stream's chain, so later reads cannot meet a bad
  // chain, and no two streams can make the reader hold the same bytes twice.
  void checkOwnership(const StructuredStorageHeader& h) {
    std::vector<std::uint8_t> owner(static_cast<std::size_t>(sectorCount_), 0);
    std::vector<std::uint8_t> miniOwner(static_cast<std::size_t>(f_.miniStreamSize_ / f_.miniSectorSize_ + 1), 0);
    // `what` names the claimant; it is only called for the error message.
    auto claim = [&](std::vector<std::uint8_t>& map, std::uint32_t s, auto&& what, const char* unit) {
      if (s >= map.size()) return;  // chains are range-checked where they are built
      if (map[s]) fail(what() + ": " + unit + " " + hex(s) + " is also used by another stream or structure");
      map[s] = 1;
    };
    auto named = [](const char* n) { return [n] { return std::string(n); }; };
    for (std::uint32_t s = 0; s < f_.fat_.size() && s < sectorCount_; ++s) {
      if (f_.fat_[s] == FATSECT || f_.fat_[s] == DIFSECT) owner[s] = 1;
    }
    for (auto s : followChain(h.sectDirStart, "directory")) claim(owner, s, named("directory"), "sector");
    if (h.sectMiniFatStart != ENDOFCHAIN && h.csectMiniFat != 0) {
      for (auto s : followChain(h.sectMiniFatStart, "mini FAT")) claim(owner, s, named("mini FAT"), "sector");
    }
    for (auto s : f_.miniStream_.sectors) claim(owner, s, named("mini stream"), "sector");
    for (const Entry& e : f_.entries_) {
      if (!e.isStream() || e.parent == NOSTREAM || e.size == 0) continue;
      const auto chain = f_.chainFor(e);
      const auto what = [&] { return "stream '" + printable(e.name) + "'"; };
      for (auto s : chain.sectors) claim(chain.mini ? miniOwner : owner, s, what, chain.mini ? "mini sector" : "sector");
    }
  }

  struct Links {
    std::uint32_t left, right, child;
  };
  CompoundFile& f_;
  std::uint32_t ss_ = 512;
  std::uint64_t sectorCount_ = 0;
  std::vector<Links> links_;
  std::vector<std::uint8_t> rawTypes_;
  std::vector<std::uint16_t> nameLengths_;
};

std::shared_ptr<const CompoundFile> CompoundFile::open(std::shared_ptr<const core::ByteSource> source,
                                                       std::string name) {
  std::shared_ptr<CompoundFile> f(new CompoundFile());
  f->name_ = std::move(name);
  try {
    // A small file is read whole, in one read, rather than sector by sector.
    const bool inMemory = dynamic_cast<const core::MemorySource*>(source.get()) != nullptr ||
                          dynamic_cast<const core::ViewSource*>(source.get()) != nullptr;
    if (!inMemory && source->size() <= kWholeFileLimit)
      source = std::make_shared<core::MemorySource>(source->read(0, static_cast<std::size_t>(source->size())));
    f->source_ = std::move(source);
    Loader(*f).load();
  } catch (const core::TruncatedError& e) {
    throw Error(f->name_ + ": truncated: " + e.what());
  }
  return f;
}

const Entry& CompoundFile::entry(std::uint32_t id) const {
  if (id >= entries_.size()) {
    throw Error(name_ + ": directory entry " + std::to_string(id) + " asked for, the directory has " +
                std::to_string(entries_.size()));
  }
  return entries_[id];
}

namespace {

// compareNames() for a name given in ASCII or UTF-16, without copying it.
template <class Char>
int compareWith(std::u16string_view a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto c = static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(b[i]));
    if (a[i] == c) continue;
    const char16_t x = upper(a[i]);
    const char16_t y = upper(c);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

template <class Char>
const Entry* findChild(const std::vector<Entry>& entries, const Entry& storage, std::basic_string_view<Char> name) {
  auto it = std::lower_bound(storage.children.begin(), storage.children.end(), name,
                             [&](std::uint32_t id, std::basic_string_view<Char> n) {
                               return compareWith(entries[id].name, n) < 0;
                             });
  if (it != storage.children.end() && compareWith(entries[*it].name, name) == 0) return &entries[*it];
  return nullptr;
}

}  // namespace

const Entry* CompoundFile::child(const Entry& storage, std::u16string_view name) const {
  return findChild(entries_, storage, name);
}

const Entry* CompoundFile::child(const Entry& storage, std::string_view asciiName) const {
  return findChild(entries_, storage, asciiName);
}

CompoundFile::Chain CompoundFile::chainFor(const Entry& stream) const {
  Chain c;
  auto what = [&] { return "stream '" + printable(stream.name) + "'"; };
  if (stream.size == 0) {
    c.sectorSize = sectorSize_;
    return c;
  }
  if (stream.size < miniStreamCutoff_) {
    c.mini = true;
    c.sectorSize = miniSectorSize_;
    const std::uint64_t miniSectors = (miniStreamSize_ + miniSectorSize_ - 1) / miniSectorSize_;
    c.sectors = Loader::chainOf(*this, miniFat_, miniSectors, stream.startSector, stream.size, miniSectorSize_,
                                [&] { return what() + " (mini stream)"; });
  } else {
    const std::uint64_t sectors = source_->size() <= sectorSize_ ? 0 : (source_->size() - 1) / sectorSize_;
    c.sectorSize = sectorSize_;
    c.sectors = Loader::chainOf(*this, fat_, sectors, stream.startSector, stream.size, sectorSize_, what);
  }
  return c;
}

void CompoundFile::readMini(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset > miniStreamSize_ || out.size() > miniStreamSize_ - offset) {
    throw Error(name_ + ": mini stream: " + std::to_string(out.size()) + " bytes at offset " + std::to_string(offset) +
                " pass its size " + std::to_string(miniStreamSize_));
  }
  // A small mini stream is read once and kept: its values are read with the
  // message anyway, and this saves one source read per small value.
  {
    std::lock_guard<std::mutex> lock(miniCacheMutex_);
    if (!miniCacheTried_) {
      miniCacheTried_ = true;
      if (miniStreamSize_ != 0 && miniStreamSize_ <= kMiniCacheLimit) {
        core::Bytes all(static_cast<std::size_t>(miniStreamSize_));
        try {
          StreamReader::readChain(*this, miniStream_, 0, all, [] { return std::string("mini stream"); });
          miniCache_ = std::move(all);
        } catch (const std::exception&) {
          // Unreadable somewhere: keep reading piece by piece, where the error
          // will surface only for the values that touch the bad part.
        }
      }
    }
  }  // set once, under the lock; only read from here on
  if (!miniCache_.empty()) {
    std::copy_n(miniCache_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return;
  }
  StreamReader::readChain(*this, miniStream_, offset, out, [] { return std::string("mini stream"); });
}

std::unique_ptr<core::ByteSource> CompoundFile::openStream(const Entry& stream) const {
  if (!stream.isStream()) throw Error(name_ + ": '" + printable(stream.name) + "' is not a stream");
  try {
    return std::make_unique<StreamReader>(shared_from_this(), chainFor(stream), stream);
  } catch (const core::TruncatedError& e) {
    throw Error(name_ + ": truncated: " + e.what());
  }
}

core::Bytes CompoundFile::readStream(const Entry& stream, std::uint64_t limit) const {
  if (stream.size > limit) {
    throw Error(name_ + ": stream '" + printable(stream.name) + "' size: " + std::to_string(stream.size) +
                " bytes exceeds the limit of " + std::to_string(limit));
  }
  if (!stream.isStream()) throw Error(name_ + ": '" + printable(stream.name) + "' is not a stream");
  // Read straight through the chain: a whole-stream read needs no reader object.
  try {
    const Chain chain = chainFor(stream);
    core::Bytes out(static_cast<std::size_t>(stream.size));
    StreamReader::readChain(*this, chain, 0, out, [&] { return "stream '" + printable(stream.name) + "'"; });
    return out;
  } catch (const core::TruncatedError& e) {
    throw Error(name_ + ": truncated: " + e.what());
  }
}

}  // namespace parvane::cfb
