#include "conversion/path_list.h"

#include <limits>
#include <stdexcept>

namespace parvane::conversion {

PathList::PathList(std::initializer_list<std::string_view> paths) {
  for (const std::string_view path : paths) append(path);
}

PathList::PathList(const PathList& other)
    : entries_(other.entries_), names_(other.names_), folders_(other.folders_) {
  folderIndex_.reserve(folders_.size());
  for (std::size_t k = 0; k < folders_.size(); ++k) {
    folderIndex_.emplace(folders_[k], static_cast<std::uint32_t>(k));
  }
}

PathList& PathList::operator=(const PathList& other) {
  if (this != &other) *this = PathList(other);
  return *this;
}

void PathList::append(std::string_view path) {
  const std::size_t cut = path.find_last_of("/\\");
  const std::size_t nameStart = cut == std::string_view::npos ? 0 : cut + 1;
  const std::string_view name = path.substr(nameStart);
  if (name.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("a listed file's name is too long");
  }
  Entry entry;
  entry.folder = folderIndex(path.substr(0, nameStart));
  entry.nameLength = static_cast<std::uint32_t>(name.size());
  entry.nameAt = names_.size();
  names_.append(name);
  entries_.push_back(entry);
}

std::uint32_t PathList::folderIndex(std::string_view text) {
  if (const auto found = folderIndex_.find(text); found != folderIndex_.end()) return found->second;
  if (folders_.size() >= std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("too many folders in the list of files");
  }
  const auto index = static_cast<std::uint32_t>(folders_.size());
  folders_.emplace_back(text);
  folderIndex_.emplace(folders_.back(), index);
  return index;
}

void PathList::reserve(std::size_t paths, std::size_t nameChars) {
  entries_.reserve(entries_.size() + paths);
  names_.reserve(names_.size() + nameChars);
}

std::string PathList::path(std::size_t i) const {
  const std::string_view folderPart = folder(i), namePart = name(i);
  std::string whole;
  whole.reserve(folderPart.size() + namePart.size());
  whole.append(folderPart).append(namePart);
  return whole;
}

bool PathList::is(std::size_t i, std::string_view text) const {
  const std::string_view folderPart = folder(i);
  return text.size() == folderPart.size() + entries_[i].nameLength &&
         text.substr(0, folderPart.size()) == folderPart && text.substr(folderPart.size()) == name(i);
}

namespace {

// FNV-1a, 64 bits: it reads a text in pieces as it reads it whole.
constexpr std::uint64_t kHashStart = 14695981039346656037ull;
std::uint64_t hashOn(std::uint64_t hash, std::string_view text) {
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

}  // namespace

std::size_t PathList::hashOf(std::size_t i) const {
  return static_cast<std::size_t>(hashOn(hashOn(kHashStart, folder(i)), name(i)));
}

std::size_t PathList::hashOf(std::string_view path) {
  return static_cast<std::size_t>(hashOn(kHashStart, path));
}

bool PathList::operator==(const PathList& other) const {
  if (size() != other.size()) return false;
  for (std::size_t i = 0; i < size(); ++i) {
    if (folder(i) != other.folder(i) || name(i) != other.name(i)) return false;
  }
  return true;
}

}  // namespace parvane::conversion
