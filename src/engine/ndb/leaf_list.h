// The leaf level of a B-tree as the store keeps it: a directory of sorted
// leaves of at most `Cap` entries, each remembering its first key, entry count
// and the page it was last written to. A leaf's entries are in memory only
// while it is in use: changing a leaf retires its page (collected in
// retired()) so that only changed leaves are written again at the next
// commit, and trim() drops the entries of leaves written since, which are read
// back from their page (through the loader) when they are needed again. So
// memory holds the changed leaves and the few in use, plus the directory:
// about 32 bytes per leaf, 2 bytes or less per entry. Not part of the public
// interface.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "engine/ndb/errors.h"
#include "engine/ndb/format.h"

namespace parvane::ndb {

template <class Entry, class Key, std::size_t Cap>
class LeafList {
 public:
  // Reads the entries of a written leaf page back.
  using Loader = std::function<void(const BREF& page, std::vector<Entry>& out)>;

  struct Leaf {
    Key first{};          // the first entry's key
    std::uint32_t count = 0;
    BREF page;            // bid 0: not written since its last change
    std::unique_ptr<std::vector<Entry>> items;  // null: only on its page
  };

  void setLoader(Loader loader) { loader_ = std::move(loader); }
  std::size_t size() const { return count_; }
  std::size_t leafCount() const { return leaves_.size(); }
  // Leaves whose entries are in memory.
  std::size_t loadedCount() const { return loaded_; }
  std::vector<Leaf>& leaves() { return leaves_; }
  std::vector<BREF>& retired() { return retired_; }

  // What changed since written(), so that writing the tree costs what
  // changed rather than its size: the positions of leaves changed in place
  // (each once), and the first position from which leaves were added,
  // removed or shifted (npos: none). Every leaf not yet on its page is among
  // them.
  static constexpr std::size_t npos = ~std::size_t{0};
  const std::vector<std::size_t>& changedInPlace() const { return changed_; }
  std::size_t firstMoved() const { return firstMoved_; }
  void written() {
    changed_.clear();
    firstMoved_ = npos;
  }

  // The entries of a leaf, read back from its page if needed.
  const std::vector<Entry>& entries(Leaf& leaf) { return load(leaf); }

  const Entry* find(Key k) {
    auto [li, pos] = locate(k);
    if (li == npos || pos == npos) return nullptr;
    return &(*leaves_[li].items)[pos];
  }
  // A mutable entry; the caller changes it, so its leaf is marked changed.
  Entry* modify(Key k) {
    auto [li, pos] = locate(k);
    if (li == npos || pos == npos) return nullptr;
    touch(leaves_[li]);
    return &(*leaves_[li].items)[pos];
  }
  // Inserts or replaces the entry with the same key.
  void put(const Entry& e) {
    Key k = e.key();
    if (leaves_.empty()) {
      leaves_.push_back(freshLeaf());
      moved(0);
    }
    std::size_t li = leafFor(k);
    // appending past a full last leaf: start a new one, leave that one as it is
    if (li + 1 == leaves_.size() && leaves_[li].count == Cap && load(leaves_[li]).back().key() < k) {
      Leaf fresh = freshLeaf();
      fresh.items->push_back(e);
      fresh.first = k;
      fresh.count = 1;
      leaves_.push_back(std::move(fresh));
      moved(leaves_.size() - 1);
      ++count_;
      return;
    }
    Leaf& leaf = leaves_[li];
    std::vector<Entry>& items = load(leaf);
    auto it = std::lower_bound(items.begin(), items.end(), k, [](const Entry& a, Key key) { return a.key() < key; });
    touch(leaf);
    if (it != items.end() && it->key() == k) {
      *it = e;
      return;
    }
    ++count_;
    items.insert(it, e);
    sync(leaf);
    if (items.size() > Cap) {
      Leaf right = freshLeaf();
      std::size_t half = items.size() / 2;
      right.items->assign(items.begin() + static_cast<std::ptrdiff_t>(half), items.end());
      items.resize(half);
      sync(leaf);
      sync(right);
      leaves_.insert(leaves_.begin() + static_cast<std::ptrdiff_t>(li + 1), std::move(right));
      moved(li + 1);
    }
  }
  bool erase(Key k) {
    auto [li, pos] = locate(k);
    if (li == npos || pos == npos) return false;
    Leaf& leaf = leaves_[li];
    touch(leaf);
    leaf.items->erase(leaf.items->begin() + static_cast<std::ptrdiff_t>(pos));
    --count_;
    if (leaf.items->empty()) {
      leaves_.erase(leaves_.begin() + static_cast<std::ptrdiff_t>(li));
      moved(li);
      --loaded_;
    } else {
      sync(leaf);
    }
    return true;
  }
  // Every entry in key order; leaves read back for this are not kept.
  template <class Fn>
  void forEach(Fn&& fn) {
    std::vector<Entry> scratch;
    for (auto& l : leaves_) {
      const std::vector<Entry>* items = l.items.get();
      if (!items) {
        scratch.clear();
        loader_(l.page, scratch);
        items = &scratch;
      }
      for (const auto& e : *items) fn(e);
    }
  }
  // Drops the entries of written leaves but the last one (where new keys go).
  void trim() {
    for (std::size_t i = 0; i + 1 < leaves_.size(); ++i)
      if (leaves_[i].page.bid != 0 && leaves_[i].items) {
        leaves_[i].items.reset();
        --loaded_;
      }
  }

 private:
  Leaf freshLeaf() {
    ++loaded_;
    Leaf l;
    l.items = std::make_unique<std::vector<Entry>>();
    l.items->reserve(Cap);
    return l;
  }
  std::vector<Entry>& load(Leaf& leaf) {
    if (!leaf.items) {
      auto items = std::make_unique<std::vector<Entry>>();
      items->reserve(Cap);
      loader_(leaf.page, *items);
      if (items->size() != leaf.count || items->empty() || items->front().key() != leaf.first)
        throw NdbError::field("B-tree leaf page " + hex(leaf.page.bid), "entries",
                              std::to_string(leaf.count) + " from key " + hex(static_cast<std::uint64_t>(leaf.first)),
                              std::to_string(items->size()));
      leaf.items = std::move(items);
      ++loaded_;
    }
    return *leaf.items;
  }
  static void sync(Leaf& leaf) {
    leaf.count = static_cast<std::uint32_t>(leaf.items->size());
    if (!leaf.items->empty()) leaf.first = leaf.items->front().key();
  }
  void touch(Leaf& leaf) {
    load(leaf);
    if (leaf.page.bid != 0) {
      retired_.push_back(leaf.page);
      changed_.push_back(static_cast<std::size_t>(&leaf - leaves_.data()));
    }
    leaf.page = BREF{};
  }
  void moved(std::size_t position) { firstMoved_ = std::min(firstMoved_, position); }
  std::size_t leafFor(Key k) const {
    // Ids only grow, so a new key, and most keys looked up soon after, fall
    // in the last leaf: no search for them among a big tree's leaves.
    if (!leaves_.empty() && !(k < leaves_.back().first)) return leaves_.size() - 1;
    auto it = std::upper_bound(leaves_.begin(), leaves_.end(), k, [](Key key, const Leaf& l) { return key < l.first; });
    return it == leaves_.begin() ? 0 : static_cast<std::size_t>(it - leaves_.begin()) - 1;
  }
  std::pair<std::size_t, std::size_t> locate(Key k) {
    if (leaves_.empty()) return {npos, npos};
    std::size_t li = leafFor(k);
    const auto& items = load(leaves_[li]);
    auto it = std::lower_bound(items.begin(), items.end(), k, [](const Entry& a, Key key) { return a.key() < key; });
    if (it == items.end() || it->key() != k) return {li, npos};
    return {li, static_cast<std::size_t>(it - items.begin())};
  }

  std::vector<Leaf> leaves_;
  std::vector<BREF> retired_;
  std::vector<std::size_t> changed_;
  std::size_t firstMoved_ = npos;
  std::size_t count_ = 0;
  std::size_t loaded_ = 0;  // leaves whose entries are in memory
  Loader loader_;
};

}  // namespace parvane::ndb
