#include "engine/messaging/store.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <algorithm>
#include <set>

#include <gtest/gtest.h>

#include "engine/core/text.h"
#include "engine/ltp/table_context.h"
#include "engine/messaging/errors.h"
#include "engine/messaging/message_writer.h"
#include "engine/messaging/node_values.h"
#include "engine/messaging/stored_size.h"
#include "engine/messaging/message_content.h"
#include "import/message_translation.h"
#include "engine/msg/message.h"
#include "support/faulty_file_system.h"
#include "support/msg_writer.h"

namespace parvane::messaging {
namespace {

namespace fs = std::filesystem;

struct CommandResult {
  int status = -1;
  std::string output;
};

CommandResult run(const std::string& command) {
  CommandResult r;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.output.append(buf, n);
  int st = ::pclose(pipe);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("store-test-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir_);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // pstcheck's verdict: the output, with the exit status 0 only for no errors.
  static CommandResult pstcheck(const std::string& file) {
    return run(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck " + file);
  }

  fs::path dir_;
};

TEST_F(StoreTest, ANewStorePassesTheChecker) {
  auto file = path("new.pst");
  {
    auto store = Store::create(file, u"Ostrel Software : Created - 6.12.26 9.5.07");
    store->close();
  }
  auto check = pstcheck(file);
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_NE(check.output.find(" 0 errors"), std::string::npos) << check.output;
}

TEST_F(StoreTest, AnExistingPathIsRefused) {
  auto file = path("exists.pst");
  std::ofstream(file) << "x";
  try {
    Store::create(file, u"X");
    ADD_FAILURE() << "created over an existing file";
  } catch (const StoreError& e) {
    EXPECT_EQ(e.kind(), StoreError::Kind::FileExists) << e.what();
  }
  std::ifstream in(file);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "x");
}

// Node by node, a new store holds what Outlook's own new store holds, under the same parents.
TEST_F(StoreTest, ANewStoreHasOutlooksNodes) {
  auto file = path("nodes.pst");
  Store::create(file, u"Nodes")->close();
  std::string dissect = "/usr/bin/python3 " + std::string(PARVANE_SOURCE_DIR) +
                        "/tests/engine/messaging/tools/dissect_pst.py ";
  auto nodes = [&](const std::string& pst) {
    return run(dissect + pst + " | grep '^NBT' | sed 's/bidData=[^ ]* bidSub=[^ ]* //' | sort").output;
  };
  auto ours = nodes(file);
  auto outlook = nodes(std::string(PARVANE_SHARED_DIR) + "/corpus/pst/outlook-empty.pst");
  EXPECT_EQ(std::count(ours.begin(), ours.end(), '\n'), 47);
  EXPECT_EQ(ours, outlook);
  // empty tables with the same columns share their blocks, so the block count is Outlook's too
  auto blocks = [&](const std::string& pst) { return run(dissect + pst + " | grep -c '^BBT'").output; };
  EXPECT_EQ(blocks(file), blocks(std::string(PARVANE_SHARED_DIR) + "/corpus/pst/outlook-empty.pst"));
}

// PidTagMessageSize is the bytes a message takes in the file, node and
// subnodes, for plain, attached and embedded messages alike.
TEST_F(StoreTest, MessageSizeIsTheSizeOnDisk) {
  auto file = path("sizes.pst");
  auto store = Store::create(file, u"Sizes");
  auto folder = store->createFolder(store->ipmSubtree(), u"In");
  auto inner = std::make_shared<testsupport::MsgMessage>(
      testsupport::simpleMessage("Inner", "inner", {"i@example.com"}, {{"i.bin", core::Bytes(5000, 1)}}));
  auto outer = testsupport::simpleMessage("Outer", std::string(9000, 'b'), {"o@example.com"},
                                          {{"o.bin", core::Bytes(100000, 2)}});
  testsupport::MsgAttachment e;
  e.properties.push_back(testsupport::MsgProperty::i32(0x3705, 5));
  e.embedded = inner;
  outer.attachments.push_back(e);
  for (const auto& m : {testsupport::simpleMessage("Plain", "plain"), outer}) {
    auto file1 = msg::MessageFile::read(std::make_shared<core::MemorySource>(testsupport::writeMsg(m)), "s.msg");
    store->addMessage(folder, importer::TranslateMessage(file1.message(), store->namedProperties()), 17);
  }
  store->close();
  auto sizes = run("/usr/bin/python3 " + std::string(PARVANE_SOURCE_DIR) +
                   "/tests/engine/messaging/tools/message_sizes.py " + file);
  std::istringstream lines(sizes.output);
  std::string nid, size, total, sum;
  int messages = 0;
  while (lines >> nid >> size >> total >> sum) {
    ++messages;
    EXPECT_EQ(size, total) << nid << " in\n" << sizes.output;
  }
  EXPECT_EQ(messages, 3) << sizes.output;
  auto check = pstcheck(file);
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(check.output.find("PidTagMessageSize"), std::string::npos) << check.output;
}

// A source whose reads fail once `failAt` bytes have been read, as a message
// file that turns out to be cut short in the middle of an attachment does.
class FailingSource final : public core::ByteSource {
 public:
  FailingSource(std::uint64_t size, std::uint64_t failAt) : size_(size), failAt_(failAt) {}
  std::uint64_t size() const override { return size_; }
  void readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    if (offset + out.size() > failAt_) throw core::IoError::shrank("message.msg", failAt_);
    std::fill(out.begin(), out.end(), static_cast<std::uint8_t>(offset >> 20));
  }

 private:
  std::uint64_t size_, failAt_;
};

// Three large values each: a body and an attachment of several chunks, and
// an embedded message with one more, so that a message given up half-way has
// parts at two depths written already.
StoreMessage MessageWithLargeParts(std::shared_ptr<const core::ByteSource> lastPart) {
  StoreMessage m;
  m.properties.set(PropertyValue::unicode(0x0037, u"Large"));
  PropertyValue body = PropertyValue::binary(0x1009, {});
  body.source = std::make_shared<FailingSource>(3u << 20, ~0ull);
  m.properties.set(body);
  StoreAttachment data;
  PropertyValue bytes = PropertyValue::binary(0x3701, {});
  bytes.source = std::make_shared<FailingSource>(3u << 20, ~0ull);
  data.properties.set(bytes);
  data.properties.set(PropertyValue::int32(0x3705, 1));
  m.attachments.push_back(std::move(data));
  StoreAttachment embedded;
  embedded.properties.set(PropertyValue::int32(0x3705, 5));
  embedded.embedded = std::make_unique<StoreMessage>();
  embedded.embedded->properties.set(PropertyValue::unicode(0x0037, u"Inner"));
  PropertyValue inner = PropertyValue::binary(0x3701, {});
  StoreAttachment innerData;
  inner.source = std::move(lastPart);
  innerData.properties.set(inner);
  innerData.properties.set(PropertyValue::int32(0x3705, 1));
  embedded.embedded->attachments.push_back(std::move(innerData));
  m.attachments.push_back(std::move(embedded));
  return m;
}

// A message given up while it is written, because a stop was asked for or
// its source failed, leaves nothing in the file: no node and no block, and
// the store goes on with the next message.
TEST_F(StoreTest, AMessageGivenUpHalfWayLeavesNoBlockBehind) {
  const auto file = path("given-up.pst");
  bool stop = false;
  StoreOptions options;
  options.abandonMessage = [&] { return stop; };
  auto store = Store::create(file, u"Given up", options);
  const auto folder = store->createFolder(store->ipmSubtree(), u"In");

  // the last value's reads fail after its first chunk
  try {
    store->addMessage(folder, MessageWithLargeParts(std::make_shared<FailingSource>(4u << 20, 1u << 20)), 1);
    ADD_FAILURE() << "a failing source was saved";
  } catch (const core::IoError&) {
  }
  store->addMessage(folder, MessageWithLargeParts(std::make_shared<FailingSource>(4u << 20, ~0ull)), 1);
  // a stop asked for while the values are copied
  stop = true;
  try {
    store->addMessage(folder, MessageWithLargeParts(std::make_shared<FailingSource>(4u << 20, ~0ull)), 1);
    ADD_FAILURE() << "a message was saved although a stop was asked for";
  } catch (const StoreError& e) {
    EXPECT_EQ(e.kind(), StoreError::Kind::Abandoned) << e.what();
  }
  stop = false;
  store->addMessage(folder, MessageWithLargeParts(std::make_shared<FailingSource>(1u << 20, ~0ull)), 1);
  EXPECT_EQ(store->contentCount(folder), 2u);
  store->close();

  const auto check = pstcheck(file);
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(check.output.find("leaked"), std::string::npos) << check.output;
  EXPECT_NE(check.output.find("pstcheck: 0 errors, 0 warnings"), std::string::npos) << check.output;
}

// The recipient table has the template's columns, and one more for each
// property of an id the template lacks; a template id of another type gets none.
TEST_F(StoreTest, RecipientTablesAddColumnsOnlyForIdsTheTemplateLacks) {
  const std::uint32_t kExtra = makeTag(0x6001, ptype::Int32);
  const std::uint32_t kOtherType = makeTag(0x3001, ptype::Binary);  // the template's 0x3001 is Unicode
  auto columnsOf = [&](bool extra) {
    auto nodes = ndb::NodeStore::create(path(extra ? "extra.pst" : "plain.pst"));
    StoreMessage m;
    for (int i = 0; i < 2; ++i) {
      PropertyList r;
      r.set(PropertyValue::int32(tags::RecipientType, 1));
      if (extra && i == 1) {
        r.set(PropertyValue{kOtherType, core::Bytes{1, 2}, nullptr});
        r.set(PropertyValue::int32(0x6001, 7));
      }
      m.recipients.push_back(std::move(r));
    }
    auto written = MessageWriter(*nodes).write(m);
    for (const auto& s : ndb::readSubnodes(*nodes, written.data.bidSub))
      if (s.nid == 0x692) return ltp::TableContextReader(*nodes, s.bidData, s.bidSub).columns();
    ADD_FAILURE() << "no recipient table";
    return std::vector<ltp::ColumnDesc>{};
  };
  auto templateOnly = ltp::layoutColumns(templateTags(0x692));
  EXPECT_EQ(columnsOf(false), templateOnly);
  auto tags = templateTags(0x692);
  tags.push_back(kExtra);
  EXPECT_EQ(columnsOf(true), ltp::layoutColumns(tags));
}

// As Outlook leaves its stores: the search management queue (node 0x1E1) is
// empty, and the density list holds no entries under a page id of its own,
// taken from the header's bidNextP after every B-tree page's.
TEST_F(StoreTest, TheSearchQueueIsEmptyAndTheDensityListHasAPageIdOfItsOwn) {
  auto file = path("housekeeping.pst");
  auto store = Store::create(file, u"Housekeeping");
  auto folder = store->createFolder(store->ipmSubtree(), u"In");
  for (int k = 0; k < 2; ++k) {
    auto bytes = testsupport::writeMsg(testsupport::simpleMessage("Kept", "body"));
    auto msg = msg::MessageFile::read(std::make_shared<core::MemorySource>(bytes), "q.msg");
    store->addMessage(folder, importer::TranslateMessage(msg.message(), store->namedProperties()), 17);
    store->commit();
  }
  store->close();
  auto queue = run("/usr/bin/python3 " + std::string(PARVANE_SOURCE_DIR) + "/tests/engine/messaging/tools/dissect_pst.py " +
                   file + " | grep '^NBT nid=0x1e1 '");
  EXPECT_EQ(queue.output, "NBT nid=0x1e1 bidData=0x0 bidSub=0x0 parent=0x0\n");

  std::ifstream in(file, std::ios::binary);
  std::vector<std::uint8_t> head(0x4400);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  const std::uint8_t* dlist = head.data() + 0x4200;
  EXPECT_EQ(dlist[1], 0) << "cEntDList";
  EXPECT_EQ(core::loadU32(dlist + 4), 0u) << "ulCurrentPage";
  EXPECT_EQ(dlist[496], 0x86) << "ptype";
  const std::uint64_t bid = core::loadU64(dlist + 504), next = core::loadU64(head.data() + 32);
  EXPECT_EQ(bid + 2, next) << "bidNextP";
  EXPECT_GT(bid, core::loadU64(head.data() + 216)) << "the NBT root's page id";
  EXPECT_GT(bid, core::loadU64(head.data() + 232)) << "the BBT root's page id";
  EXPECT_EQ(pstcheck(file).status, 0);
}

TEST_F(StoreTest, FoldersRefuseASiblingOfTheSameNameInAnyCase) {
  auto store = Store::create(path("folders.pst"), u"Folders");
  auto mail = store->createFolder(store->ipmSubtree(), u"Mail");
  store->createFolder(mail, u"Straße");
  try {
    store->createFolder(store->ipmSubtree(), u"MAIL");
    FAIL() << "no collision";
  } catch (const StoreError& e) {
    EXPECT_EQ(e.kind(), StoreError::Kind::NameCollision);
  }
  EXPECT_THROW(store->createFolder(mail, u"STRAßE"), StoreError);
  EXPECT_THROW(store->createFolder(store->ipmSubtree(), u"deleted items"), StoreError);
  store->createFolder(store->rootFolder(), u"Mail");  // another parent: no collision
  EXPECT_EQ(store->subfolders(store->ipmSubtree()).size(), 2u);
  EXPECT_EQ(store->folderName(store->subfolders(mail)[0]), u"Straße");
  EXPECT_EQ(store->subfolderNamed(store->ipmSubtree(), u"mAIL"), mail);
  EXPECT_EQ(store->subfolderNamed(mail, u"STRASSE"), std::nullopt);
  EXPECT_EQ(store->subfolderNamed(store->ipmSubtree(), u"Straße"), std::nullopt);  // not a child
  EXPECT_NE(store->subfolderNamed(store->ipmSubtree(), u"DELETED ITEMS"), std::nullopt);
  store->close();
  EXPECT_THROW(store->createFolder(mail, u"Late"), StoreError);
  EXPECT_EQ(pstcheck(path("folders.pst")).status, 0);
}

// Commits between messages leave a file that is whole at every point.
TEST_F(StoreTest, EveryIntermediateCommitIsAConsistentStore) {
  auto file = path("commits.pst");
  StoreOptions options;
  options.commitEveryBytes = 64 * 1024;
  auto store = Store::create(file, u"Commits", options);
  auto folder = store->createFolder(store->ipmSubtree(), u"In");
  auto bytes = testsupport::writeMsg(testsupport::simpleMessage("Commit", "body", {"a@example.com"},
                                                               {{"a.bin", core::Bytes(30000, 1)}}));
  for (int i = 0; i < 12; ++i) {
    auto msg = msg::MessageFile::read(std::make_shared<core::MemorySource>(bytes), "c.msg");
    store->addMessage(folder, importer::TranslateMessage(msg.message(), store->namedProperties()), 17);
  }
  // a copy taken while the store is open is what a crash would leave
  fs::copy_file(file, path("snapshot.pst"));
  auto check = pstcheck(path("snapshot.pst"));
  EXPECT_EQ(check.status, 0) << check.output;
  auto summary = run(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck --json " + path("snapshot.pst"));
  EXPECT_EQ(summary.output.find("\"messages\": 0,"), std::string::npos) << "nothing was committed";
  store->close();
  EXPECT_EQ(store->contentCount(folder), 12u);
  EXPECT_EQ(pstcheck(file).status, 0);
}

// A disk with 8 to 16 KiB free, or less, when the new store is written: a
// clear error, no file under either name, and the next attempt succeeds.
TEST_F(StoreTest, DiskFullWhileCreatingLeavesNoFile) {
  const std::string file = path("new.pst");
  std::uint64_t needed = 0;
  {
    parvane::testing::FaultyFileSystem counting;
    StoreOptions options;
    options.fileSystem = &counting;
    Store::create(path("measure.pst"), u"Room", options);
    needed = counting.bytesWritten();
    fs::remove(path("measure.pst"));
  }
  ASSERT_GT(needed, 16384u);
  for (std::uint64_t budget : std::vector<std::uint64_t>{0, 4096, 8192, 12288, 16384, needed - 1}) {
    SCOPED_TRACE("budget " + std::to_string(budget));
    parvane::testing::FaultyFileSystem disk;
    disk.writeBudget = budget;
    StoreOptions options;
    options.fileSystem = &disk;
    try {
      Store::create(file, u"Full", options);
      ADD_FAILURE() << "created on a full disk";
    } catch (const StoreError& e) {
      EXPECT_EQ(e.kind(), StoreError::Kind::Io);
      EXPECT_EQ(std::string(e.what()), "cannot write " + file + ": No space left on device");
    }
    EXPECT_EQ(disk.created(), 1u);
    EXPECT_TRUE(fs::is_empty(dir_));
  }
  Store::create(file, u"Room")->close();
  EXPECT_EQ(pstcheck(file).status, 0);
}

// The disk fills up in the middle of a run, at several points: in a
// message's blocks, in the tables a commit writes, in the commit itself. The
// error names the file and the cause once; the store takes nothing more; and
// the file holds exactly the messages that committedMessageCount() counts,
// while the rest of those saved are the ones a run must report as lost.
TEST_F(StoreTest, DiskFullMidRunTellsWhichMessagesAreInTheFile) {
  auto bytes = testsupport::writeMsg(testsupport::simpleMessage("Full", "body", {"a@example.com"},
                                                               {{"a.bin", core::Bytes(20000, 7)}}));
  std::set<std::uint64_t> lostCounts;
  for (std::uint64_t budget = 700000; budget < 1700000; budget += 97000) {
    SCOPED_TRACE("budget " + std::to_string(budget));
    const std::string file = path("full-" + std::to_string(budget) + ".pst");
    parvane::testing::FaultyFileSystem disk;
    disk.writeBudget = budget;
    StoreOptions options;
    options.commitEveryBytes = 150 * 1024;
    options.fileSystem = &disk;
    auto store = Store::create(file, u"Full", options);
    auto folder = store->createFolder(store->ipmSubtree(), u"In");
    std::string error;
    std::uint64_t added = 0;
    for (int i = 0; i < 200 && error.empty(); ++i) {
      auto msg = msg::MessageFile::read(std::make_shared<core::MemorySource>(bytes), "f.msg");
      try {
        store->addMessage(folder, importer::TranslateMessage(msg.message(), store->namedProperties()), 17);
        ++added;
      } catch (const StoreError& e) {
        EXPECT_EQ(e.kind(), StoreError::Kind::Io);
        error = e.what();
      }
      EXPECT_LE(store->committedMessageCount(), store->savedMessageCount());
    }
    ASSERT_FALSE(error.empty()) << "the disk never filled";
    EXPECT_EQ(error, "cannot write " + file + ": No space left on device");
    // the message whose call failed counts as saved only when it was written
    EXPECT_GE(store->savedMessageCount(), added);
    EXPECT_LE(store->savedMessageCount(), added + 1);
    auto msg = msg::MessageFile::read(std::make_shared<core::MemorySource>(bytes), "f.msg");
    EXPECT_THROW(store->addMessage(folder, importer::TranslateMessage(msg.message(), store->namedProperties()), 17), StoreError);
    EXPECT_THROW(store->close(), StoreError);
    const std::uint64_t committed = store->committedMessageCount(), saved = store->savedMessageCount();
    store.reset();
    lostCounts.insert(saved - committed);
    auto count = run("/usr/bin/python3 -c \"import pypff,sys\n"
                     "f=pypff.file(); f.open(sys.argv[1])\n"
                     "def count(d): return d.number_of_sub_messages + sum(count(d.get_sub_folder(i)) for i in range(d.number_of_sub_folders))\n"
                     "print(count(f.get_root_folder()))\" " + file);
    EXPECT_EQ(count.output, std::to_string(committed) + "\n");
    auto check = pstcheck(file);
    EXPECT_EQ(check.status, 0) << check.output.substr(0, 2000);
  }
  // the failures fell at different distances from the last commit
  EXPECT_GE(lostCounts.size(), 3u);
}

// The disk fails the sync that follows a commit's header (EIO): the header
// may or may not be on disk, so the messages of that commit do not count as
// in the file, and a run names them as not converted.
TEST_F(StoreTest, ACommitWhoseHeaderSyncFailsCountsNothingNew) {
  auto bytes = testsupport::writeMsg(testsupport::simpleMessage("Sync", "body", {"a@example.com"}, {}));
  const std::string file = path("sync-fails.pst");
  parvane::testing::FaultyFileSystem disk;
  bool armed = false;
  disk.beforeSync = [&](std::uint64_t lastWrite) {
    if (armed && lastWrite == 0) throw core::IoError::fromErrno("sync", file, EIO);
  };
  StoreOptions options;
  options.commitEveryBytes = 1u << 30;
  options.commitEveryMilliseconds = 1000000;
  options.fileSystem = &disk;
  auto store = Store::create(file, u"Sync", options);
  auto folder = store->createFolder(store->ipmSubtree(), u"In");
  const auto add = [&] {
    auto msg = msg::MessageFile::read(std::make_shared<core::MemorySource>(bytes), "s.msg");
    store->addMessage(folder, importer::TranslateMessage(msg.message(), store->namedProperties()), 17);
  };
  for (int i = 0; i < 3; ++i) add();
  store->commit();
  ASSERT_EQ(store->committedMessageCount(), 3u);
  for (int i = 0; i < 4; ++i) add();
  armed = true;
  EXPECT_THROW(store->commit(), StoreError);
  EXPECT_EQ(store->savedMessageCount(), 7u);
  EXPECT_EQ(store->committedMessageCount(), 3u);
}

// The disk fills up at the close: the close fails once, with the cause, and
// leaves the store closed; letting go of it afterwards writes nothing more
// (and does not crash), and the file holds the messages of the last commit.
TEST_F(StoreTest, AFailedCloseLeavesTheStoreClosedAsOfItsLastCommit) {
  auto bytes = testsupport::writeMsg(testsupport::simpleMessage("Last", "body", {"a@example.com"}, {}));
  const std::string file = path("failed-close.pst");
  parvane::testing::FaultyFileSystem disk;
  StoreOptions options;
  options.fileSystem = &disk;
  auto store = Store::create(file, u"Failed close", options);
  auto folder = store->createFolder(store->ipmSubtree(), u"In");
  auto add = [&] {
    auto msg = msg::MessageFile::read(std::make_shared<core::MemorySource>(bytes), "f.msg");
    store->addMessage(folder, importer::TranslateMessage(msg.message(), store->namedProperties()), 17);
  };
  add();
  store->commit();
  add();
  disk.writeBudget = disk.bytesWritten();  // nothing more fits
  EXPECT_THROW(store->close(), StoreError);
  EXPECT_FALSE(store->isOpen());
  EXPECT_NO_THROW(store->close());  // closed already: nothing to do
  EXPECT_EQ(store->committedMessageCount(), 1u);
  const std::uint64_t written = disk.bytesWritten(), changes = disk.changes();
  store.reset();
  EXPECT_EQ(disk.bytesWritten(), written);
  EXPECT_EQ(disk.changes(), changes);
  auto check = pstcheck(file);
  EXPECT_EQ(check.status, 0) << check.output.substr(0, 2000);
}

// Messages spread over many folders and written in turns, with commits in
// between: the contents tables of folders that got no recent message are
// parked in the store and resumed; every table, count and queue entry is
// right, in a copy taken mid-run and at the end.
TEST_F(StoreTest, ContentsTablesParkedAndResumedAcrossManyFoldersStayRight) {
  auto file = path("folders.pst");
  StoreOptions options;
  options.commitEveryBytes = 256 * 1024;
  auto store = Store::create(file, u"Folders", options);
  std::vector<FolderId> folders;
  for (int f = 0; f < 40; ++f) folders.push_back(store->createFolder(store->ipmSubtree(), u"F" + std::u16string(1, char16_t(u'A' + f % 26)) + std::u16string(1, char16_t(u'a' + f / 26))));
  auto bytes = testsupport::writeMsg(testsupport::simpleMessage("Spread over the folders", "body", {"a@example.com"}));
  std::map<FolderId, std::uint32_t> expected;
  // turns of 30 messages to one folder, then the next: each folder is parked
  // (64 messages without one) and resumed many times
  for (int turn = 0; turn < 160; ++turn) {
    FolderId f = folders[static_cast<std::size_t>(turn * 7) % folders.size()];
    for (int i = 0; i < 30; ++i) {
      auto msg = msg::MessageFile::read(std::make_shared<core::MemorySource>(bytes), "s.msg");
      store->addMessage(f, importer::TranslateMessage(msg.message(), store->namedProperties()), 17);
      ++expected[f];
    }
    if (turn == 100) {
      store->commit();
      fs::copy_file(file, path("midway.pst"));
    }
  }
  store->close();
  for (const auto& name : {file, path("midway.pst")}) {
    auto check = pstcheck(name);
    EXPECT_EQ(check.status, 0) << check.output.substr(0, 3000);
  }
  auto counts = run("/usr/bin/python3 -c \"import pypff,sys\n"
                    "f=pypff.file(); f.open(sys.argv[1])\n"
                    "ipm=f.get_root_folder().get_sub_folder(1)\n"
                    "for i in range(ipm.number_of_sub_folders):\n"
                    "  s=ipm.get_sub_folder(i)\n"
                    "  n=sum(1 for j in range(s.number_of_sub_messages) if s.get_sub_message(j).subject)\n"
                    "  print(s.name, n)\" " + file);
  for (FolderId f : folders) {
    EXPECT_EQ(store->contentCount(f), expected[f]);
    const std::string line = core::toUtf8(store->folderName(f)) + " " + std::to_string(expected[f]) + "\n";
    EXPECT_NE(counts.output.find(line), std::string::npos) << line << counts.output.substr(0, 2000);
  }
}

// Thousands of siblings and a deep chain, messages arriving in and out of
// folder order with commits in between: every hierarchy table lists every
// subfolder in the order made, with its count, and each name finds its folder.
TEST_F(StoreTest, ManySiblingsAndADeepChainKeepEverySubfolderInOrder) {
  auto file = path("wide.pst");
  StoreOptions options;
  options.commitEveryBytes = 128 * 1024;
  auto store = Store::create(file, u"Wide", options);
  const FolderId wide = store->createFolder(store->ipmSubtree(), u"Wide");
  std::vector<FolderId> siblings;
  for (int i = 0; i < 3000; ++i) siblings.push_back(store->createFolder(wide, u"s" + core::utf8ToUtf16(std::to_string(i))));
  FolderId deep = store->ipmSubtree();
  for (int d = 0; d < 60; ++d) deep = store->createFolder(deep, u"d" + core::utf8ToUtf16(std::to_string(d)));
  auto bytes = testsupport::writeMsg(testsupport::simpleMessage("Wide", "body", {"a@example.com"}));
  auto add = [&](FolderId f) {
    auto msg = msg::MessageFile::read(std::make_shared<core::MemorySource>(bytes), "w.msg");
    store->addMessage(f, importer::TranslateMessage(msg.message(), store->namedProperties()), 17);
  };
  // every 7th sibling gets one message; then the first 100 again, after their
  // tables were let go of; the deepest folder one
  for (std::size_t i = 0; i < siblings.size(); i += 7) add(siblings[i]);
  for (std::size_t i = 0; i < 100; i += 7) add(siblings[i]);
  add(deep);
  for (int i = 0; i < 3000; i += 599) EXPECT_EQ(store->subfolderNamed(wide, u"S" + core::utf8ToUtf16(std::to_string(i))), siblings[static_cast<std::size_t>(i)]);
  store->close();
  EXPECT_EQ(pstcheck(file).status, 0);
  auto listed = run("/usr/bin/python3 -c \"import pypff,sys\n"
                    "f=pypff.file(); f.open(sys.argv[1])\n"
                    "ipm=f.get_root_folder().get_sub_folder(1)\n"
                    "w=[ipm.get_sub_folder(i) for i in range(ipm.number_of_sub_folders) if ipm.get_sub_folder(i).name=='Wide'][0]\n"
                    "print(' '.join('%s:%d' % (s.name, s.number_of_sub_messages) for s in [w.get_sub_folder(i) for i in range(w.number_of_sub_folders)]))\n"
                    "d=[ipm.get_sub_folder(i) for i in range(ipm.number_of_sub_folders) if ipm.get_sub_folder(i).name=='d0'][0]\n"
                    "n=1\n"
                    "while d.number_of_sub_folders: d=d.get_sub_folder(0); n+=1\n"
                    "print(d.name, n, d.number_of_sub_messages)\" " + file);
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    const int count = i % 7 ? 0 : i < 100 ? 2 : 1;
    expected += (i ? " s" : "s") + std::to_string(i) + ":" + std::to_string(count);
  }
  EXPECT_EQ(listed.output, expected + "\nd59 60 1\n") << listed.output.substr(0, 300);
}

TEST_F(StoreTest, ManyMessagesAndDeepEmbeddingStayConsistent) {
  auto file = path("many.pst");
  auto store = Store::create(file, u"Many");
  auto folder = store->createFolder(store->ipmSubtree(), u"Bulk");
  auto bytes = testsupport::writeMsg(testsupport::simpleMessage("Bulk", "body text", {"a@example.com"}));
  for (int i = 0; i < 1500; ++i) {
    auto msg = msg::MessageFile::read(std::make_shared<core::MemorySource>(bytes), "b.msg");
    store->addMessage(folder, importer::TranslateMessage(msg.message(), store->namedProperties()), i % 2 ? 17 : 16);
  }
  // an embedded message five levels deep
  auto inner = std::make_shared<testsupport::MsgMessage>(testsupport::simpleMessage("Level 5", "deepest", {}, {{"d.txt", core::Bytes(10, 'd')}}));
  for (int level = 4; level >= 0; --level) {
    auto outer = std::make_shared<testsupport::MsgMessage>(testsupport::simpleMessage("Level " + std::to_string(level), "b"));
    testsupport::MsgAttachment a;
    a.properties.push_back(testsupport::MsgProperty::i32(0x3705, 5));
    a.embedded = inner;
    outer->attachments.push_back(a);
    inner = outer;
  }
  auto deep = msg::MessageFile::read(std::make_shared<core::MemorySource>(testsupport::writeMsg(*inner)), "deep.msg");
  store->addMessage(folder, importer::TranslateMessage(deep.message(), store->namedProperties()), 17);
  store->close();
  auto check = pstcheck(file);
  EXPECT_EQ(check.status, 0) << check.output.substr(0, 3000);
  auto counts = run("/usr/bin/python3 -c \"import pypff,sys\n"
                    "f=pypff.file(); f.open(sys.argv[1])\n"
                    "b=f.get_root_folder().get_sub_folder(1).get_sub_folder(1)\n"
                    "print(b.name, b.number_of_sub_messages)\" " + file);
  EXPECT_EQ(counts.output, "Bulk 1501\n") << counts.output;
  // pst-extractor finds the rows of a contents table past its first block
  // only where every full block of the row matrix is padded to 8176 bytes
  // (its counts go to standard error, its log to standard output)
  auto extractor = run("sh -c 'cd \"" + std::string(PARVANE_SOURCE_DIR) +
                       "/oracles\" && timeout 120 node count_messages_classic.cjs \"" + file +
                       "\" 2>&1 >/dev/null'");
  EXPECT_NE(extractor.output.find("/Bulk 1501\n"), std::string::npos) << extractor.output.substr(0, 2000);
  // the deepest message node sits six message levels down (the top one and five embedded)
  auto depth = run("/usr/bin/python3 " + std::string(PARVANE_SOURCE_DIR) +
                   "/tests/engine/messaging/tools/dissect_pst.py " + file +
                   " | awk '/node 0x[0-9a-f]*[4c] / { n = match($0, /[^ ]/); if (n > d) d = n } END { print d }'");
  // two spaces per level: the top message's node line is indented by 2, each
  // embedded one 4 further (attachment, then message)
  EXPECT_EQ(depth.output, std::to_string(2 + 4 * 5 + 1) + "\n");
}

// Whether a message fits in a store of limited size is decided before it is
// written: the bound must cover what each shape of message really takes
// (committed, so that freed space counts as free), without being so loose
// that stores end far below their limit.
TEST_F(StoreTest, TheStoredSizeBoundCoversWhatEachMessageTakes) {
  auto file = path("bound.pst");
  auto store = Store::create(file, u"Bound");
  auto folder = store->createFolder(store->ipmSubtree(), u"In");
  std::vector<std::string> many;
  for (int i = 0; i < 300; ++i) many.push_back("person" + std::to_string(i) + "@example.com");
  std::vector<std::pair<std::string, core::Bytes>> smallFiles;
  for (int i = 0; i < 12; ++i) smallFiles.push_back({"s" + std::to_string(i) + ".bin", core::Bytes(3000, 7)});
  auto inner = std::make_shared<testsupport::MsgMessage>(
      testsupport::simpleMessage("Inner", "inner", {"i@example.com"}, {{"i.bin", core::Bytes(5000, 1)}}));
  auto embedding = testsupport::simpleMessage("Outer", "outer", {});
  testsupport::MsgAttachment e;
  e.properties.push_back(testsupport::MsgProperty::i32(0x3705, 5));
  e.embedded = inner;
  embedding.attachments.push_back(e);
  const std::vector<testsupport::MsgMessage> shapes = {
      testsupport::simpleMessage("", ""),
      testsupport::simpleMessage("Plain", "plain", {"a@example.com"}),
      testsupport::simpleMessage("Long body", std::string(200000, 'b'), {"a@example.com"}),
      testsupport::simpleMessage("Many recipients", "r", many),
      testsupport::simpleMessage("Small attachments", "s", {"a@example.com"}, smallFiles),
      testsupport::simpleMessage("Large attachment", "l", {}, {{"big.bin", core::Bytes(3000000, 9)}}),
      embedding,
  };
  for (std::size_t k = 0; k < shapes.size(); ++k) {
    auto read = msg::MessageFile::read(std::make_shared<core::MemorySource>(testsupport::writeMsg(shapes[k])), "m.msg");
    StoreMessage content = importer::TranslateMessage(read.message(), store->namedProperties());
    const std::uint64_t bound = StoredSizeBound(content);
    store->commit();
    const std::uint64_t before = store->bytesInUse();
    store->addMessage(folder, std::move(content), 17);
    store->commit();
    const std::uint64_t taken = store->bytesInUse() - before;
    const std::string subject = "shape " + std::to_string(k);
    EXPECT_LE(taken, bound) << subject;
    EXPECT_LE(bound, 3 * taken + (32 << 10)) << subject << ": the bound is far too loose";
  }
  store->close();
  EXPECT_EQ(pstcheck(file).status, 0);
}

// While fitsWithin() says a message fits, the file stays within the limit,
// through the close; what does not fit still gets room.
TEST_F(StoreTest, AGrowthLimitKeepsTheFileWithinItWhileTheContentFits) {
  auto file = path("limited.pst");
  auto store = Store::create(file, u"Limited");
  auto folder = store->createFolder(store->ipmSubtree(), u"In");
  constexpr std::uint64_t kLimit = 3u << 20;
  const auto bytes = testsupport::writeMsg(
      testsupport::simpleMessage("Part", "p", {"a@example.com"}, {{"p.bin", core::Bytes(60000, 3)}}));
  int added = 0;
  for (;; ++added) {
    auto read = msg::MessageFile::read(std::make_shared<core::MemorySource>(bytes), "p.msg");
    StoreMessage content = importer::TranslateMessage(read.message(), store->namedProperties());
    if (!store->fitsWithin(content, kLimit)) break;
    store->addMessage(folder, std::move(content), 17);
    EXPECT_LE(store->fileSize(), kLimit);
  }
  EXPECT_GT(added, 20);
  store->close();
  EXPECT_LE(fs::file_size(file), kLimit);
  EXPECT_GT(fs::file_size(file), kLimit - (1u << 20)) << "the file ends near its limit";

  // Past the limit the store goes on growing as its content needs.
  auto past = path("past.pst");
  auto over = Store::create(past, u"Past");
  auto in = over->createFolder(over->ipmSubtree(), u"In");
  over->setGrowthLimit(1u << 20);
  auto big = msg::MessageFile::read(
      std::make_shared<core::MemorySource>(testsupport::writeMsg(testsupport::simpleMessage(
          "Big", "b", {}, {{"b.bin", core::Bytes(2500000, 4)}}))),
      "b.msg");
  over->addMessage(in, importer::TranslateMessage(big.message(), over->namedProperties()), 17);
  over->close();
  EXPECT_GT(fs::file_size(past), 2500000u);
  EXPECT_EQ(pstcheck(past).status, 0);
  EXPECT_EQ(pstcheck(file).status, 0);
}

}  // namespace
}  // namespace parvane::messaging
