// The vector byte loops give exactly what the plain loops give, at every
// length and alignment, including the tails shorter than a vector.
#include "engine/ndb/x86_accel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "engine/ndb/format.h"

namespace parvane::ndb {
namespace {

// Bit by bit, straight from the polynomial.
std::uint32_t referenceCrc(const std::uint8_t* p, std::size_t n, std::uint32_t crc) {
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

std::vector<std::size_t> lengths() {
  std::vector<std::size_t> out(300);
  std::iota(out.begin(), out.end(), std::size_t{0});
  for (std::size_t n : {1000u, 4096u, 8176u, 8192u + 15u}) out.push_back(n);
  return out;
}

TEST(AcceleratedCrc, MatchesTheBitwiseCrcAtEveryLengthAndAlignment) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> buffer(8192 + 64);
  for (auto& b : buffer) b = static_cast<std::uint8_t>(random());
  for (std::size_t offset : {0u, 1u, 3u, 8u}) {
    for (std::size_t n : lengths()) {
      const auto start = static_cast<std::uint32_t>(random());
      const std::uint8_t* p = buffer.data() + offset;
      ASSERT_EQ(computeCrc(ByteView(p, n), start), referenceCrc(p, n, start))
          << "offset " << offset << " length " << n;
    }
  }
  EXPECT_EQ(computeCrc(ByteView(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0xFFFFFFFFu) ^
                0xFFFFFFFFu,
            0xCBF43926u);  // the CRC-32 check value
}

TEST(AcceleratedPermute, MatchesTheTableLoopAtEveryLengthAndAlignmentInPlaceOrNot) {
  std::mt19937 random(11);
  std::vector<std::uint8_t> table(256);
  for (auto& b : table) b = static_cast<std::uint8_t>(random());
  std::vector<std::uint8_t> input(8192 + 64);
  for (auto& b : input) b = static_cast<std::uint8_t>(random());
  for (std::size_t offset : {0u, 1u, 5u}) {
    for (std::size_t n : lengths()) {
      std::vector<std::uint8_t> expected(n);
      for (std::size_t i = 0; i < n; ++i) expected[i] = table[input[offset + i]];
      // A guard byte after the output shows the tail is not overrun.
      std::vector<std::uint8_t> out(n + 1, 0xA5);
      if (!accel::permute(table.data(), input.data() + offset, out.data(), n)) {
        GTEST_SKIP() << "this processor has no byte-permute instructions";
      }
      ASSERT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)), expected)
          << "offset " << offset << " length " << n;
      ASSERT_EQ(out[n], 0xA5);
      std::vector<std::uint8_t> inPlace(input.begin() + static_cast<std::ptrdiff_t>(offset),
                                        input.begin() + static_cast<std::ptrdiff_t>(offset + n));
      accel::permute(table.data(), inPlace.data(), inPlace.data(), n);
      ASSERT_EQ(inPlace, expected);
    }
  }
}

TEST(AcceleratedPermute, EncodingRoundTripsAndBothEncodersAgree) {
  std::vector<std::uint8_t> all(1000);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  for (std::size_t n : {0u, 1u, 63u, 64u, 65u, 1000u}) {
    std::vector<std::uint8_t> data(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
    std::vector<std::uint8_t> into(n);
    encodeDataInto(CryptMethod::Permute, data, into.data(), 5);
    encodeData(CryptMethod::Permute, data, 5);
    EXPECT_EQ(data, into);
    if (n) {
      EXPECT_NE(data, std::vector<std::uint8_t>(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n)));
    }
    decodeData(CryptMethod::Permute, data, 5);
    EXPECT_EQ(data, std::vector<std::uint8_t>(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n)));
  }
}

}  // namespace
}  // namespace parvane::ndb
