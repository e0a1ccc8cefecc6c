// Sample blocks: pages mapped for each block and unmapped as soon as it has
// been copied out, so that their memory surely goes back to the system
// rather than to a heap that may keep it.
#include "sample_blocks.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>

namespace tauspan {
namespace {

// Blocks double from a page, so a short file maps little, up to a huge page,
// so that the hand-over holds at most that much twice.
constexpr size_t kFirstBlock = 4096 / sizeof(Sample);
constexpr size_t kLargestBlock = (size_t{2} << 20) / sizeof(Sample);
constexpr uintptr_t kHugePage = uintptr_t{1} << 21;

}  // namespace

SampleBlocks::SampleBlocks(SampleBlocks&& other) noexcept
    : first_block_(other.first_block_), blocks_(std::move(other.blocks_)), next_(other.next_), end_(other.end_) {
  other.blocks_.clear();
  other.next_ = other.end_ = nullptr;
}

SampleBlocks& SampleBlocks::operator=(SampleBlocks&& other) noexcept {
  if (this != &other) {
    release();
    first_block_ = other.first_block_;
    blocks_ = std::move(other.blocks_);
    next_ = other.next_;
    end_ = other.end_;
    other.blocks_.clear();
    other.next_ = other.end_ = nullptr;
  }
  return *this;
}

void SampleBlocks::add_block() {
  // Whole pages, so that trim gives back whole pages past the last sample.
  const size_t count = blocks_.empty()
                           ? std::clamp(first_block_, kFirstBlock, kLargestBlock) / kFirstBlock *
                                 kFirstBlock
                           : std::min(kLargestBlock, blocks_.back().capacity * 2);
  const size_t bytes = count * sizeof(Sample);
  blocks_.reserve(blocks_.size() + 1);  // before the mapping, which must not leak
  // A block of huge pages is placed on their boundary, which a mapping
  // alone does not promise: a huge page more is mapped and the ends given back.
  const size_t slack = bytes >= kHugePage ? kHugePage : 0;
  void* const p = ::mmap(nullptr, bytes + slack, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  char* data = static_cast<char*>(p);
  if (slack > 0) {
    const auto at = reinterpret_cast<uintptr_t>(p);
    data = reinterpret_cast<char*>((at + kHugePage - 1) & ~(kHugePage - 1));
    if (data > p) ::munmap(p, static_cast<size_t>(data - static_cast<char*>(p)));
    const size_t tail = slack - static_cast<size_t>(data - static_cast<char*>(p));
    if (tail > 0) ::munmap(data + bytes, tail);
  }
  advise_huge_pages(data, bytes);
  blocks_.push_back({reinterpret_cast<Sample*>(data), count});
  next_ = blocks_.back().data;
  end_ = next_ + count;
}

size_t SampleBlocks::size() const {
  size_t n = 0;
  for (const Block& b : blocks_) n += b.capacity;
  return blocks_.empty() ? 0 : n - static_cast<size_t>(end_ - next_);
}

void SampleBlocks::trim() {
  if (blocks_.empty()) return;
  constexpr size_t kPage = 4096;
  Block& b = blocks_.back();
  const size_t kept = (static_cast<size_t>(next_ - b.data) * sizeof(Sample) + kPage - 1) & ~(kPage - 1);
  const size_t mapped = b.capacity * sizeof(Sample);
  if (kept >= mapped || ::munmap(reinterpret_cast<char*>(b.data) + kept, mapped - kept) != 0) return;
  b.capacity = kept / sizeof(Sample);
  end_ = b.data + b.capacity;
  if (b.capacity == 0) {
    blocks_.pop_back();
    next_ = end_ = nullptr;
  }
}

void SampleBlocks::move_into(SampleSeries& to) {
  for (size_t i = 0; i < blocks_.size(); ++i) {
    const Block& b = blocks_[i];
    const size_t used = i + 1 == blocks_.size() ? static_cast<size_t>(next_ - b.data) : b.capacity;
    to.insert(to.end(), b.data, b.data + used);
    ::munmap(b.data, b.capacity * sizeof(Sample));
  }
  blocks_.clear();
  next_ = end_ = nullptr;
}

void SampleBlocks::release() {
  for (const Block& b : blocks_) ::munmap(b.data, b.capacity * sizeof(Sample));
  blocks_.clear();
  next_ = end_ = nullptr;
}

void advise_huge_pages(void* begin, size_t bytes) {
  const auto b = reinterpret_cast<uintptr_t>(begin);
  const uintptr_t first = (b + kHugePage - 1) & ~(kHugePage - 1);
  if (b + bytes >= first + kHugePage) {
    ::madvise(reinterpret_cast<void*>(first), (b + bytes - first) & ~(kHugePage - 1),
              MADV_HUGEPAGE);
  }
}


void reserve_exactly(SampleSeries& series, size_t count) {
  series.reserve(count);
  advise_huge_pages(series.data(), series.capacity() * sizeof(Sample));
}

}  // namespace tauspan
