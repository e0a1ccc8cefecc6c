// Samples gathered in blocks of their own pages, so that a series of unknown
// length is collected without growing by copies, and handed over into an
// exactly sized series while each block's memory goes back as it is copied.
#ifndef TAUSPAN_SAMPLE_BLOCKS_H_
#define TAUSPAN_SAMPLE_BLOCKS_H_

#include <cstddef>
#include <vector>

#include "sample.h"

namespace tauspan {

class SampleBlocks {
 public:
  SampleBlocks() = default;
  // `first_block`: samples the first block is made for; later ones double.
  explicit SampleBlocks(size_t first_block) : first_block_(first_block) {}
  SampleBlocks(SampleBlocks&& other) noexcept;
  SampleBlocks& operator=(SampleBlocks&& other) noexcept;
  SampleBlocks(const SampleBlocks&) = delete;
  SampleBlocks& operator=(const SampleBlocks&) = delete;
  ~SampleBlocks() { release(); }

  [[gnu::always_inline]] void push(const Sample& sample) {
    if (next_ == end_) add_block();  // throws std::bad_alloc as a vector would
    *next_++ = sample;
  }
  size_t size() const;

  // Gives back the pages of the last block that no sample uses yet.
  void trim();

  // Appends every sample to `to` (which must have room enough reserved not to
  // move) and leaves this empty, giving each block back once it is copied.
  void move_into(SampleSeries& to);

 private:
  struct Block {
    Sample* data;
    size_t capacity;
  };
  void add_block();
  void release();

  size_t first_block_ = 0;
  std::vector<Block> blocks_;
  Sample* next_ = nullptr;  // where the next sample goes in the last block
  Sample* end_ = nullptr;
};

// Asks for huge pages for the whole 2 MiB pages inside [begin, begin +
// bytes), so that filling a large buffer takes fewer faults.
void advise_huge_pages(void* begin, size_t bytes);

// Reserves `count` samples in `series`, asking for huge pages where the
// reservation is large, so that filling it takes fewer faults.
void reserve_exactly(SampleSeries& series, size_t count);

}  // namespace tauspan

#endif  // TAUSPAN_SAMPLE_BLOCKS_H_
