// Node and block identifiers of the node database.
#pragma once

#include <cstdint>

namespace parvane::ndb {

// A node identifier: 5 bits of type, 27 bits of index.
using Nid = std::uint32_t;
// A block or page identifier. For blocks the lowest bit is reserved (always 0)
// and bit 1 marks an internal block (XBLOCK, XXBLOCK, SLBLOCK, SIBLOCK).
using Bid = std::uint64_t;

enum class NidType : std::uint8_t {
  Hid = 0x00,
  Internal = 0x01,
  NormalFolder = 0x02,
  SearchFolder = 0x03,
  NormalMessage = 0x04,
  Attachment = 0x05,
  SearchUpdateQueue = 0x06,
  SearchCriteriaObject = 0x07,
  AssocMessage = 0x08,
  ContentsTableIndex = 0x0A,
  ReceiveFolderTable = 0x0B,
  OutgoingQueueTable = 0x0C,
  HierarchyTable = 0x0D,
  ContentsTable = 0x0E,
  AssocContentsTable = 0x0F,
  SearchContentsTable = 0x10,
  AttachmentTable = 0x11,
  RecipientTable = 0x12,
  SearchTableIndex = 0x13,
  Ltp = 0x1F,
};

constexpr Nid makeNid(NidType type, std::uint32_t index) {
  return (index << 5) | static_cast<std::uint32_t>(type);
}
constexpr NidType nidType(Nid nid) { return static_cast<NidType>(nid & 0x1F); }
constexpr std::uint32_t nidIndex(Nid nid) { return nid >> 5; }

constexpr bool isInternalBid(Bid bid) { return (bid & 2) != 0; }

}  // namespace parvane::ndb
