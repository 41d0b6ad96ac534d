#include "engine/ndb/node_store.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "engine/ndb/store_impl.h"

namespace parvane::ndb {

namespace {

// Outlook's counters in a new store: the last index used per NID type.
std::array<std::uint32_t, 32> initialNidCounters() {
  std::array<std::uint32_t, 32> r{};
  r.fill(0x400);
  r[static_cast<std::size_t>(NidType::SearchFolder)] = 0x4000;
  r[static_cast<std::size_t>(NidType::NormalMessage)] = 0x10000;
  r[static_cast<std::size_t>(NidType::AssocMessage)] = 0x8000;
  return r;
}

// The name a store has until its first commit is on disk: beside its own name
// (one folder, so the rename that publishes it is atomic), hidden where a
// leading dot hides, and telling whose it is. A long name is cut short (at a
// character boundary) so that the temporary name still fits.
std::string temporaryPathFor(const std::string& path, unsigned attempt) {
  const auto slash = path.find_last_of("/\\");
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  std::size_t end = std::min(path.size(), start + 160);
  while (end > start && end < path.size() && (static_cast<unsigned char>(path[end]) & 0xC0) == 0x80) --end;
  std::string temporary = path.substr(0, start) + "." + path.substr(start, end - start) + "." +
                          std::to_string(core::currentProcessId());
  if (attempt > 0) temporary += "-" + std::to_string(attempt);
  return temporary + ".partial";
}

// The process id in a temporary name made by temporaryPathFor() (".NAME.PID.partial",
// ".NAME.PID-N.partial"), or 0 for any other name.
std::uint64_t temporaryOwner(const std::string& name) {
  constexpr std::string_view kEnd = ".partial";
  if (name.size() < 2 + kEnd.size() || name[0] != '.' || name.compare(name.size() - kEnd.size(), kEnd.size(), kEnd) != 0)
    return 0;
  const std::string stem = name.substr(0, name.size() - kEnd.size());
  const auto dot = stem.find_last_of('.');
  if (dot == 0 || dot == std::string::npos) return 0;
  std::string id = stem.substr(dot + 1);
  if (const auto dash = id.find('-'); dash != std::string::npos) {
    if (dash + 1 == id.size() || id.find_first_not_of("0123456789", dash + 1) != std::string::npos) return 0;
    id.resize(dash);
  }
  if (id.empty() || id.size() > 10 || id.find_first_not_of("0123456789") != std::string::npos) return 0;
  return std::stoull(id);
}

// The temporary files that killed processes left in the folder of `path`
// (a kill leaves one before the first commit is published): removed, each
// only when its process is gone and no process holds its lock. Advice only:
// a folder that cannot be read is left as it is.
void removeAbandoned(core::FileSystem& fs, const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  const std::string prefix = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  core::FolderListing listing;
  try {
    listing = fs.listFolder(prefix.empty() ? "." : prefix);
  } catch (const core::IoError&) {
    return;
  }
  for (const std::string& name : listing.files)
    if (const std::uint64_t owner = temporaryOwner(name)) fs.removeAbandoned(prefix + name, owner);
}

}  // namespace

NodeStore::Impl::Impl(std::string p, std::unique_ptr<core::File> f, const CreateOptions& o)
    : path(std::move(p)), file(std::move(f)), opts(o), writer(std::make_unique<WriteBehind>(*file, o.crypt)) {
  header.bCryptMethod = o.crypt;
  header.rgnid = initialNidCounters();
  header.bidNextB = kFirstBlockBid;
  header.bidNextP = kFirstPageBid;
  lastCommit = std::chrono::steady_clock::now();
  nbt.setLoader([this](const BREF& page, std::vector<NodeRec>& out) { readLeaf(PageType::NBT, page, out); });
  bbt.setLoader([this](const BREF& page, std::vector<BlockRec>& out) { readLeaf(PageType::BBT, page, out); });
  space.setLoader([this](std::size_t k, SpaceMap::Bits& out) { readMapBits(k, out); });
}

NodeStore::Impl::~Impl() {
  if (published || temporaryPath.empty()) return;
  // closed first: Windows removes no open file
  writer.reset();
  file.reset();
  fileSystem->removeFile(temporaryPath);
}

void NodeStore::Impl::publish() {
  if (published) return;
  fileSystem->renameNoReplace(temporaryPath, path);
  published = true;
}

// ---- NodeStore ----------------------------------------------------------------------------

NodeStore::NodeStore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NodeStore::~NodeStore() = default;

std::unique_ptr<NodeStore> NodeStore::create(const std::string& path, const CreateOptions& options) {
  core::FileSystem& fs = options.fileSystem ? *options.fileSystem : core::FileSystem::native();
  // refused at once; publish() would refuse it too, but only after the work
  if (fs.exists(path)) throw core::IoError::fromErrno("create file", path, EEXIST);
  removeAbandoned(fs, path);
  std::string temporary;
  std::unique_ptr<core::File> file;
  for (unsigned attempt = 0; !file; ++attempt) {
    temporary = temporaryPathFor(path, attempt);
    try {
      file = fs.createExclusive(temporary);
    } catch (const core::IoError& e) {
      // a name left by an earlier process of the same id: another one
      if (e.cause() != core::IoError::Cause::AlreadyExists || attempt == 20) throw e.about(path);
    }
  }
  auto impl = std::make_unique<Impl>(path, std::move(file), options);
  impl->fileSystem = &fs;
  impl->temporaryPath = temporary;
  try {
    impl->create();
  } catch (const core::IoError& e) {
    throw e.about(path);  // and the file goes with `impl`
  }
  return std::unique_ptr<NodeStore>(new NodeStore(std::move(impl)));
}

Nid NodeStore::allocateNid(NidType type) {
  impl_->usable();
  auto& c = impl_->header.rgnid[static_cast<std::size_t>(type)];
  if (c >= (1u << 27) - 1) throw NdbError::field("HEADER.rgnid", std::to_string(static_cast<int>(type)), "an index below 2^27", hex(c));
  impl_->changed = true;
  return makeNid(type, ++c);
}

std::uint32_t NodeStore::nidCounter(NidType type) const {
  return impl_->header.rgnid[static_cast<std::size_t>(type)];
}

void NodeStore::setNidCounter(NidType type, std::uint32_t lastIndex) {
  impl_->usable();
  impl_->header.rgnid[static_cast<std::size_t>(type)] = lastIndex;
  impl_->changed = true;
}

std::uint32_t NodeStore::nextUnique() {
  impl_->usable();
  impl_->changed = true;
  return ++impl_->header.dwUnique;
}

DataWriter NodeStore::newData() {
  impl_->usable();
  return DataWriter(*this);
}

NodeData NodeStore::writeData(ByteView bytes) {
  // the blocks append() would cut, written from the caller's bytes
  DataWriter w = newData();
  if (bytes.size() > 0xFFFFFFFFull) w.append(bytes);  // refused there
  for (std::size_t at = 0; at < bytes.size(); at += kMaxBlockData)
    w.appendBlock(bytes.subspan(at, std::min(kMaxBlockData, bytes.size() - at)));
  return w.finish();
}

Bid NodeStore::writeDataBlock(ByteView bytes) {
  return impl_->guarded([&] { return impl_->writeBlock(bytes, false); });
}

Bid NodeStore::writeInternalBlock(ByteView bytes) {
  return impl_->guarded([&] { return impl_->writeBlock(bytes, true); });
}

void NodeStore::retain(Bid bid) { impl_->guarded([&] { impl_->retain(bid); }); }
void NodeStore::release(Bid bid) { impl_->guarded([&] { impl_->release(bid); }); }
void NodeStore::retain(const NodeData& d) {
  retain(d.bidData);
  retain(d.bidSub);
}
void NodeStore::release(const NodeData& d) {
  release(d.bidData);
  release(d.bidSub);
}

void NodeStore::putNode(Nid nid, Nid parent, NodeData content) {
  if ((nid & 0x1F) == 0) throw NdbError::field("NBTENTRY", "nid", "a NID with a node type", hex(nid));
  impl_->guarded([&] {
    NodeRec old;
    bool had = false;
    if (const NodeRec* r = impl_->nbt.find(nid)) {
      old = *r;
      had = true;
    }
    impl_->nbt.put(NodeRec{nid, parent, content.bidData, content.bidSub});
    impl_->bumpCounter(nid);
    impl_->changed = true;
    if (had) {
      impl_->release(old.bidData);
      impl_->release(old.bidSub);
    }
  });
}

bool NodeStore::deleteNode(Nid nid) {
  return impl_->guarded([&] {
    const NodeRec* r = impl_->nbt.find(nid);
    if (!r) return false;
    NodeRec old = *r;
    impl_->nbt.erase(nid);
    impl_->changed = true;
    impl_->release(old.bidData);
    impl_->release(old.bidSub);
    return true;
  });
}

std::optional<NodeInfo> NodeStore::findNode(Nid nid) const {
  const NodeRec* r = impl_->nbt.find(nid);
  if (!r) return std::nullopt;
  return NodeInfo{r->nid, r->parent, r->bidData, r->bidSub};
}

void NodeStore::forEachNode(const std::function<void(const NodeInfo&)>& fn) const {
  impl_->nbt.forEach([&](const NodeRec& r) { fn(NodeInfo{r.nid, r.parent, r.bidData, r.bidSub}); });
}

void NodeStore::commit() {
  impl_->guarded([&] {
    impl_->commit();
    impl_->publish();
  });
}

bool NodeStore::checkpoint() {
  return impl_->guarded([&] {
    auto age = std::chrono::steady_clock::now() - impl_->lastCommit;
    if (impl_->bytesSinceCommit < impl_->opts.commitEveryBytes && age < impl_->opts.commitEvery) return false;
    impl_->commit();
    impl_->publish();
    return true;
  });
}

void NodeStore::close() {
  impl_->guarded([&] {
    impl_->commit();
    impl_->publish();
    impl_->io();
    impl_->closed = true;
    impl_->writer.reset();
    impl_->file.reset();
  });
}

StoreStats NodeStore::stats() const {
  StoreStats s;
  s.nodes = impl_->nbt.size();
  s.blocks = impl_->bbt.size();
  s.fileSize = impl_->fileEof();
  s.freeBytes = impl_->space.freeBytes();
  s.commits = impl_->commits;
  s.bytesSinceCommit = impl_->bytesSinceCommit;
  s.leavesInMemory = impl_->nbt.loadedCount() + impl_->bbt.loadedCount();
  s.mapSpansInMemory = impl_->space.loadedCount();
  return s;
}

void NodeStore::setGrowthLimit(std::uint64_t bytes) { impl_->opts.growthLimit = bytes; }
std::uint64_t NodeStore::roomWithin(std::uint64_t limit) {
  return impl_->guarded([&] { return impl_->roomWithin(limit); });
}

CryptMethod NodeStore::cryptMethod() const { return impl_->header.bCryptMethod; }
const std::string& NodeStore::path() const { return impl_->path; }

Bytes NodeStore::readBlock(Bid bid) const {
  impl_->usable();
  try {
    return impl_->readBlock(bid);
  } catch (const core::IoError& e) {
    throw e.about(impl_->path);
  }
}

}  // namespace parvane::ndb
