// Vector versions of the two byte loops every data block goes through when it
// is written or read: the permutation encoding and the CRC. They are used
// only where the processor has the instructions, checked once at run time;
// elsewhere the plain loops run, and both give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parvane::ndb::accel {

// Writes table[from[i]] to to[i] for i < n (from and to may be the same
// buffer). False, having done nothing, when the processor lacks the
// instructions.
bool permute(const std::uint8_t* table, const std::uint8_t* from, std::uint8_t* to, std::size_t n);

// Folds a prefix of data[0, n) into the CRC register `crc` (the format's CRC:
// reflected polynomial 0xEDB88320, no inversions). Returns how many bytes it
// consumed: a multiple of 16, or 0 when n < 64 or the processor lacks the
// instructions; the caller goes on with the rest.
std::size_t crcFold(const std::uint8_t* data, std::size_t n, std::uint32_t& crc);

}  // namespace parvane::ndb::accel
