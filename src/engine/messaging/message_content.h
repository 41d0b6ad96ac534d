// A message as the store keeps it: the properties of the message, of each
// recipient and of each attachment, with embedded messages to any depth.
// Built from a message file by the import layer; finish() then computes what
// the store owns (flags, sizes, display lists, the subject marker) from the
// content.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "engine/messaging/named_property_map.h"
#include "engine/messaging/property_value.h"

namespace parvane::messaging {

struct StoreMessage;

struct StoreAttachment {
  PropertyList properties;
  std::unique_ptr<StoreMessage> embedded;  // attach method 5
  // An OLE storage (attach method 6), kept as the object's data.
  std::shared_ptr<const core::ByteSource> oleData;
};

struct StoreMessage {
  PropertyList properties;
  std::vector<PropertyList> recipients;
  std::vector<StoreAttachment> attachments;
};

namespace tags {
inline constexpr std::uint16_t Importance = 0x0017;
inline constexpr std::uint16_t MessageClass = 0x001A;
inline constexpr std::uint16_t Subject = 0x0037;
inline constexpr std::uint16_t SubjectPrefix = 0x003D;
inline constexpr std::uint16_t ConversationTopic = 0x0070;
inline constexpr std::uint16_t RecipientType = 0x0C15;
inline constexpr std::uint16_t DisplayBcc = 0x0E02;
inline constexpr std::uint16_t DisplayCc = 0x0E03;
inline constexpr std::uint16_t DisplayTo = 0x0E04;
inline constexpr std::uint16_t MessageFlags = 0x0E07;
inline constexpr std::uint16_t MessageSize = 0x0E08;
inline constexpr std::uint16_t MessageStatus = 0x0E17;
inline constexpr std::uint16_t HasAttachments = 0x0E1B;
inline constexpr std::uint16_t AttachSize = 0x0E20;
inline constexpr std::uint16_t AttachNumber = 0x0E21;
inline constexpr std::uint16_t ObjectType = 0x0FFE;
inline constexpr std::uint16_t Body = 0x1000;
inline constexpr std::uint16_t DisplayName = 0x3001;
inline constexpr std::uint16_t EmailAddress = 0x3003;
inline constexpr std::uint16_t CreationTime = 0x3007;
inline constexpr std::uint16_t LastModificationTime = 0x3008;
inline constexpr std::uint16_t SearchKey = 0x300B;
inline constexpr std::uint16_t AttachData = 0x3701;
inline constexpr std::uint16_t AttachFilename = 0x3704;
inline constexpr std::uint16_t AttachMethod = 0x3705;
inline constexpr std::uint16_t AttachLongFilename = 0x3707;
inline constexpr std::uint16_t RenderingPosition = 0x370B;
inline constexpr std::uint16_t DisplayType = 0x3900;
inline constexpr std::uint16_t LtpRowId = 0x67F2;
inline constexpr std::uint16_t LtpRowVer = 0x67F3;
}  // namespace tags

inline constexpr std::uint32_t kMsgFlagRead = 0x01;
inline constexpr std::uint32_t kMsgFlagHasAttach = 0x10;

// True for the properties a store computes and never copies from a source.
bool isComputedByStore(std::uint16_t id);

// Records the size of what an attachment's object holds (an embedded
// message's PidTagMessageSize, an OLE storage's bytes) and recomputes
// PidTagAttachSize from it.
void recordObjectSize(StoreAttachment& attachment, std::uint64_t size);

// A message with nothing but a class, as a new item that was never filled.
StoreMessage emptyMessage();

// Computes what the store owns, embedded messages first: PidTagMessageFlags
// (`flags` when given, else the source's, with MSGFLAG_HASATTACH from the real
// attachments), PidTagHasAttachments, the display lists from the recipients,
// the subject marker, defaults for required properties, PidTagAttachSize (the
// sum of the attachment's property sizes) and a first PidTagMessageSize (the
// sum of the message's property sizes; a store replaces it with the bytes the
// message takes in its file), and each embedded message's object size. A
// message without a search key gets one from `random`.
using RandomSource = std::function<std::uint64_t()>;
void finish(StoreMessage& message, std::optional<std::uint32_t> flags, std::uint64_t now,
            const RandomSource& random);

}  // namespace parvane::messaging
