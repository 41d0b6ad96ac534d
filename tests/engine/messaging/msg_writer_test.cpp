// The test-only .msg writer, checked with our reader and with olefile.
#include "support/msg_writer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "engine/msg/message.h"

namespace parvane::testsupport {
namespace {

msg::MessageFile readBack(const core::Bytes& bytes) {
  return msg::MessageFile::read(std::make_shared<core::MemorySource>(bytes), "written.msg");
}

TEST(MsgWriter, WritesWhatTheReaderReadsBack) {
  auto inner = std::make_shared<MsgMessage>(simpleMessage("Inner", "inner body", {"c@example.com"},
                                                          {{"i.txt", core::Bytes{1, 2, 3}}}));
  auto m = simpleMessage("Hello wörld", "Body ✓", {"a@example.com", "b@example.com"},
                         {{"a.txt", core::Bytes(10, 'x')}, {"big.bin", core::Bytes(5000, 'y')}});
  MsgAttachment e;
  e.properties.push_back(MsgProperty::i32(0x3705, 5));
  e.embedded = inner;
  m.attachments.push_back(e);
  m.properties.push_back(MsgProperty::multiUnicode(0x8000, {"Red", "Blue"}));
  m.properties.push_back(MsgProperty::multiI32(0x8001, {1, 2, 3}));
  std::vector<MsgNamedProperty> named{{psPublicStrings(), std::nullopt, u"Keywords"}, {psetidCommon(), 0x8503, {}}};

  auto file = readBack(writeMsg(m, named));
  const auto& msg = file.message();
  EXPECT_EQ(msg.properties().text(0x0037), std::u16string(u"Hello wörld"));
  EXPECT_EQ(msg.properties().text(0x1000), std::u16string(u"Body ✓"));
  ASSERT_EQ(msg.recipients().size(), 2u);
  EXPECT_EQ(msg.recipients()[1].properties().text(0x3003), std::u16string(u"b@example.com"));
  ASSERT_EQ(msg.attachments().size(), 3u);
  EXPECT_EQ(msg.attachments()[1].data()->load(), core::Bytes(5000, 'y'));
  const auto* embedded = msg.attachments()[2].embedded();
  ASSERT_NE(embedded, nullptr);
  EXPECT_EQ(embedded->properties().text(0x0037), std::u16string(u"Inner"));
  ASSERT_EQ(embedded->attachments().size(), 1u);
  EXPECT_EQ(embedded->attachments()[0].data()->load(), (core::Bytes{1, 2, 3}));
  const auto* keywords = msg.properties().findId(0x8000);
  ASSERT_NE(keywords, nullptr);
  ASSERT_NE(keywords->name(), nullptr);
  EXPECT_EQ(keywords->name()->name, u"Keywords");
  ASSERT_EQ(keywords->count(), 2u);
  EXPECT_EQ(keywords->itemText(1), u"Blue");
  const auto* numbers = msg.properties().findId(0x8001);
  ASSERT_NE(numbers, nullptr);
  EXPECT_EQ(numbers->name()->id, 0x8503u);
  EXPECT_EQ(numbers->count(), 3u);
}

TEST(MsgWriter, LargeFilesNeedMoreThanTheHeadersFatList) {
  // beyond 109 FAT sectors (about 6.8 MB) the FAT is listed in DIFAT sectors
  core::Bytes big(9u << 20);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  auto m = simpleMessage("Big", "b", {}, {{"big.bin", big}});
  auto bytes = writeMsg(m);
  EXPECT_GT(core::loadU32(bytes.data() + 0x48), 0u);  // DIFAT sector count
  auto file = readBack(bytes);
  EXPECT_EQ(file.message().attachments()[0].data()->load(), big);
}

TEST(MsgWriter, OlefileReadsTheCompoundFile) {
  if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no python3";
  auto dir = std::filesystem::temp_directory_path() / ("msgwriter-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  writeMsgFile(dir / "a.msg", simpleMessage("Ole", "checked", {"o@example.com"}, {{"o.txt", core::Bytes(70, 'o')}}));
  std::string cmd = "/usr/bin/python3 -c \"import olefile,sys; o=olefile.OleFileIO(sys.argv[1]); "
                    "print(o.openstream('__substg1.0_0037001F').read().decode('utf-16-le')); "
                    "print(len(o.openstream('__attach_version1.0_#00000000/__substg1.0_37010102').read()))\" " +
                    (dir / "a.msg").string() + " > " + (dir / "out.txt").string() + " 2>&1";
  int rc = std::system(cmd.c_str());
  std::ifstream in(dir / "out.txt");
  std::string subject, size;
  std::getline(in, subject);
  std::getline(in, size);
  std::filesystem::remove_all(dir);
  if (rc != 0 && subject.find("No module named") != std::string::npos) GTEST_SKIP() << "olefile missing";
  ASSERT_EQ(rc, 0) << subject;
  EXPECT_EQ(subject, "Ole");
  EXPECT_EQ(size, "70");
}

}  // namespace
}  // namespace parvane::testsupport
