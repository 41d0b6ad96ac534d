// The listed files of a run, held compactly: a list of a million paths must
// not cost a million strings. The files of one folder share their folder's
// text, so each distinct folder part is kept once and each path costs only
// its name's characters and a 16-byte entry.
//
// A path is split after its last "/" or "\" (whichever comes later) into a
// folder part, separator included, and a name; a path without either has an
// empty folder part. Both parts joined give back the path exactly, whatever
// the platform, so the split needs no knowledge of how paths are written.
//
// Per distinct folder part: its text, held once, and one entry in a hash map
// from that text to its index while paths are appended (about 100 bytes plus
// the text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace parvane::conversion {

class PathList {
 public:
  PathList() = default;
  PathList(std::initializer_list<std::string_view> paths);
  // Copies hold their own folder texts: the map's keys view into them.
  PathList(const PathList& other);
  PathList& operator=(const PathList& other);
  PathList(PathList&&) noexcept = default;
  PathList& operator=(PathList&&) noexcept = default;

  void append(std::string_view path);
  // Room for `paths` more entries, with names of about `nameChars` characters
  // in all.
  void reserve(std::size_t paths, std::size_t nameChars = 0);
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // Path `i` (i < size()) as it was appended.
  std::string path(std::size_t i) const;
  // Its folder part, closing separator included (empty when it has none), and
  // its name: the two views stay valid until the list is changed.
  std::string_view folder(std::size_t i) const { return folders_[entries_[i].folder]; }
  std::string_view name(std::size_t i) const {
    return std::string_view(names_).substr(entries_[i].nameAt, entries_[i].nameLength);
  }
  // Whether path `i` is `text`, without building it.
  bool is(std::size_t i, std::string_view text) const;
  // A hash of path `i`, the same as hashOf() gives for its whole text, so
  // that a set of positions in the list can be searched with a path.
  std::size_t hashOf(std::size_t i) const;
  static std::size_t hashOf(std::string_view path);
  // How many distinct folder parts the paths have.
  std::size_t folderCount() const { return folders_.size(); }

  bool operator==(const PathList& other) const;

 private:
  struct Entry {
    std::uint32_t folder = 0;
    std::uint32_t nameLength = 0;
    std::uint64_t nameAt = 0;
  };
  std::uint32_t folderIndex(std::string_view text);

  std::vector<Entry> entries_;
  std::string names_;  // every name, one after another
  // Each folder part once; a deque, so that the map's views into the texts
  // stay valid as it grows.
  std::deque<std::string> folders_;
  std::unordered_map<std::string_view, std::uint32_t> folderIndex_;
};

}  // namespace parvane::conversion
