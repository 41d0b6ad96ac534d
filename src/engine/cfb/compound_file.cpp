#include "engine/cfb/compound_file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <type_traits>

#include "engine/cfb/format.h"
#include "engine/core/text.h"

namespace parvane::cfb {

namespace {

using core::hex;

std::string printable(std::u16string_view name) {
  std::string out;
  for (char16_t c : name) {
    if (c >= 0x20 && c < 0x7F) out.push_back(static_cast<char>(c));
    else out += "\\u" + hex(c).substr(2);
  }
  return out;
}

// Orders keys (upper-cased names) as compareNames() orders their names:
// shorter first, then unit by unit. Equal stretches are skipped four units at
// a time, as names of one storage often share a long prefix.
int compareKeys(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  std::size_t i = 0;
  for (; i + 4 <= a.size(); i += 4) {
    std::uint64_t x, y;
    std::memcpy(&x, a.data() + i, sizeof x);
    std::memcpy(&y, b.data() + i, sizeof y);
    if (x != y) break;
  }
  for (; i < a.size(); ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

}  // namespace

std::u16string nameKey(std::u16string_view name) {
  std::u16string key(name);
  for (auto& c : key) c = core::upperCaseCompoundFileName(c);
  return key;
}

bool keyLess(const std::u16string& a, const std::u16string& b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

int compareNames(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    const char16_t x = core::upperCaseCompoundFileName(a[i]);
    const char16_t y = core::upperCaseCompoundFileName(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

bool sameName(std::u16string_view a, std::u16string_view b) { return compareNames(a, b) == 0; }

// The whole of a small file, read once into storage that is not zeroed first
// (every byte of it is overwritten by the read).
class BufferSource final : public core::ByteSource {
 public:
  explicit BufferSource(const core::ByteSource& from)
      : size_(static_cast<std::size_t>(from.size())), data_(new std::uint8_t[size_]) {
    from.readAt(0, std::span<std::uint8_t>(data_.get(), size_));
  }
  std::uint64_t size() const override { return size_; }
  void readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    core::checkRange("memory source", offset, out.size(), size_);
    if (!out.empty()) std::memcpy(out.data(), data_.get() + offset, out.size());
  }
  core::ByteView bytes() const { return {data_.get(), size_}; }

 private:
  std::size_t size_;
  std::unique_ptr<std::uint8_t[]> data_;
};

// Reads of nearby ranges of a source gathered into one read of the stretch
// that covers them: a stream whose sectors lie a few apart (streams written
// side by side in small pieces interleave) is then read with a few reads, not
// one per sector. Large ranges are read at once, straight into their place.
// Every range must lie inside the source; so then does the stretch.
class GatheredReads {
 public:
  explicit GatheredReads(const core::ByteSource& source) : source_(source) {}

  void add(std::uint64_t at, std::span<std::uint8_t> to) {
    if (to.size() >= kDirect) {
      flush();
      source_.readAt(at, to);
      return;
    }
    const std::uint64_t end = at + to.size();
    if (!pieces_.empty()) {
      const bool near = end + kGap >= low_ && at <= high_ + kGap;
      if (!near || std::max(high_, end) - std::min(low_, at) > kStretch) flush();
    }
    low_ = pieces_.empty() ? at : std::min(low_, at);
    high_ = pieces_.empty() ? end : std::max(high_, end);
    pieces_.push_back({at, to});
  }

  void flush() {
    if (pieces_.size() == 1) {
      source_.readAt(pieces_[0].at, pieces_[0].to);
    } else if (!pieces_.empty()) {
      buffer_.resize(static_cast<std::size_t>(high_ - low_));
      source_.readAt(low_, buffer_);
      for (const auto& p : pieces_) std::memcpy(p.to.data(), buffer_.data() + (p.at - low_), p.to.size());
    }
    pieces_.clear();
  }

 private:
  static constexpr std::size_t kDirect = 64 * 1024;
  static constexpr std::uint64_t kStretch = 128 * 1024;
  static constexpr std::uint64_t kGap = 4096;  // bytes read and not used, at most, between two ranges
  struct Piece {
    std::uint64_t at;
    std::span<std::uint8_t> to;
  };
  const core::ByteSource& source_;
  std::vector<Piece> pieces_;
  core::Bytes buffer_;
  std::uint64_t low_ = 0, high_ = 0;
};

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

  // Calls piece(at, n) for the runs of consecutive sectors that hold bytes
  // [offset, offset + length) of `chain`, in order. `at` is an offset in the
  // mini stream for a mini chain, in the file otherwise; either is checked
  // against the end of what it points into before piece() sees it.
  template <class What, class Piece>
  static void forEachRun(const CompoundFile& file, const CompoundFile::Chain& chain, std::uint64_t offset,
                         std::uint64_t length, What&& what, Piece&& piece) {
    const std::uint64_t ss = chain.sectorSize;
    const auto& sectors = chain.sectors;
    std::uint64_t done = 0;
    while (done < length) {
      const std::uint64_t pos = offset + done;
      const std::uint64_t index = pos / ss;
      const std::uint64_t within = pos % ss;
      if (index >= sectors.size()) {
        throw Error(file.name() + ": " + what() + ": offset " + std::to_string(pos) + " passes its " +
                    std::to_string(sectors.size()) + " sectors");
      }
      const auto i = static_cast<std::size_t>(index);
      // Extend over sectors that follow one another on disk.
      std::size_t run = 1;
      const std::uint64_t wanted = length - done;
      while (i + run < sectors.size() && sectors[i + run] == sectors[i] + run && run * ss - within < wanted) ++run;
      const std::uint64_t n = std::min<std::uint64_t>(run * ss - within, wanted);
      const std::uint64_t at = static_cast<std::uint64_t>(sectors[i]) * ss + within;
      if (chain.mini) {
        if (at > file.miniStreamSize_ || n > file.miniStreamSize_ - at) {
          throw Error(file.name_ + ": mini stream: " + std::to_string(n) + " bytes at offset " + std::to_string(at) +
                      " pass its size " + std::to_string(file.miniStreamSize_));
        }
        piece(at, static_cast<std::size_t>(n));
      } else {
        const std::uint64_t fileOffset = at + ss;  // sector 0 follows the header sector
        if (fileOffset > file.source_->size() || n > file.source_->size() - fileOffset) {
          throw Error(file.name() + ": " + what() + ": sector " + hex(sectors[i]) +
                      " lies past the end of the file (" + std::to_string(file.source_->size()) + " bytes)");
        }
        piece(fileOffset, static_cast<std::size_t>(n));
      }
      done += n;
    }
  }

  // forEachRun() down to the file: a mini chain's runs are followed through
  // the mini stream's own chain.
  template <class What, class Piece>
  static void forEachFileRun(const CompoundFile& file, const CompoundFile::Chain& chain, std::uint64_t offset,
                             std::uint64_t length, What&& what, Piece&& piece) {
    if (!chain.mini) return forEachRun(file, chain, offset, length, what, piece);
    if (file.miniContiguous_) {
      // Checked when the file was opened: every offset in the mini stream
      // lies inside the file at this distance from it.
      return forEachRun(file, chain, offset, length, what,
                        [&](std::uint64_t at, std::size_t n) { piece(file.miniStart_ + at, n); });
    }
    forEachRun(file, chain, offset, length, what, [&](std::uint64_t at, std::size_t n) {
      forEachRun(file, file.miniStream_, at, n, [] { return std::string("mini stream"); }, piece);
    });
  }

  template <class What>
  static void readChain(const CompoundFile& file, const CompoundFile::Chain& chain, std::uint64_t offset,
                        std::span<std::uint8_t> out, What&& what) {
    std::size_t done = 0;
    if (!file.whole_.empty()) {
      forEachFileRun(file, chain, offset, out.size(), what, [&](std::uint64_t at, std::size_t n) {
        std::memcpy(out.data() + done, file.whole_.data() + at, n);
        done += n;
      });
      return;
    }
    if (chain.mini) {
      forEachRun(file, chain, offset, out.size(), what, [&](std::uint64_t at, std::size_t n) {
        file.readMini(at, out.subspan(done, n));
        done += n;
      });
      return;
    }
    GatheredReads reads(*file.source_);
    forEachRun(file, chain, offset, out.size(), what, [&](std::uint64_t at, std::size_t n) {
      reads.add(at, out.subspan(done, n));
      done += n;
    });
    reads.flush();
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
    std::array<std::uint8_t, kHeaderSize> raw;
    f_.source_->readAt(0, raw);
    core::ByteReader in(raw, "header");
    const StructuredStorageHeader h = decodeHeader(in);
    if (!std::equal(kSignature.begin(), kSignature.end(), h.abSig)) {
      fail("not a compound file: header signature expected D0CF11E0A1B11AE1, found " + core::hexBytes(h.abSig));
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

  // Sector `s`: a view of the file when it is in memory, else read into
  // `scratch`, which is reused from sector to sector. `what` names the
  // structure; it is only called for an error.
  template <class What>
  core::ByteView sector(std::uint32_t s, What&& what, core::Bytes& scratch) const {
    if (s >= sectorCount_) {
      fail(what() + ": sector " + hex(s) + " lies past the end of the file (" + std::to_string(sectorCount_) +
           " sectors)");
    }
    const std::uint64_t offset = (static_cast<std::uint64_t>(s) + 1) * ss_;
    const auto avail = static_cast<std::size_t>(std::min<std::uint64_t>(ss_, f_.source_->size() - offset));
    if (avail == ss_ && !f_.whole_.empty()) return f_.whole_.subspan(static_cast<std::size_t>(offset), ss_);
    scratch.resize(ss_);
    f_.source_->readAt(offset, std::span<std::uint8_t>(scratch.data(), avail));
    std::fill(scratch.begin() + static_cast<std::ptrdiff_t>(avail), scratch.end(), 0);  // a partial last sector reads as zero-padded
    return scratch;
  }

  // Calls use(i, view) for each sector list[i] in turn, the view as sector()
  // gives it, but reads a stretch of the file holding several of them with
  // one read: sectors near one another (a directory written entry by entry is
  // often interleaved with the streams written between, not always forwards),
  // up to kStretchBytes at a time. A directory or table of
  // many sectors then costs a few reads instead of one per sector. `what(i)`
  // names the structure for sector i; it is only called for an error, which
  // comes when the walk reaches the bad sector, as it would sector by sector.
  template <class What, class Use>
  void eachSector(std::span<const std::uint32_t> list, What&& what, Use&& use) const {
    static constexpr std::size_t kStretchBytes = 128 * 1024;
    static constexpr std::uint32_t kLargestGap = 8;  // sectors read past and not used, at most, between two used
    const std::uint64_t span = std::max<std::size_t>(1, kStretchBytes / ss_);
    core::Bytes buffer;
    for (std::size_t i = 0; i < list.size();) {
      const std::uint32_t s = list[i];
      std::size_t n = 1;
      std::uint32_t low = s, high = s;  // the stretch: sectors low to high
      if (f_.whole_.empty() && s < sectorCount_) {
        while (i + n < list.size()) {
          const std::uint32_t next = list[i + n], before = list[i + n - 1];
          const std::uint32_t step = next > before ? next - before : before - next;
          if (step > kLargestGap + 1 || next >= sectorCount_) break;
          if (std::max(high, next) - std::min(low, next) >= span) break;
          low = std::min(low, next);
          high = std::max(high, next);
          ++n;
        }
      }
      if (n == 1) {
        use(i, sector(s, [&] { return what(i); }, buffer));
        ++i;
        continue;
      }
      // Every sector of the stretch begins inside the file; only the last may end past it.
      const std::uint64_t offset = (static_cast<std::uint64_t>(low) + 1) * ss_;
      const std::size_t bytes = (static_cast<std::size_t>(high - low) + 1) * ss_;
      const auto avail = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, f_.source_->size() - offset));
      buffer.resize(bytes);
      f_.source_->readAt(offset, std::span<std::uint8_t>(buffer.data(), avail));
      std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(avail), buffer.end(), 0);
      for (std::size_t k = 0; k < n; ++k) {
        use(i + k, core::ByteView(buffer.data() + static_cast<std::size_t>(list[i + k] - low) * ss_, ss_));
      }
      i += n;
    }
  }

  // The sectors of a FAT chain already checked by checkChain(), in order.
  std::vector<std::uint32_t> checkedChain(std::uint32_t start, std::size_t length) const {
    std::vector<std::uint32_t> list;
    list.reserve(length);
    for (std::uint32_t s = start; s != ENDOFCHAIN; s = f_.fat_[s]) list.push_back(s);
    return list;
  }

  // Appends the entries of one FAT or mini FAT sector to `table`, whole.
  static void appendTable(std::vector<std::uint32_t>& table, core::ByteView from) {
    const std::size_t at = table.size();
    const std::size_t count = from.size() / 4;
    table.resize(at + count);
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(table.data() + at, from.data(), count * 4);
    } else {
      for (std::size_t k = 0; k < count; ++k) table[at + k] = core::loadU32(from.data() + 4 * k);
    }
  }

  void readFat(const StructuredStorageHeader& h) {
    core::Bytes raw;
    const std::size_t perSector = ss_ / 4;
    f_.fat_.reserve(static_cast<std::size_t>(h.csectFat) * perSector);
    const auto readFatSectors = [&](std::span<const std::uint32_t> list) {
      eachSector(list, [](std::size_t i) { return "FAT sector " + std::to_string(i); },
                 [&](std::size_t, core::ByteView v) { appendTable(f_.fat_, v); });
    };
    if (h.csectFat <= kHeaderDifatCount) {
      readFatSectors(std::span<const std::uint32_t>(h.sectFat, h.csectFat));
      return;
    }
    // The FAT's sectors are all listed, header then DIFAT, before any is read.
    std::vector<std::uint32_t> fatSectors;
    fatSectors.reserve(h.csectFat);
    for (std::size_t i = 0; i < kHeaderDifatCount && fatSectors.size() < h.csectFat; ++i) {
      fatSectors.push_back(h.sectFat[i]);
    }
    std::uint32_t dif = h.sectDifStart;
    const std::uint32_t chain = nextStamp(sectorCount_);
    for (std::uint32_t n = 0; fatSectors.size() < h.csectFat; ++n) {
      if (dif == ENDOFCHAIN || dif == FREESECT || n >= h.csectDif) {
        fail("DIFAT: lists " + std::to_string(fatSectors.size()) + " FAT sectors, header declares " +
             std::to_string(h.csectFat));
      }
      if (dif < sectorCount_) {
        if (stamp_[dif] == chain) fail("DIFAT: sector chain loops back to sector " + hex(dif));
        stamp_[dif] = chain;
      }
      const auto v = sector(dif, [] { return std::string("DIFAT"); }, raw);
      const std::size_t per = perSector - 1;
      for (std::size_t i = 0; i < per && fatSectors.size() < h.csectFat; ++i) {
        fatSectors.push_back(core::loadU32(v.data() + 4 * i));
      }
      dif = core::loadU32(v.data() + 4 * per);
    }
    readFatSectors(fatSectors);
  }

  // Loop detection without a set per chain: every walk takes a new stamp, and
  // a sector that already carries it has been met before in the same walk.
  std::uint32_t nextStamp(std::uint64_t limit) {
    if (stamp_.size() < limit) stamp_.resize(static_cast<std::size_t>(limit), 0);
    return ++stampNow_;
  }

  // A loop test for chainOf() over the shared stamps.
  struct StampSeen {
    std::vector<std::uint32_t>& stamp;
    std::uint32_t chain;
    bool operator()(std::uint32_t s) const {
      if (stamp[s] == chain) return true;
      stamp[s] = chain;
      return false;
    }
  };
  StampSeen stampSeen(std::uint64_t limit) {
    const std::uint32_t chain = nextStamp(limit);
    return {stamp_, chain};
  }

  // Checks a FAT chain of unknown length (directory, mini FAT) from `start` to
  // its end, for range and loops, and returns its length; callers then walk
  // the FAT from `start` knowing it is sound.
  std::size_t checkChain(std::uint32_t start, const char* what) {
    const std::uint32_t chain = nextStamp(sectorCount_);
    std::size_t length = 0;
    for (std::uint32_t s = start; s != ENDOFCHAIN;) {
      if (s >= sectorCount_ || s >= f_.fat_.size()) {
        fail(std::string(what) + ": chain reaches sector " + hex(s) + ", past the file's " +
             std::to_string(sectorCount_) + " sectors");
      }
      if (stamp_[s] == chain) fail(std::string(what) + ": sector chain loops back to sector " + hex(s));
      stamp_[s] = chain;
      ++length;
      s = f_.fat_[s];
    }
    return length;
  }

  // The key of an ASCII name (nearly every name) into `key`, four units at a
  // time; false, with `key` to be rewritten, when a unit is not ASCII. `raw`
  // is the name field of a directory entry: 64 bytes, of which len units are
  // the name. Loads may take units past the name, never past the field; the
  // lanes they land in only carry into higher lanes and are never stored.
  static bool asciiKey(const std::uint8_t* raw, std::size_t len, char16_t* key) {
    constexpr std::uint64_t kHigh = 0x8000800080008000;
    for (std::size_t i = 0; i < len; i += 4) {
      const std::uint64_t x = core::loadU64(raw + 2 * i);
      const std::size_t lanes = len - i;
      const std::uint64_t used = lanes >= 4 ? ~std::uint64_t{0} : (std::uint64_t{1} << (16 * lanes)) - 1;
      if (x & used & 0xFF80FF80FF80FF80) return false;
      // Below 0x80 a lane cannot carry: its top bit after adding 0x8000 - 'a'
      // says "at least 'a'", after adding 0x8000 - '{' "past 'z'".
      const std::uint64_t lower = (x + 0x7F9F7F9F7F9F7F9F) & ~(x + 0x7F857F857F857F85) & kHigh;
      const std::uint64_t up = x - (lower >> 10);  // 0x20 off each lower-case letter
      // All four lanes are stored: the key's room holds 32 units, and what
      // lies past the name in it is never read.
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(key + i, &up, sizeof up);
      } else {
        for (std::size_t j = 0; j < 4; ++j) key[i + j] = static_cast<char16_t>(up >> (16 * j));
      }
    }
    return true;
  }

  void readDirectory(const StructuredStorageHeader& h) {
    const std::size_t sectors = checkChain(h.sectDirStart, "directory");
    if (sectors == 0) fail("directory: header's first directory sector is ENDOFCHAIN, no root entry");
    const std::size_t perSector = ss_ / kDirEntrySize;
    const std::size_t count = sectors * perSector;
    f_.entries_.reserve(count);
    dir_.reserve(count);
    // Room for the longest name each entry may hold and its key; only what is
    // used is written.
    f_.names_.reset(new char16_t[count * kNameSlot]);
    const auto list = checkedChain(h.sectDirStart, sectors);
    eachSector(list, [](std::size_t) { return std::string("directory"); }, [&](std::size_t, core::ByteView v) {
      core::ByteReader in(v, "directory sector");
      for (std::size_t k = 0; k < perSector; ++k) {
        // The fields at their offsets in the entry (see
        // StructuredStorageDirectoryEntry), loaded straight from the sector:
        // the name is copied once, into its slot.
        const std::uint8_t* d = in.view(kDirEntrySize).data();
        const std::uint16_t cb = core::loadU16(d + 64);
        const std::uint8_t mse = d[66];
        Entry& e = f_.entries_.emplace_back();
        e.id = static_cast<std::uint32_t>(f_.entries_.size() - 1);
        // Entries outside the tree are never looked at, so a bad type or name
        // there is no error; buildTree() checks the entries it reaches.
        const bool known = mse == 1 || mse == 2 || mse == 5;
        e.type = known ? static_cast<EntryType>(mse) : EntryType::Unused;
        if (known && cb <= 64 && cb % 2 == 0) {
          const std::size_t len = cb == 0 ? 0 : cb / 2u - 1;
          char16_t* name = f_.names_.get() + kNameSlot * std::size_t{e.id};
          char16_t* key = name + kNameSlot / 2;
          if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(name, d, 2 * len);
          } else {
            for (std::size_t i = 0; i < len; ++i) name[i] = core::loadU16(d + 2 * i);
          }
          if (!asciiKey(d, len, key)) {
            for (std::size_t i = 0; i < len; ++i) key[i] = core::upperCaseCompoundFileName(name[i]);
          }
          e.name = std::u16string_view(name, len);
        }
        std::copy_n(d + 80, e.clsid.size(), e.clsid.begin());
        e.stateBits = core::loadU32(d + 96);
        e.creationTime = core::loadU64(d + 100);
        e.modifiedTime = core::loadU64(d + 108);
        e.startSector = core::loadU32(d + 116);
        // Version 3 files may carry garbage in the high half of the size.
        e.size = f_.majorVersion_ == 3 ? core::loadU32(d + 120) : core::loadU64(d + 120);
        dir_.push_back({core::loadU32(d + 68), core::loadU32(d + 72), core::loadU32(d + 76), cb, mse, false});
      }
    });
    Entry& root = f_.entries_[0];
    if (root.type != EntryType::Root) {
      fail("directory entry 0 object type: expected 5 (root storage), found " + std::to_string(dir_[0].type));
    }
  }

  void readMiniFat(const StructuredStorageHeader& h) {
    const Entry& root = f_.entries_[0];
    f_.miniStreamSize_ = root.size;
    if (root.size > 0) {
      chainOf(f_, f_.fat_, sectorCount_, root.startSector, root.size, ss_, f_.chainSectors_, stampSeen(sectorCount_),
              [] { return std::string("mini stream"); });
      miniStreamSectors_ = f_.chainSectors_.size();
    }
    if (h.sectMiniFatStart == ENDOFCHAIN || h.csectMiniFat == 0) return;
    const std::size_t length = checkChain(h.sectMiniFatStart, "mini FAT");
    f_.miniFat_.reserve(length * (ss_ / 4));
    eachSector(checkedChain(h.sectMiniFatStart, length), [](std::size_t) { return std::string("mini FAT"); },
               [&](std::size_t, core::ByteView v) { appendTable(f_.miniFat_, v); });
  }

 public:
  // Appends to `out` the sectors of a FAT chain holding `size` bytes; checks
  // its length, its range and, through seen(s) (true for a sector met before
  // in this chain; s is below `limit`), loops. `what` names the chain in
  // errors; it is only called when there is one.
  template <class Seen, class What>
  static void chainOf(const CompoundFile& f, const std::vector<std::uint32_t>& table, std::uint64_t limit,
                      std::uint32_t start, std::uint64_t size, std::uint32_t unit, std::vector<std::uint32_t>& out,
                      Seen&& seen, What&& what) {
    const std::uint64_t needed = (size + unit - 1) / unit;
    if (needed > limit) {
      throw Error(f.name_ + ": " + what() + ": size " + std::to_string(size) + " needs " + std::to_string(needed) +
                  " sectors, the file has " + std::to_string(limit));
    }
    // A chain of its own is sized once; chains appended to the file's table
    // rely on the room made for all of them.
    if (out.empty()) out.reserve(static_cast<std::size_t>(needed));
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
      if (seen(s)) throw Error(f.name_ + ": " + what() + ": sector chain loops back to sector " + hex(s));
      out.push_back(s);
      s = table[s];
    }
  }

 private:
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
    auto& entries = f_.entries_;
    // Each entry is the child of one storage at most and the root of none, so
    // the lists never outgrow this and the spans into them stay valid.
    f_.childIds_.reserve(entries.size());
    dir_[0].seen = true;
    // Every entry is pushed on either at most once.
    std::vector<std::uint32_t> storages, stack;
    storages.reserve(entries.size());
    stack.reserve(entries.size());
    storages.push_back(0);
    const std::uint64_t fileSize = f_.source_->size();
    while (!storages.empty()) {
      const std::uint32_t parent = storages.back();
      storages.pop_back();
      checkLink(parent, dir_[parent].child, "child");
      // In-order walk of the sibling tree below `parent`.
      const std::size_t first = f_.childIds_.size();
      std::uint32_t node = dir_[parent].child;
      while (node != NOSTREAM || !stack.empty()) {
        while (node != NOSTREAM) {
          if (dir_[node].seen) {
            fail("directory entry " + std::to_string(node) +
                 " is reached twice in the directory tree (a cycle or a shared entry)");
          }
          dir_[node].seen = true;
          checkLink(node, dir_[node].left, "left sibling");
          checkLink(node, dir_[node].right, "right sibling");
          stack.push_back(node);
          node = dir_[node].left;
        }
        node = stack.back();
        stack.pop_back();
        Entry& e = entries[node];
        if (e.type == EntryType::Unused || e.type == EntryType::Root) {
          fail("directory entry " + std::to_string(node) + " object type: a storage's child must be 1 (storage) or "
               "2 (stream), found " + std::to_string(dir_[node].type));
        }
        if (dir_[node].nameLength > 64 || dir_[node].nameLength % 2 != 0) {
          fail("directory entry " + std::to_string(node) + " name length: expected an even count up to 64, found " +
               std::to_string(dir_[node].nameLength));
        }
        e.parent = parent;
        f_.childIds_.push_back(node);
        if (e.isStorage()) {
          storages.push_back(node);
        } else if (e.size > fileSize) {
          fail("stream '" + printable(e.name) + "' size: " + std::to_string(e.size) + " bytes is larger than the file (" +
               std::to_string(fileSize) + " bytes)");
        }
        node = dir_[node].right;
      }
      // Sorted by the comparison rule so that child() can search; a sound
      // tree is in this order already.
      const std::span<std::uint32_t> children(f_.childIds_.data() + first, f_.childIds_.size() - first);
      // Strictly ascending (the usual case) also means no two share a name,
      // so one pass settles both.
      std::size_t i = 1;
      while (i < children.size() && compareKeys(f_.keyOf(children[i - 1]), f_.keyOf(children[i])) < 0) ++i;
      if (i == children.size()) {
        entries[parent].children = children;
        continue;
      }
      const auto before = [&](std::uint32_t a, std::uint32_t b) { return compareKeys(f_.keyOf(a), f_.keyOf(b)) < 0; };
      std::stable_sort(children.begin(), children.end(), before);
      for (i = 1; i < children.size(); ++i) {
        if (compareKeys(f_.keyOf(children[i - 1]), f_.keyOf(children[i])) == 0) {
          fail("directory entries " + std::to_string(children[i - 1]) + " and " + std::to_string(children[i]) +
               ": storage '" + printable(entries[parent].name) + "' holds two entries named '" +
               printable(entries[children[i]].name) + "'");
        }
      }
      entries[parent].children = children;
    }
  }

  // Every sector may belong to one structure only. Checking this once, up
  // front, also builds and checks every stream's chain, so later reads cannot
  // meet a bad chain, and no two streams can make the reader hold the same
  // bytes twice.
  void checkOwnership(const StructuredStorageHeader& h) {
    const auto sectors = static_cast<std::size_t>(sectorCount_);
    const std::uint64_t miniSectors = (f_.miniStreamSize_ + f_.miniSectorSize_ - 1) / f_.miniSectorSize_;
    // Who holds each sector: 0 nobody, 1 a structure, else the mark of the
    // stream chain that holds it.
    std::vector<std::uint32_t> owners(sectors + static_cast<std::size_t>(f_.miniStreamSize_ / f_.miniSectorSize_ + 1), 0);
    const std::span<std::uint32_t> owner(owners.data(), sectors);
    const std::span<std::uint32_t> miniOwner(owners.data() + sectors, owners.size() - sectors);
    // `what` names the claimant; it is only called for the error message.
    auto claim = [&](std::span<std::uint32_t> map, std::uint32_t s, auto&& what, const char* unit) {
      if (s >= map.size()) return;  // chains are range-checked where they are built
      if (map[s]) fail(what() + ": " + unit + " " + hex(s) + " is also used by another stream or structure");
      map[s] = 1;
    };
    auto named = [](const char* n) { return [n] { return std::string(n); }; };
    for (std::uint32_t s = 0; s < f_.fat_.size() && s < sectorCount_; ++s) {
      if (f_.fat_[s] == FATSECT || f_.fat_[s] == DIFSECT) owner[s] = 1;
    }
    // Both chains were checked when they were read.
    for (std::uint32_t s = h.sectDirStart; s != ENDOFCHAIN; s = f_.fat_[s]) claim(owner, s, named("directory"), "sector");
    if (h.sectMiniFatStart != ENDOFCHAIN && h.csectMiniFat != 0) {
      for (std::uint32_t s = h.sectMiniFatStart; s != ENDOFCHAIN; s = f_.fat_[s]) {
        claim(owner, s, named("mini FAT"), "sector");
      }
    }
    for (std::size_t i = 0; i < miniStreamSectors_; ++i) claim(owner, f_.chainSectors_[i], named("mini stream"), "sector");

    // A sound file holds each sector in one chain at most, which bounds the
    // room the chains take whatever sizes the entries claim.
    const std::uint64_t regular = f_.source_->size() <= ss_ ? 0 : (f_.source_->size() - 1) / ss_;
    std::uint64_t total = 0;
    for (const Entry& e : f_.entries_) {
      if (!e.isStream() || e.parent == NOSTREAM || e.size == 0) continue;
      const std::uint32_t unit = e.size < f_.miniStreamCutoff_ ? f_.miniSectorSize_ : ss_;
      total += (e.size + unit - 1) / unit;
    }
    f_.chainSectors_.reserve(miniStreamSectors_ +
                             static_cast<std::size_t>(std::min(total, regular + miniSectors)));
    f_.chainAt_.assign(f_.entries_.size(), kNoChain);
    // Each chain marks the sectors it holds as it is walked: a sector already
    // carrying its mark is a loop; one held before it is a clash, reported
    // once the chain has walked without fault (its own faults come first).
    // There are fewer chains than directory entries, so marks never wrap.
    std::uint32_t mark = 1;
    for (const Entry& e : f_.entries_) {
      if (!e.isStream() || e.parent == NOSTREAM || e.size == 0) continue;
      const auto what = [&] { return "stream '" + printable(e.name) + "'"; };
      const std::size_t at = f_.chainSectors_.size();
      const bool mini = e.size < f_.miniStreamCutoff_;
      const std::span<std::uint32_t> map = mini ? miniOwner : owner;
      ++mark;
      bool clash = false;
      std::uint32_t clashAt = 0;
      // The map covers every sector below chainOf()'s limit but in a file too
      // large to number all its sectors; past it, loops are found by stamps
      // and clashes not looked for.
      std::optional<StampSeen> far;
      const auto seen = [&](std::uint32_t s) {
        if (s >= map.size()) {
          if (!far) far.emplace(stampSeen(mini ? miniSectors : regular));
          return (*far)(s);
        }
        if (map[s] == mark) return true;
        if (map[s] != 0 && !clash) {
          clash = true;
          clashAt = s;
        }
        map[s] = mark;
        return false;
      };
      if (mini) {
        chainOf(f_, f_.miniFat_, miniSectors, e.startSector, e.size, f_.miniSectorSize_, f_.chainSectors_, seen,
                [&] { return what() + " (mini stream)"; });
      } else {
        chainOf(f_, f_.fat_, regular, e.startSector, e.size, ss_, f_.chainSectors_, seen, what);
      }
      if (clash) {
        fail(what() + ": " + (mini ? "mini sector" : "sector") + " " + hex(clashAt) +
             " is also used by another stream or structure");
      }
      f_.chainAt_[e.id] = at;
    }
    f_.miniStream_.sectorSize = ss_;
    f_.miniStream_.sectors = std::span<const std::uint32_t>(f_.chainSectors_.data(), miniStreamSectors_);
    // A mini stream in consecutive sectors wholly inside the file (the usual
    // case) is one stretch of it: mini offsets then map to file offsets by
    // one addition, with nothing left to check per read.
    const auto mini = f_.miniStream_.sectors;
    bool consecutive = !mini.empty();
    for (std::size_t i = 1; consecutive && i < mini.size(); ++i) consecutive = mini[i] == mini[0] + i;
    if (consecutive) {
      const std::uint64_t start = (static_cast<std::uint64_t>(mini[0]) + 1) * ss_;
      const std::uint64_t size = f_.source_->size();
      if (start <= size && f_.miniStreamSize_ <= size - start) {
        f_.miniContiguous_ = true;
        f_.miniStart_ = start;
      }
    }
  }

  struct DirInfo {
    std::uint32_t left, right, child;
    std::uint16_t nameLength;
    std::uint8_t type;  // as found, for errors
    bool seen;          // reached in the tree
  };
  CompoundFile& f_;
  std::uint32_t ss_ = 512;
  std::uint64_t sectorCount_ = 0;
  std::vector<DirInfo> dir_;
  std::vector<std::uint32_t> stamp_;
  std::uint32_t stampNow_ = 0;
  std::size_t miniStreamSectors_ = 0;  // the mini stream's chain, first in chainSectors_
};

std::shared_ptr<const CompoundFile> CompoundFile::open(std::shared_ptr<const core::ByteSource> source,
                                                       std::string name) {
  std::shared_ptr<CompoundFile> f(new CompoundFile());
  f->name_ = std::move(name);
  try {
    // A small file is read whole, in one read, rather than sector by sector.
    if (const auto* memory = dynamic_cast<const core::MemorySource*>(source.get())) {
      f->whole_ = memory->data();
    } else if (const auto* view = dynamic_cast<const core::ViewSource*>(source.get())) {
      f->whole_ = view->data();
    } else if (source->size() <= kWholeFileLimit) {
      auto buffer = std::make_shared<BufferSource>(*source);
      f->whole_ = buffer->bytes();
      source = std::move(buffer);
    }
    f->source_ = std::move(source);
    Loader(*f).load();
  } catch (const core::TruncatedError& e) {
    throw Error(f->name_ + ": truncated: " + e.what());
  }
  return f;
}

void CompoundFile::noEntry(std::uint32_t id) const {
  throw Error(name_ + ": directory entry " + std::to_string(id) + " asked for, the directory has " +
              std::to_string(entries_.size()));
}

template <class Char>
const Entry* CompoundFile::findChild(const Entry& storage, std::basic_string_view<Char> name) const {
  // No entry's name is longer than this; a longer one is found nowhere.
  if (name.size() >= kNameSlot / 2) return nullptr;
  char16_t buffer[kNameSlot / 2];
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(name[i]));
    buffer[i] = core::upperCaseCompoundFileName(c);
  }
  const std::u16string_view key(buffer, name.size());
  auto it = std::lower_bound(storage.children.begin(), storage.children.end(), key,
                             [&](std::uint32_t id, std::u16string_view k) { return compareKeys(keyOf(id), k) < 0; });
  if (it != storage.children.end() && compareKeys(keyOf(*it), key) == 0) return &entries_[*it];
  return nullptr;
}

const Entry* CompoundFile::child(const Entry& storage, std::u16string_view name) const {
  return findChild(storage, name);
}

const Entry* CompoundFile::child(const Entry& storage, std::string_view asciiName) const {
  return findChild(storage, asciiName);
}

CompoundFile::Chain CompoundFile::chainFor(const Entry& stream) const {
  Chain c;
  c.sectorSize = sectorSize_;
  if (stream.size == 0) return c;
  if (stream.size < miniStreamCutoff_) {
    c.mini = true;
    c.sectorSize = miniSectorSize_;
  }
  const bool ours = stream.id < entries_.size() && &entries_[stream.id] == &stream;
  if (ours && chainAt_[stream.id] != kNoChain) {
    const std::size_t count = static_cast<std::size_t>((stream.size + c.sectorSize - 1) / c.sectorSize);
    c.sectors = std::span<const std::uint32_t>(chainSectors_).subspan(chainAt_[stream.id], count);
    return c;
  }
  // An entry outside the tree (or not of this file): its chain was not built
  // when the file was opened, so it is built and checked now.
  auto what = [&] { return "stream '" + printable(stream.name) + "'"; };
  const auto build = [&](const std::vector<std::uint32_t>& table, std::uint64_t limit, auto&& name) {
    std::vector<bool> seen;
    const auto once = [&](std::uint32_t s) {
      if (seen.empty()) seen.resize(static_cast<std::size_t>(limit), false);
      if (seen[s]) return true;
      seen[s] = true;
      return false;
    };
    Loader::chainOf(*this, table, limit, stream.startSector, stream.size, c.sectorSize, c.owned, once, name);
  };
  if (c.mini) {
    const std::uint64_t miniSectors = (miniStreamSize_ + miniSectorSize_ - 1) / miniSectorSize_;
    build(miniFat_, miniSectors, [&] { return what() + " (mini stream)"; });
  } else {
    const std::uint64_t sectors = source_->size() <= sectorSize_ ? 0 : (source_->size() - 1) / sectorSize_;
    build(fat_, sectors, what);
  }
  c.sectors = c.owned;
  return c;
}

void CompoundFile::readMini(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset > miniStreamSize_ || out.size() > miniStreamSize_ - offset) {
    throw Error(name_ + ": mini stream: " + std::to_string(out.size()) + " bytes at offset " + std::to_string(offset) +
                " pass its size " + std::to_string(miniStreamSize_));
  }
  const auto what = [] { return std::string("mini stream"); };
  // A file in memory is read straight from it. Otherwise a small mini stream
  // is read once and kept: its values are read with the message anyway, and
  // this saves one source read per small value.
  if (whole_.empty()) {
    {
      std::lock_guard<std::mutex> lock(miniCacheMutex_);
      if (!miniCacheTried_) {
        miniCacheTried_ = true;
        if (miniStreamSize_ != 0 && miniStreamSize_ <= kMiniCacheLimit) {
          const auto size = static_cast<std::size_t>(miniStreamSize_);
          std::unique_ptr<std::uint8_t[]> all(new std::uint8_t[size]);  // every byte is read into
          try {
            StreamReader::readChain(*this, miniStream_, 0, std::span<std::uint8_t>(all.get(), size), what);
            miniCache_ = std::move(all);
          } catch (const std::exception&) {
            // Unreadable somewhere: keep reading piece by piece, where the error
            // will surface only for the values that touch the bad part.
          }
        }
      }
    }  // set once, under the lock; only read from here on
    if (miniCache_) {
      std::copy_n(miniCache_.get() + offset, out.size(), out.begin());
      return;
    }
  }
  StreamReader::readChain(*this, miniStream_, offset, out, what);
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
  core::Bytes out;
  readStreamInto(stream, limit, out);
  return out;
}

void CompoundFile::readStreamInto(const Entry& stream, std::uint64_t limit, core::Bytes& out) const {
  if (stream.size > limit) {
    throw Error(name_ + ": stream '" + printable(stream.name) + "' size: " + std::to_string(stream.size) +
                " bytes exceeds the limit of " + std::to_string(limit));
  }
  if (!stream.isStream()) throw Error(name_ + ": '" + printable(stream.name) + "' is not a stream");
  // Read straight through the chain: a whole-stream read needs no reader object.
  const auto what = [&] { return "stream '" + printable(stream.name) + "'"; };
  try {
    const Chain chain = chainFor(stream);
    out.clear();
    const auto size = static_cast<std::size_t>(stream.size);
    if (!whole_.empty()) {
      // Appended run by run from the file in memory: no zero-fill first.
      out.reserve(size);
      StreamReader::forEachFileRun(*this, chain, 0, size, what, [&](std::uint64_t at, std::size_t n) {
        const auto* from = whole_.data() + at;
        out.insert(out.end(), from, from + n);
      });
    } else {
      out.resize(size);
      StreamReader::readChain(*this, chain, 0, out, what);
    }
  } catch (const core::TruncatedError& e) {
    throw Error(name_ + ": truncated: " + e.what());
  }
}

}  // namespace parvane::cfb
