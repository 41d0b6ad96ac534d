// The whole import of a message file into a store kept in memory, audited
// from the store's side (support/store_audit): every corpus message, the
// inputs the import fuzzer found faults with, and the audit's own
// sensitivity (a damaged block and a message that is not the one saved are
// caught).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/source.h"
#include "engine/msg/message.h"
#include "engine/ndb/store_reader.h"
#include "support/store_audit/import_audit.h"
#include "support/msg_writer.h"
#include "support/memory_file_system.h"

namespace parvane::testsupport {
namespace {

namespace fs = std::filesystem;
using testing::MemoryFileSystem;

core::Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return core::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<fs::path> filesUnder(const fs::path& dir, const std::string& extension) {
  std::vector<fs::path> out;
  if (!fs::is_directory(dir)) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file() && e.path().extension() == extension) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

const fs::path kCorpus = fs::path(PARVANE_SHARED_DIR) / "corpus" / "msg";
const fs::path kFindings = fs::path(PARVANE_SOURCE_DIR) / "tests" / "engine" / "messaging" / "data" / "import-findings";

// Imports and audits; returns the refusal (empty when the message was saved).
std::string importAndAudit(const core::Bytes& bytes, const ImportOptions& options) {
  MemoryFileSystem files;
  auto imported = importMessageFile(bytes, files, "audit.pst", options);
  auditStore(files, imported);
  return imported.refusal;
}

TEST(ImportAudit, EveryCorpusMessageReadsBackAsSaved) {
  const auto paths = filesUnder(kCorpus, ".msg");
  ASSERT_GT(paths.size(), 100u);
  std::size_t saved = 0;
  for (const auto& path : paths) {
    const auto bytes = readFile(path);
    // values kept in memory, and values read on demand while saved
    for (std::uint64_t limit : {std::uint64_t{64} << 10, std::uint64_t{512}}) {
      ImportOptions options;
      options.inMemoryLimit = limit;
      try {
        if (importAndAudit(bytes, options).empty()) ++saved;
      } catch (const std::exception& e) {
        ADD_FAILURE() << path << " (in-memory limit " << limit << "): " << e.what();
      }
    }
  }
  // only the corpus's two broken containers are refused, each both times
  EXPECT_EQ(saved, 2 * (paths.size() - 2));
}

// A value read on demand that is small enough for the heap is kept in the
// heap; the message's size counted it a second time as a subnode of its own.
TEST(ImportAudit, AValueReadOnDemandIsCountedOnceInTheMessageSize) {
  auto message = simpleMessage("Sized", "body", {"a@example.com"}, {{"a.bin", core::Bytes(2000, 1)}});
  message.properties.push_back(MsgProperty::binary(0x1009, core::Bytes(3000, 2)));
  const auto bytes = writeMsg(message);
  for (std::uint64_t limit : {std::uint64_t{64} << 10, std::uint64_t{1024}}) {
    ImportOptions options;
    options.inMemoryLimit = limit;
    MemoryFileSystem files;
    auto imported = importMessageFile(bytes, files, "sized.pst", options);
    ASSERT_TRUE(imported.refusal.empty()) << imported.refusal;
    EXPECT_NO_THROW(auditStore(files, imported)) << "in-memory limit " << limit;
  }
}

TEST(ImportAudit, AFileThatIsNoMessageIsRefusedWithoutAStore) {
  MemoryFileSystem files;
  auto imported = importMessageFile(core::Bytes(4096, 0x5A), files, "none.pst");
  EXPECT_FALSE(imported.refusal.empty());
  EXPECT_FALSE(imported.storeWritten);
  EXPECT_EQ(files.contents("none.pst"), nullptr);
}

fs::path aCorpusMessageWithAttachments() {
  return kCorpus / "HiraokaHyperTools-msgreader" / "attachmentFiles.msg";
}

TEST(ImportAudit, ADamagedBlockIsCaught) {
  const auto bytes = readFile(aCorpusMessageWithAttachments());
  ASSERT_FALSE(bytes.empty());
  MemoryFileSystem files;
  auto imported = importMessageFile(bytes, files, "damaged.pst");
  ASSERT_TRUE(imported.refusal.empty()) << imported.refusal;
  ASSERT_NO_THROW(auditStore(files, imported));
  // one byte of the message's property context, inside its block
  std::uint64_t at = 0;
  {
    auto r = ndb::StoreReader::open("damaged.pst", &files);
    r->forEachNode([&](const ndb::NodeInfo& n) {
      if (ndb::nidType(n.nid) == ndb::NidType::NormalMessage) at = r->findBlock(n.bidData)->ib + 20;
    });
  }
  ASSERT_NE(at, 0u);
  (*files.contents("damaged.pst"))[at] ^= 0x40;
  EXPECT_THROW(auditStore(files, imported), AuditError);
}

TEST(ImportAudit, AMessageOtherThanTheOneSavedIsCaught) {
  const auto bytes = readFile(aCorpusMessageWithAttachments());
  MemoryFileSystem files;
  auto imported = importMessageFile(bytes, files, "other.pst");
  ASSERT_TRUE(imported.refusal.empty()) << imported.refusal;
  ASSERT_NO_THROW(auditStore(files, imported));
  // the same message with one attachment's file name changed
  auto& attachment = imported.messages.at(0).attachments.at(0).properties;
  attachment.set(messaging::PropertyValue::unicode(messaging::tags::AttachLongFilename, u"renamed.bin"));
  EXPECT_THROW(auditStore(files, imported), AuditError);
}

}  // namespace
}  // namespace parvane::testsupport
