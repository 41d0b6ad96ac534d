// An ordered list of values addressed by position (from 1, in the order of
// adding) or by a unique text key. Adding under a key already present fails.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/ui.h"

namespace parvane::filelist {

template <class T>
class KeyedCollection {
 public:
  static constexpr std::int32_t kInvalidArgument = 5;
  static constexpr std::int32_t kDuplicateKey = 457;

  // Appends `value` under `key`; raises PlatformError(457) when the key is taken.
  void Add(T value, const std::string& key) {
    if (!byKey_.try_emplace(key, values_.size()).second) {
      throw platform::PlatformError(kDuplicateKey,
                                    "This key is already associated with an element of this collection");
    }
    values_.push_back(std::move(value));
  }

  // Hands the values over in the order of adding and leaves the collection
  // empty, every key free again.
  std::vector<T> TakeValues() {
    byKey_.clear();
    return std::exchange(values_, {});
  }

  std::int32_t Count() const { return static_cast<std::int32_t>(values_.size()); }

  // The value at `position`, counted from 1; raises PlatformError(5) out of range.
  const T& Item(std::int32_t position) const {
    if (position < 1 || position > Count()) {
      throw platform::PlatformError(kInvalidArgument, "Invalid procedure call or argument");
    }
    return values_[static_cast<std::size_t>(position - 1)];
  }

  // The value under `key`; raises PlatformError(5) when there is none.
  const T& Item(const std::string& key) const {
    auto it = byKey_.find(key);
    if (it == byKey_.end()) {
      throw platform::PlatformError(kInvalidArgument, "Invalid procedure call or argument");
    }
    return values_[it->second];
  }

  bool Contains(const std::string& key) const { return byKey_.count(key) != 0; }

  // The values in the order of adding.
  const std::vector<T>& Values() const { return values_; }
  auto begin() const { return values_.begin(); }
  auto end() const { return values_.end(); }

 private:
  std::vector<T> values_;
  std::unordered_map<std::string, std::size_t> byKey_;
};

}  // namespace parvane::filelist
