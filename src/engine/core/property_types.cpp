#include "engine/core/property_types.h"

namespace parvane::core::ptype {

std::size_t fixedSize(std::uint16_t t) {
  switch (t) {
    case Int16: return 2;
    case Int32: case Float32: case ErrorCode: return 4;
    case Float64: case Currency: case FloatingTime: case Int64: case Time: return 8;
    case Boolean: return 2;
    case Guid: return 16;
    default: return 0;
  }
}

bool isKnown(std::uint16_t t) {
  const std::uint16_t base = static_cast<std::uint16_t>(t & ~MultiValued);
  const bool mv = (t & MultiValued) != 0;
  switch (base) {
    case Int16: case Int32: case Float32: case Float64: case Currency: case FloatingTime:
    case Int64: case String8: case Unicode: case Time: case Guid: case Binary:
      return true;
    case Unspecified: case Null: case ErrorCode: case Boolean: case Object:
    case ServerId: case Restriction: case RuleAction:
      return !mv;
    default:
      return false;
  }
}

}  // namespace parvane::core::ptype
