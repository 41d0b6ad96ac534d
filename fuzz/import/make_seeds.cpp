// Writes small message files as seeds for the import fuzzer, each reaching
// one part of the import in a few kilobytes: recipients with properties the
// recipient table has no column for, attachments by value, embedded messages
// two deep, multi-valued and 8-bit values, named properties, a value large
// enough to be saved in a subnode of its own.
//   make_seeds FOLDER
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/msg_writer.h"

using namespace parvane;
using namespace parvane::testsupport;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  auto write = [&](const std::string& name, const MsgMessage& m, const std::vector<MsgNamedProperty>& named = {}) {
    writeMsgFile(dir / ("seed-" + name + ".msg"), m, named);
  };

  write("plain", simpleMessage("Plain", "a body", {"a@example.com"}));

  auto recipients = simpleMessage("RE: Recipients", "body", {"a@example.com", "b@example.com"});
  recipients.properties.push_back(MsgProperty::unicode(0x003D, "RE: "));
  recipients.recipients[0].properties.push_back(MsgProperty::binary(0x6001, core::Bytes(40, 7)));
  recipients.recipients[1].properties.push_back(MsgProperty::i32(0x6001, 5));  // same id, other type
  recipients.recipients[1].properties.push_back(MsgProperty::i32(0x0C15, 2));
  write("recipients", recipients);

  auto attached = simpleMessage("Attached", "body", {}, {{"a.bin", core::Bytes(300, 1)}, {"b.txt", core::Bytes(5000, 2)}});
  write("attachments", attached);

  auto inner = std::make_shared<MsgMessage>(simpleMessage("Inner", "inner", {"i@example.com"}, {{"i.bin", core::Bytes(64, 3)}}));
  auto middle = std::make_shared<MsgMessage>(simpleMessage("Middle", "middle"));
  MsgAttachment e1;
  e1.properties.push_back(MsgProperty::i32(0x3705, 5));
  e1.embedded = inner;
  middle->attachments.push_back(e1);
  auto outer = simpleMessage("Outer", "outer", {"o@example.com"});
  MsgAttachment e2;
  e2.properties.push_back(MsgProperty::i32(0x3705, 5));
  e2.embedded = middle;
  outer.attachments.push_back(e2);
  write("embedded", outer);

  MsgMessage values;
  values.properties.push_back(MsgProperty::string8(0x001A, "IPM.Note"));
  values.properties.push_back(MsgProperty::string8(0x0037, "8-bit subject \xE9"));
  values.properties.push_back(MsgProperty::i32(0x3FFD, 1252));
  values.properties.push_back(MsgProperty::multiUnicode(0x3A50, {"one", "two"}));
  values.properties.push_back(MsgProperty::multiBinary(0x3A51, {core::Bytes(3, 1), core::Bytes(5, 2)}));
  values.properties.push_back(MsgProperty::multiI32(0x3A52, {1, 2, 3}));
  values.properties.push_back(MsgProperty::i64(0x3A53, 1234567890123LL));
  values.properties.push_back(MsgProperty::boolean(0x3A54, true));
  values.properties.push_back(MsgProperty::binary(0x1009, core::Bytes(9000, 0x41)));  // past a heap's largest value
  values.properties.push_back(MsgProperty::i32(0x8000, 7));
  values.properties.push_back(MsgProperty::unicode(0x8001, "named"));
  write("values", values, {{psetidCommon(), 0x8501u, u""}, {psPublicStrings(), std::nullopt, u"Keywords"}});
  return 0;
}
