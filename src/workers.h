// Items computed on several threads and taken in order on the caller's.
#ifndef TAUSPAN_WORKERS_H_
#define TAUSPAN_WORKERS_H_

#include <cstdint>
#include <functional>

namespace tauspan {

// The threads that a -threads value stands for: itself, or for 0 one per
// core (1 where the library cannot tell).
int worker_count(int32_t threads);

// Items 0 .. count - 1, each computed by compute(i, worker) on one of
// `threads` workers, and handed to take(i) on the calling thread in order
// of i, each as soon as it and every item before it are done. A worker
// (0 .. threads - 1) runs one item at a time, so scratch kept per worker
// needs no lock; compute writes its result where take will read it (the
// hand-over orders the two). Workers run fewer than
// ordered_window(threads) items ahead of the first one not yet taken, so
// results can live in a ring of that many slots, item i in slot
// i % ordered_window(threads).
struct OrderedWork {
  int64_t count = 0;
  int threads = 1;
  std::function<void(int64_t i, int worker)> compute;
  std::function<void(int64_t i)> take;
  // Optional, on the calling thread: with one thread, before each item;
  // with more, after each take and a few times a second while the next
  // item is awaited. `next` is the item that take awaits.
  std::function<void(int64_t next)> idle;
};

int64_t ordered_window(int threads);

// Runs the work. One thread (or one item) runs everything on the calling
// thread: compute(i, 0), take(i), ... An exception from compute(i) is
// rethrown here once the items before i are taken; one from take stops the
// workers and goes on. Either way every worker has finished on return.
void run_ordered(const OrderedWork& work);

}  // namespace tauspan

#endif  // TAUSPAN_WORKERS_H_
