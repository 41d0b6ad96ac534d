// Every node of a new, empty store as Outlook creates it: the message store, the
// name-to-id map, the folders with their tables, the table templates and the
// internal search nodes. Plain data, independent of how nodes are written; the
// store builder turns it into nodes and replaces the values that belong to one
// store (record key, display name, entry identifiers).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/core/coding.h"

namespace parvane::messaging::store_template {

// A property or table cell: the tag and the value's bytes as stored (fixed
// types little-endian at their size, strings UTF-16LE without a terminator).
struct TemplateProperty {
  std::uint32_t tag;
  core::ByteView value;
};

// A table column as a table context describes it.
struct ColumnDescriptor {
  std::uint32_t tag;
  std::uint16_t ibData;
  std::uint8_t cbData;
  std::uint8_t iBit;
};

struct TemplateRow {
  std::uint32_t rowId;
  std::span<const TemplateProperty> cells;
};

enum class NodeKind {
  PropertyContext,  // properties
  TableContext,     // columns and rows
  NameToIdMap,      // built from nameGuids() and namedEntries()
  Raw,              // bytes kept as they are (search nodes Outlook does not document)
};

struct TemplateNode {
  std::uint32_t nid;
  std::uint32_t parentNid;
  NodeKind kind;
  std::span<const TemplateProperty> properties;
  std::span<const ColumnDescriptor> columns;
  std::span<const TemplateRow> rows;
  core::ByteView raw;
};

// A pre-filled entry of the name-to-id map: guidIndex 1 is PS_MAPI, 2
// PS_PUBLIC_STRINGS, 3 and up nameGuids()[guidIndex - 3]; a named entry has a
// name, a numbered one a number.
struct NamedEntry {
  std::uint16_t guidIndex;
  std::uint32_t number;
  const char16_t* name;
};

std::span<const TemplateNode> nodes();
std::span<const std::array<std::uint8_t, 16>> nameGuids();
std::span<const NamedEntry> namedEntries();

}  // namespace parvane::messaging::store_template
