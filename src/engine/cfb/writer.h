// Builds compound files: a tree of storages and streams written as one image.
// Used to write an OLE attachment's storage as a file of its own, and by tests
// and benchmarks to make files with exactly the structures they need.
//
//   cfb::Writer w;
//   auto s = w.addStorage(w.root(), u"__attach_version1.0_#00000000");
//   w.addStream(s, u"__substg1.0_3001001F", bytes);
//   core::Bytes image = w.finish();
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/coding.h"

namespace parvane::cfb {

class Writer {
 public:
  // majorVersion 3 (512-byte sectors) or 4 (4096-byte sectors).
  explicit Writer(std::uint16_t majorVersion = 3);

  std::uint32_t root() const { return 0; }
  std::uint32_t addStorage(std::uint32_t parent, std::u16string name);
  std::uint32_t addStream(std::uint32_t parent, std::u16string name, core::Bytes data);
  void setClsid(std::uint32_t node, const std::array<std::uint8_t, 16>& clsid);
  void setStateBits(std::uint32_t node, std::uint32_t bits);

  // The complete file image.
  core::Bytes finish() const;

 private:
  struct Node {
    std::u16string name;
    bool storage = false;
    std::array<std::uint8_t, 16> clsid{};
    std::uint32_t stateBits = 0;
    core::Bytes data;
    std::vector<std::uint32_t> children;
  };
  std::uint32_t add(std::uint32_t parent, std::u16string name, bool storage, core::Bytes data);
  std::uint16_t major_;
  std::uint32_t sectorSize_;
  std::vector<Node> nodes_;
};

}  // namespace parvane::cfb
