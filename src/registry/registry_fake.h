#pragma once
// An in-memory registry for tests: keys with values, change notifications
// that fire when a key's values change (or on demand), and failures to order.
// Key paths and value names match regardless of ASCII case, as they do in
// the real registry. Safe from any thread. Tests only.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "registry/registry.h"
#include "testsupport/utf16le_bytes.h"
#include "text/text.h"

namespace tarnwick::testing {

// `text` as the registry stores a REG_SZ: UTF-16LE with its terminating 0.
inline std::string registry_text_bytes(std::string_view text) {
  return utf16le_bytes(utf8_to_utf16(text)) + std::string(2, '\0');
}

inline std::string registry_u32_bytes(uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}

class FakeRegistry final : public RegistryReader, public RegistryWriter {
 public:
  using Values = std::vector<std::pair<std::string, std::string>>;  // name, raw bytes

  // ---- arranging ----

  // Creates the key and its missing parents. Changes no values, so no watch fires.
  void create_key(Hive hive, std::string_view path) {
    std::lock_guard lock(mutex_);
    create_locked(hive, path);
  }

  // Sets the values (raw bytes) in one change of the key, creating it when missing.
  void set_values(Hive hive, std::string_view path, const Values& values) {
    std::lock_guard lock(mutex_);
    Key& key = create_locked(hive, path);
    for (const auto& [name, bytes] : values) put_locked(key, name, bytes);
    changed_locked(id(hive, path));
  }
  void set_value(Hive hive, std::string_view path, const std::string& name,
                 const std::string& bytes) {
    set_values(hive, path, {{name, bytes}});
  }
  void set_text(Hive hive, std::string_view path, const std::string& name, std::string_view text) {
    set_value(hive, path, name, registry_text_bytes(text));
  }
  void set_u32(Hive hive, std::string_view path, const std::string& name, uint32_t v) {
    set_value(hive, path, name, registry_u32_bytes(v));
  }

  void delete_value(Hive hive, std::string_view path, const std::string& name) {
    std::lock_guard lock(mutex_);
    auto it = keys_.find(id(hive, path));
    if (it == keys_.end()) return;
    if (auto v = find_value(it->second, name); v != it->second.values.end())
      it->second.values.erase(v);
    changed_locked(it->first);
  }

  // Removes the key with its subkeys; a watch on any of them fires.
  void delete_key(Hive hive, std::string_view path) {
    std::lock_guard lock(mutex_);
    const std::string base = id(hive, path);
    for (auto it = keys_.begin(); it != keys_.end();) {
      if (it->first == base || it->first.starts_with(base + "\\")) {
        changed_locked(it->first);
        it = keys_.erase(it);
      } else {
        ++it;
      }
    }
  }

  // Fires the watches on the key as a value change would.
  void fire_change(Hive hive, std::string_view path) {
    std::lock_guard lock(mutex_);
    changed_locked(id(hive, path));
  }

  // ---- failures ----

  // Every open of the key fails while set: listings are empty, reads give nothing, arming fails.
  void fail_open(Hive hive, std::string_view path, bool fail = true) {
    std::lock_guard lock(mutex_);
    if (fail) {
      fail_open_.insert(id(hive, path));
    } else {
      fail_open_.erase(id(hive, path));
    }
  }

  // Every walk over the key's values or subkeys breaks at `index` with an
  // error other than "no more items", so no listing of it is complete.
  void fail_enumeration_at(Hive hive, std::string_view path, size_t index) {
    std::lock_guard lock(mutex_);
    fail_enumeration_at_[id(hive, path)] = index;
  }

  // The next `walks` walks over the key (values or subkeys) race a writer
  // that creates a name while they run: they skip the first name and see the
  // count grow. kListingTries of them in a row make one listing fail.
  void disturb_walks(Hive hive, std::string_view path, size_t walks) {
    std::lock_guard lock(mutex_);
    disturbed_walks_[id(hive, path)] = walks;
  }

  // write_u32() on the key is refused (as without the right to set values),
  // while reading it still works.
  void fail_writes(Hive hive, std::string_view path, bool fail = true) {
    std::lock_guard lock(mutex_);
    if (fail) {
      fail_write_.insert(id(hive, path));
    } else {
      fail_write_.erase(id(hive, path));
    }
  }

  // watch_values() gives null, as when its wait object cannot be created.
  void fail_watch_creation(bool fail = true) {
    std::lock_guard lock(mutex_);
    fail_watch_creation_ = fail;
  }

  // Runs `action` once, right after the next listing of the key's values, on
  // the listing thread: a change landing between a read and what follows it.
  void after_next_value_listing(Hive hive, std::string_view path, std::function<void()> action) {
    std::lock_guard lock(mutex_);
    after_listing_[id(hive, path)] = std::move(action);
  }

  // ---- observing ----

  // One write_u32() call, whether it succeeded or not.
  struct Write {
    std::string key;  // hive text, '\', path as given
    std::string value;
    uint32_t data = 0;
    bool succeeded = false;
    bool operator==(const Write&) const = default;
  };
  std::vector<Write> writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
  }

  // Keys held open by change watches right now, over all keys.
  size_t open_watch_keys() const {
    std::lock_guard lock(mutex_);
    return open_watch_keys_;
  }
  bool await_open_watch_keys(size_t n) const {
    return await([&] { return open_watch_keys_ == n; });
  }

  size_t arms(Hive hive, std::string_view path) const { return count(arms_, hive, path); }
  size_t refused_arms(Hive hive, std::string_view path) const {
    return count(refused_arms_, hive, path);
  }

  // Waits until the key has been armed at least `n` times; false after 10 s.
  bool await_arms(Hive hive, std::string_view path, size_t n) const {
    return await([&] { return arms_locked(arms_, hive, path) >= n; });
  }
  bool await_refused_arms(Hive hive, std::string_view path, size_t n) const {
    return await([&] { return arms_locked(refused_arms_, hive, path) >= n; });
  }

  // ---- RegistryWriter ----

  bool write_u32(Hive hive, std::string_view path, std::string_view name, uint32_t data) override {
    std::lock_guard lock(mutex_);
    const std::string key_id = id(hive, path);
    auto it = keys_.find(key_id);
    const bool ok =
        fail_open_.count(key_id) == 0 && fail_write_.count(key_id) == 0 && it != keys_.end();
    writes_.push_back(
        {std::string(hive_text(hive)) + "\\" + std::string(path), std::string(name), data, ok});
    if (!ok) return false;
    put_locked(it->second, std::string(name), registry_u32_bytes(data));
    changed_locked(key_id);
    return true;
  }

  // ---- RegistryReader ----

  std::optional<NameSet> value_names(Hive hive, std::string_view path) const override {
    std::optional<NameSet> names;
    std::function<void()> after;
    {
      std::lock_guard lock(mutex_);
      const std::string key_id = id(hive, path);
      if (auto it = after_listing_.find(key_id); it != after_listing_.end()) {
        after = std::move(it->second);
        after_listing_.erase(it);
      }
      names = list_locked(key_id, [](const Key& key) {
        std::vector<std::string> all;
        for (const auto& value : key.values) all.push_back(value.first);
        return all;
      });
    }
    if (after) after();
    return names;
  }

  std::optional<NameSet> subkey_names(Hive hive, std::string_view path) const override {
    std::lock_guard lock(mutex_);
    const std::string key_id = id(hive, path);
    // An empty path is the hive's root, which always opens.
    const std::string prefix = path.empty() ? key_id : key_id + "\\";
    const auto children = [&](const Key&) {
      std::vector<std::string> all;
      for (auto it = keys_.lower_bound(prefix);
           it != keys_.end() && it->first.starts_with(prefix); ++it) {
        if (it->first.find('\\', prefix.size()) != std::string::npos) continue;
        const std::string& path_as_made = it->second.path;
        all.push_back(path_as_made.substr(path_as_made.rfind('\\') + 1));
      }
      return all;
    };
    if (path.empty()) {
      static const Key root{};
      return list_locked(key_id, children, &root);
    }
    return list_locked(key_id, children);
  }

  std::optional<std::string> read_text(Hive hive, std::string_view path,
                                       std::string_view name) const override {
    const auto bytes = raw(hive, path, name);
    if (!bytes || bytes->empty() || bytes->size() > kMaxTextValueBytes) return std::nullopt;
    return utf16le_text(*bytes);
  }

  std::optional<uint32_t> read_u32(Hive hive, std::string_view path,
                                   std::string_view name) const override {
    const auto bytes = raw(hive, path, name);
    if (!bytes || bytes->size() != 4) return std::nullopt;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes->data());
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  }

  std::unique_ptr<ValueChangeWatch> watch_values(Hive hive, std::string_view path) override {
    std::lock_guard lock(mutex_);
    if (fail_watch_creation_) return nullptr;
    return std::make_unique<Watch>(*this, id(hive, path));
  }

 private:
  struct Key {
    std::string path;  // as first created, for subkey names
    Values values;
  };

  class Watch final : public ValueChangeWatch {
   public:
    Watch(FakeRegistry& registry, std::string key_id) : r_(registry), id_(std::move(key_id)) {}
    ~Watch() override { close(); }

    bool arm() override {
      std::lock_guard lock(r_.mutex_);
      set_armed(false);
      if (r_.open_locked(id_) == nullptr) {
        ++r_.refused_arms_[id_];
      } else {
        set_armed(true);
        armed_at_ = r_.generation_[id_];
        ++r_.arms_[id_];
      }
      r_.cv_.notify_all();
      return armed_;
    }

    Wait wait(const EngineFlags& flags) override {
      std::unique_lock lock(r_.mutex_);
      for (;;) {
        if (flags.stopping()) {
          set_armed(false);
          return Wait::Stopped;
        }
        if (!armed_) return Wait::Failed;
        if (r_.generation_[id_] != armed_at_) return Wait::Changed;
        r_.cv_.wait_for(lock, std::chrono::milliseconds(2));
      }
    }

    void close() override {
      std::lock_guard lock(r_.mutex_);
      set_armed(false);
    }

   private:
    // An armed watch holds its key open, as the real one does.
    void set_armed(bool armed) {
      if (armed != armed_) {
        r_.open_watch_keys_ += armed ? 1 : size_t(-1);
        r_.cv_.notify_all();
      }
      armed_ = armed;
    }

    FakeRegistry& r_;
    std::string id_;
    bool armed_ = false;
    uint64_t armed_at_ = 0;
  };

  static std::string id(Hive hive, std::string_view path) {
    return std::string(hive_text(hive)) + "\\" + ascii_lower(path);
  }

  // Value names compare without regard to ASCII case, as the registry's do.
  template <typename K>
  static auto find_value(K& key, std::string_view name) -> decltype(key.values.begin()) {
    const std::string lower = ascii_lower(name);
    return std::find_if(key.values.begin(), key.values.end(),
                        [&](const auto& v) { return ascii_lower(v.first) == lower; });
  }

  static void put_locked(Key& key, const std::string& name, const std::string& bytes) {
    if (auto it = find_value(key, name); it != key.values.end()) {
      it->second = bytes;
    } else {
      key.values.emplace_back(name, bytes);
    }
  }

  Key& create_locked(Hive hive, std::string_view path) {
    Key* made = nullptr;
    for (size_t end = 0; end != std::string_view::npos;) {
      end = path.find('\\', end + 1);
      const std::string_view part = path.substr(0, end);
      Key& key = keys_[id(hive, part)];
      if (key.path.empty()) key.path = std::string(part);
      made = &key;
    }
    return *made;
  }

  const Key* open_locked(const std::string& key_id) const {
    if (fail_open_.count(key_id) != 0) return nullptr;
    auto it = keys_.find(key_id);
    return it == keys_.end() ? nullptr : &it->second;
  }

  // A listing of the names `all(key)` gives, through the same completeness
  // check as the real registry's walks.
  template <typename All>
  std::optional<NameSet> list_locked(const std::string& key_id, All all,
                                     const Key* root = nullptr) const {
    if (fail_open_.count(key_id) != 0) return std::nullopt;
    auto it = keys_.find(key_id);
    const Key* key = it == keys_.end() ? root : &it->second;
    if (key == nullptr) return NameSet{};
    const std::vector<std::string> names = all(*key);
    return complete_listing([&] {
      NameWalk walk;
      walk.count_before = static_cast<uint32_t>(names.size());
      walk.count_after = walk.count_before;
      walk.written_before = 1;
      walk.written_after = 1;
      size_t first = 0;
      if (size_t& disturbed = disturbed_walks_[key_id]; disturbed > 0) {
        --disturbed;
        first = 1;
        ++*walk.count_after;
        ++*walk.written_after;
      }
      const size_t limit = std::min(enumeration_limit(key_id), names.size());
      for (size_t i = first; i < limit; ++i) {
        walk.names.insert(names[i]);
        ++walk.names_read;
      }
      walk.ended = limit == names.size();
      return walk;
    });
  }

  size_t enumeration_limit(const std::string& key_id) const {
    auto it = fail_enumeration_at_.find(key_id);
    return it == fail_enumeration_at_.end() ? SIZE_MAX : it->second;
  }

  void changed_locked(const std::string& key_id) {
    ++generation_[key_id];
    cv_.notify_all();
  }

  std::optional<std::string> raw(Hive hive, std::string_view path, std::string_view name) const {
    std::lock_guard lock(mutex_);
    const Key* key = open_locked(id(hive, path));
    if (key == nullptr) return std::nullopt;
    const auto it = find_value(*key, name);
    if (it == key->values.end()) return std::nullopt;
    return it->second;
  }

  size_t arms_locked(const std::map<std::string, size_t>& counts, Hive hive,
                     std::string_view path) const {
    auto it = counts.find(id(hive, path));
    return it == counts.end() ? 0 : it->second;
  }
  size_t count(const std::map<std::string, size_t>& counts, Hive hive,
               std::string_view path) const {
    std::lock_guard lock(mutex_);
    return arms_locked(counts, hive, path);
  }
  bool await(const std::function<bool()>& done) const {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), done);
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::map<std::string, Key> keys_;             // by id: hive text, '\', lower-cased path
  std::map<std::string, uint64_t> generation_;  // value changes per key id, kept across deletion
  std::set<std::string> fail_open_;
  std::set<std::string> fail_write_;
  std::vector<Write> writes_;
  std::map<std::string, size_t> fail_enumeration_at_;
  mutable std::map<std::string, size_t> disturbed_walks_;
  bool fail_watch_creation_ = false;
  mutable std::map<std::string, std::function<void()>> after_listing_;
  std::map<std::string, size_t> arms_;
  std::map<std::string, size_t> refused_arms_;
  size_t open_watch_keys_ = 0;
};

}  // namespace tarnwick::testing
