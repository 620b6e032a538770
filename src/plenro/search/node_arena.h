#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace plenro {

// Recycles the fixed-size nodes of the search's ordered sets: freed nodes go to a free list of
// their size class and are handed out again, fresh ones are cut from 64 KiB chunks. Memory is
// returned only when the arena is destroyed. Requests of more than kMaxNodeBytes go to the
// global allocator.
class NodeArena {
 public:
  static constexpr std::size_t kGranule = 8;
  static constexpr std::size_t kMaxNodeBytes = 256;

  NodeArena() = default;
  NodeArena(const NodeArena&) = delete;
  NodeArena& operator=(const NodeArena&) = delete;

  void* Allocate(std::size_t bytes) {
    const std::size_t size_class = (bytes + kGranule - 1) / kGranule;
    if (FreeNode* node = free_[size_class]) {
      free_[size_class] = node->next;
      return node;
    }
    const std::size_t rounded = size_class * kGranule;
    if (static_cast<std::size_t>(end_ - cursor_) < rounded) {
      chunks_.push_back(std::make_unique<std::byte[]>(kChunkBytes));
      cursor_ = chunks_.back().get();
      end_ = cursor_ + kChunkBytes;
    }
    void* node = cursor_;
    cursor_ += rounded;
    return node;
  }

  void Deallocate(void* p, std::size_t bytes) {
    const std::size_t size_class = (bytes + kGranule - 1) / kGranule;
    free_[size_class] = ::new (p) FreeNode{free_[size_class]};
  }

 private:
  struct FreeNode {
    FreeNode* next;
  };
  static constexpr std::size_t kChunkBytes = 64 * 1024;

  std::vector<std::unique_ptr<std::byte[]>> chunks_;
  std::byte* cursor_ = nullptr;
  std::byte* end_ = nullptr;
  std::array<FreeNode*, kMaxNodeBytes / kGranule + 1> free_{};
};

// Standard allocator over a NodeArena, for node-based containers (one node per allocation).
template <class T>
class ArenaAllocator {
 public:
  using value_type = T;

  explicit ArenaAllocator(NodeArena* arena) noexcept : arena_(arena) {}
  template <class U>
  ArenaAllocator(const ArenaAllocator<U>& other) noexcept : arena_(other.arena()) {}

  T* allocate(std::size_t n) {
    if (n == 1 && sizeof(T) <= NodeArena::kMaxNodeBytes && alignof(T) <= NodeArena::kGranule) {
      return static_cast<T*>(arena_->Allocate(sizeof(T)));
    }
    return static_cast<T*>(::operator new(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n == 1 && sizeof(T) <= NodeArena::kMaxNodeBytes && alignof(T) <= NodeArena::kGranule) {
      arena_->Deallocate(p, sizeof(T));
      return;
    }
    ::operator delete(p);
  }

  NodeArena* arena() const noexcept { return arena_; }

  template <class U>
  bool operator==(const ArenaAllocator<U>& other) const noexcept {
    return arena_ == other.arena();
  }

 private:
  NodeArena* arena_;
};

}  // namespace plenro
