// MAPI property types, as message files and stores both write them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parvane::core {

// Property types (PtypXxx / PT_xxx). A multi-valued type is the base type with
// the MultiValued bit set, e.g. 0x101F for several Unicode strings.
namespace ptype {
inline constexpr std::uint16_t Unspecified = 0x0000;
inline constexpr std::uint16_t Null = 0x0001;
inline constexpr std::uint16_t Int16 = 0x0002;
inline constexpr std::uint16_t Int32 = 0x0003;
inline constexpr std::uint16_t Float32 = 0x0004;
inline constexpr std::uint16_t Float64 = 0x0005;
inline constexpr std::uint16_t Currency = 0x0006;
inline constexpr std::uint16_t FloatingTime = 0x0007;
inline constexpr std::uint16_t ErrorCode = 0x000A;
inline constexpr std::uint16_t Boolean = 0x000B;
inline constexpr std::uint16_t Object = 0x000D;
inline constexpr std::uint16_t Int64 = 0x0014;
inline constexpr std::uint16_t String8 = 0x001E;
inline constexpr std::uint16_t Unicode = 0x001F;
inline constexpr std::uint16_t Time = 0x0040;
inline constexpr std::uint16_t Guid = 0x0048;
inline constexpr std::uint16_t ServerId = 0x00FB;
inline constexpr std::uint16_t Restriction = 0x00FD;
inline constexpr std::uint16_t RuleAction = 0x00FE;
inline constexpr std::uint16_t Binary = 0x0102;
inline constexpr std::uint16_t MultiValued = 0x1000;

// Size of one value of a fixed-size base type (also the item size of its
// multi-valued form), or 0 for variable-size types.
std::size_t fixedSize(std::uint16_t baseType);
// True for every type MAPI defines, single- or multi-valued.
bool isKnown(std::uint16_t type);
}  // namespace ptype

}  // namespace parvane::core
