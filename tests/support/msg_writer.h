// Writes Outlook message files (.msg) for tests and benchmarks: a version-3
// compound file with property streams, value streams, recipients, attachments
// (by value and embedded messages, to any depth), multi-valued properties and
// the named-property map. Only what a reader needs; no Outlook-only extras.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/core/coding.h"

namespace parvane::testsupport {

using Guid = std::array<std::uint8_t, 16>;

// The GUIDs of the well-known property sets.
Guid psMapi();           // {00020328-0000-0000-C000-000000000046}
Guid psPublicStrings();  // {00020329-0000-0000-C000-000000000046}
Guid psetidCommon();     // {00062008-0000-0000-C000-000000000046}

struct MsgProperty {
  std::uint32_t tag = 0;
  // Single value: fixed types little-endian at their size (2, 4 or 8 bytes, 16
  // for a GUID); PtypString UTF-16LE and PtypString8 bytes, both without the
  // terminator; binary as is. Multi-valued fixed types: the values back to back.
  core::Bytes value;
  // Multi-valued strings and binaries: one entry per value, as above.
  std::vector<core::Bytes> values;

  static MsgProperty i16(std::uint16_t id, std::int16_t v);
  static MsgProperty i32(std::uint16_t id, std::int32_t v);
  static MsgProperty i64(std::uint16_t id, std::int64_t v);
  static MsgProperty boolean(std::uint16_t id, bool v);
  static MsgProperty time(std::uint16_t id, std::uint64_t fileTime);
  static MsgProperty unicode(std::uint16_t id, const std::string& utf8);
  static MsgProperty string8(std::uint16_t id, const std::string& bytes);
  static MsgProperty binary(std::uint16_t id, core::Bytes bytes);
  static MsgProperty multiUnicode(std::uint16_t id, const std::vector<std::string>& utf8);
  static MsgProperty multiBinary(std::uint16_t id, std::vector<core::Bytes> values);
  static MsgProperty multiI32(std::uint16_t id, const std::vector<std::int32_t>& values);
};

struct MsgMessage;

struct MsgRecipient {
  std::vector<MsgProperty> properties;
};

struct MsgAttachment {
  std::vector<MsgProperty> properties;   // by value: PidTagAttachDataBinary among them
  std::shared_ptr<MsgMessage> embedded;  // set for an embedded message (method 5)
};

struct MsgMessage {
  std::vector<MsgProperty> properties;
  std::vector<MsgRecipient> recipients;
  std::vector<MsgAttachment> attachments;
};

// A named property; a property tag with id 0x8000 + i names entry i.
struct MsgNamedProperty {
  Guid guid{};
  std::optional<std::uint32_t> number;  // a numbered property (LID)...
  std::u16string name;                  // ...or a named one
};

// The whole file in memory. Named properties are shared by the top-level
// message and every embedded message, as in a real file.
core::Bytes writeMsg(const MsgMessage& message, const std::vector<MsgNamedProperty>& named = {});
void writeMsgFile(const std::filesystem::path& path, const MsgMessage& message,
                  const std::vector<MsgNamedProperty>& named = {});

// UTF-8 to UTF-16LE bytes, no terminator.
core::Bytes utf16le(const std::string& utf8);

// A simple test message: class IPM.Note, a subject, a plain body, one recipient
// per address and one attachment by value per (name, data) pair.
MsgMessage simpleMessage(const std::string& subject, const std::string& body,
                         const std::vector<std::string>& toAddresses = {},
                         const std::vector<std::pair<std::string, core::Bytes>>& attachments = {});

// Writes a compound file holding the given streams; a path's components are
// separated by '/'. Exposed for tests of broken files.
struct CfbEntry {
  std::string path;
  core::Bytes data;
  bool isStorage = false;
};
core::Bytes writeCompoundFile(const std::vector<CfbEntry>& entries);

}  // namespace parvane::testsupport
