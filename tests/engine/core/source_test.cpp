// Byte sources: exact ranges, and a clear error past the end.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/core/source.h"

using namespace parvane;

namespace {

core::Bytes pattern(std::size_t n) {
  core::Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return b;
}

}  // namespace

TEST(FileSource, ReadsRangesAndRefusesThePastEnd) {
  const auto path = std::filesystem::temp_directory_path() / "parvane_cfb_source_test.bin";
  {
    std::ofstream out(path, std::ios::binary);
    const auto data = pattern(3000);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  core::FileSource f(path);
  EXPECT_EQ(f.size(), 3000u);
  const auto data = pattern(3000);
  EXPECT_EQ(f.read(1000, 500), core::Bytes(data.begin() + 1000, data.begin() + 1500));
  EXPECT_THROW((void)f.read(2900, 101), core::TruncatedError);
  std::filesystem::remove(path);
  EXPECT_THROW(core::FileSource gone(path), core::IoError);
}

TEST(MemorySource, RangesAreCheckedAgainstTheSize) {
  const auto data = pattern(10);
  core::MemorySource m(data);
  core::Bytes out(4);
  m.readAt(6, out);
  EXPECT_EQ(out, core::Bytes(data.begin() + 6, data.end()));
  EXPECT_THROW(m.readAt(7, out), core::TruncatedError);
  EXPECT_THROW(m.readAt(UINT64_MAX - 1, out), core::TruncatedError);  // no wrap-around
  core::Bytes none;
  m.readAt(10, none);  // an empty read at the end is fine
  const auto keep = pattern(5);
  core::ViewSource v(keep);
  EXPECT_EQ(v.readAll(), keep);
  EXPECT_THROW(v.readAt(3, out), core::TruncatedError);
}
