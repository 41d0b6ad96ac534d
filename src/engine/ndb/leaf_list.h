// The in-memory image of a B-tree's leaf level: sorted leaves of at most `Cap`
// entries, each remembering the page it was last written to. Changing a leaf
// retires that page (collected in retired()) so that only changed leaves are
// written again at the next commit. Not part of the public interface.
#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include "engine/ndb/format.h"

namespace parvane::ndb {

template <class Entry, class Key, std::size_t Cap>
class LeafList {
 public:
  struct Leaf {
    std::vector<Entry> items;
    BREF page;  // bid 0: not written since its last change
  };

  std::size_t size() const { return count_; }
  const std::vector<std::unique_ptr<Leaf>>& leaves() const { return leaves_; }
  std::vector<std::unique_ptr<Leaf>>& leaves() { return leaves_; }
  std::vector<BREF>& retired() { return retired_; }

  const Entry* find(Key k) const {
    auto [li, pos] = locate(k);
    if (li == npos || pos == npos) return nullptr;
    return &leaves_[li]->items[pos];
  }
  // A mutable entry; the caller changes it, so its leaf is marked changed.
  Entry* modify(Key k) {
    auto [li, pos] = locate(k);
    if (li == npos || pos == npos) return nullptr;
    touch(*leaves_[li]);
    return &leaves_[li]->items[pos];
  }
  // Inserts or replaces the entry with the same key.
  void put(const Entry& e) {
    Key k = e.key();
    if (leaves_.empty()) {
      leaves_.push_back(std::make_unique<Leaf>());
      leaves_.back()->items.reserve(Cap);
    }
    std::size_t li = leafFor(k);
    Leaf& leaf = *leaves_[li];
    auto it = std::lower_bound(leaf.items.begin(), leaf.items.end(), k,
                               [](const Entry& a, Key key) { return a.key() < key; });
    if (it != leaf.items.end() && it->key() == k) {
      touch(leaf);
      *it = e;
      return;
    }
    ++count_;
    if (it == leaf.items.end() && li + 1 == leaves_.size() && leaf.items.size() == Cap) {
      // appending past a full last leaf: start a new one, leave this one full
      auto fresh = std::make_unique<Leaf>();
      fresh->items.reserve(Cap);
      fresh->items.push_back(e);
      leaves_.push_back(std::move(fresh));
      return;
    }
    touch(leaf);
    leaf.items.insert(it, e);
    if (leaf.items.size() > Cap) {
      auto right = std::make_unique<Leaf>();
      std::size_t half = leaf.items.size() / 2;
      right->items.assign(leaf.items.begin() + static_cast<std::ptrdiff_t>(half), leaf.items.end());
      leaf.items.resize(half);
      leaves_.insert(leaves_.begin() + static_cast<std::ptrdiff_t>(li + 1), std::move(right));
    }
  }
  bool erase(Key k) {
    auto [li, pos] = locate(k);
    if (li == npos || pos == npos) return false;
    Leaf& leaf = *leaves_[li];
    touch(leaf);
    leaf.items.erase(leaf.items.begin() + static_cast<std::ptrdiff_t>(pos));
    --count_;
    if (leaf.items.empty()) leaves_.erase(leaves_.begin() + static_cast<std::ptrdiff_t>(li));
    return true;
  }
  template <class Fn>
  void forEach(Fn&& fn) const {
    for (const auto& l : leaves_)
      for (const auto& e : l->items) fn(e);
  }

 private:
  static constexpr std::size_t npos = ~std::size_t{0};
  void touch(Leaf& leaf) {
    if (leaf.page.bid != 0) retired_.push_back(leaf.page);
    leaf.page = BREF{};
  }
  std::size_t leafFor(Key k) const {
    auto it = std::upper_bound(leaves_.begin(), leaves_.end(), k,
                               [](Key key, const std::unique_ptr<Leaf>& l) { return key < l->items.front().key(); });
    return it == leaves_.begin() ? 0 : static_cast<std::size_t>(it - leaves_.begin()) - 1;
  }
  std::pair<std::size_t, std::size_t> locate(Key k) const {
    if (leaves_.empty()) return {npos, npos};
    std::size_t li = leafFor(k);
    const auto& items = leaves_[li]->items;
    auto it = std::lower_bound(items.begin(), items.end(), k,
                               [](const Entry& a, Key key) { return a.key() < key; });
    if (it == items.end() || it->key() != k) return {li, npos};
    return {li, static_cast<std::size_t>(it - items.begin())};
  }

  std::vector<std::unique_ptr<Leaf>> leaves_;
  std::vector<BREF> retired_;
  std::size_t count_ = 0;
};

}  // namespace parvane::ndb
