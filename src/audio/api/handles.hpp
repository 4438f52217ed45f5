// 32-bit handles: kind (2 bits) | slot (12 bits) | generation (18 bits).
//
// A slot's generation grows each time its object is freed, and a slot whose
// generations are used up is retired, so a handle is never reused while the
// process lives: a stale handle can never reach a newer object. The table
// lives as long as the process (it survives BASS_Free/BASS_Init) and is
// guarded by the library's control mutex.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "audio/api/fault.hpp"

namespace tovarin::audio {

enum class HandleKind : uint32_t { Stream = 1, Fx = 2, Record = 3 };

template <class T>
class HandleTable {
 public:
  explicit HandleTable(HandleKind kind) : kind_(static_cast<uint32_t>(kind)) {}

  // Makes room so that the next add() and every remove() allocate nothing,
  // and answers the handle that the next add() will give (0 when the table
  // is full). A create path reserves before it makes anything, and adds
  // last, when nothing can fail any more.
  uint32_t reserve() {
    fault::alloc();
    uint32_t slot;
    if (!free_.empty()) {
      slot = free_.back();
    } else if (entries_.size() < kSlots) {
      slot = static_cast<uint32_t>(entries_.size());
      if (entries_.size() == entries_.capacity()) entries_.reserve(std::max<size_t>(16, entries_.size() * 2));
    } else {
      return 0;
    }
    free_.reserve(entries_.capacity());
    return (kind_ << 30) | (slot << kGenBits) | (slot < entries_.size() ? entries_[slot].generation : 1u);
  }

  // 0 when the table is full.
  uint32_t add(T* object) {
    uint32_t slot;
    if (!free_.empty()) {
      slot = free_.back();
      free_.pop_back();
    } else if (entries_.size() < kSlots) {
      slot = static_cast<uint32_t>(entries_.size());
      entries_.push_back({});
    } else {
      return 0;
    }
    Entry& e = entries_[slot];
    e.object = object;
    return (kind_ << 30) | (slot << kGenBits) | e.generation;
  }

  T* get(uint32_t handle) const {
    if ((handle >> 30) != kind_) return nullptr;
    uint32_t slot = (handle >> kGenBits) & (kSlots - 1);
    uint32_t gen = handle & kGenMask;
    if (slot >= entries_.size()) return nullptr;
    const Entry& e = entries_[slot];
    return e.object && e.generation == gen ? e.object : nullptr;
  }

  void remove(uint32_t handle) {
    if (!get(handle)) return;
    uint32_t slot = (handle >> kGenBits) & (kSlots - 1);
    Entry& e = entries_[slot];
    e.object = nullptr;
    if (++e.generation <= kGenMask) free_.push_back(slot);  // else retired
  }

  // Every live object, for teardown.
  std::vector<T*> all() const {
    std::vector<T*> out;
    for (const auto& e : entries_)
      if (e.object) out.push_back(e.object);
    return out;
  }

 private:
  static constexpr uint32_t kGenBits = 18;
  static constexpr uint32_t kGenMask = (1u << kGenBits) - 1;
  static constexpr uint32_t kSlots = 1u << 12;
  struct Entry {
    T* object = nullptr;
    uint32_t generation = 1;
  };
  uint32_t kind_;
  std::vector<Entry> entries_;
  std::vector<uint32_t> free_;
};

}  // namespace tovarin::audio
