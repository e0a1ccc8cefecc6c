// The ordered hand-over between worker threads and the caller.
#include "workers.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tauspan {
namespace {

// Items a worker may run ahead of the last one taken, per thread: enough to
// keep every thread busy while one item takes longer than its neighbours.
constexpr int64_t kAheadPerThread = 4;
constexpr auto kIdleEvery = std::chrono::milliseconds(250);

struct Shared {
  std::mutex lock;
  std::condition_variable done;   // an item finished: the caller may take it
  std::condition_variable room;   // an item was taken, or the work stops
  // Per item, in a ring of `ahead` slots: item i in slot i % ahead.
  std::vector<uint8_t> finished;
  std::vector<std::exception_ptr> failure;
  int64_t claimed = 0;  // items handed to workers
  int64_t taken = 0;    // items handed to take
  int64_t ahead = 0;
  bool stop = false;    // no more items are claimed
};

void work_loop(const OrderedWork& work, Shared& s, int worker) {
  for (;;) {
    int64_t i;
    {
      std::unique_lock<std::mutex> hold(s.lock);
      s.room.wait(hold, [&] { return s.stop || s.claimed < std::min(work.count, s.taken + s.ahead); });
      if (s.stop) return;
      i = s.claimed++;
    }
    std::exception_ptr failure;
    try {
      work.compute(i, worker);
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard<std::mutex> hold(s.lock);
    const auto slot = static_cast<size_t>(i % s.ahead);
    s.finished[slot] = 1;
    if (failure) {
      s.failure[slot] = failure;
      s.stop = true;  // items before i are claimed already and still finish
    }
    if (s.claimed >= work.count) s.stop = true;
    s.done.notify_one();
  }
}

// Stops and joins the workers however the caller leaves.
class Crew {
 public:
  Crew(const OrderedWork& work, Shared& shared, int threads) : shared_(shared) {
    for (int w = 0; w < threads; ++w) {
      crew_.emplace_back([&work, &shared, w] { work_loop(work, shared, w); });
    }
  }
  Crew(const Crew&) = delete;
  Crew& operator=(const Crew&) = delete;
  ~Crew() {
    {
      std::lock_guard<std::mutex> hold(shared_.lock);
      shared_.stop = true;
    }
    shared_.room.notify_all();
    for (std::thread& t : crew_) t.join();
  }

 private:
  Shared& shared_;
  std::vector<std::thread> crew_;
};

}  // namespace

int64_t ordered_window(int threads) { return kAheadPerThread * std::max(threads, 1); }

int worker_count(int32_t threads) {
  if (threads > 0) return threads;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? static_cast<int>(std::min<unsigned>(cores, 1024)) : 1;
}

void run_ordered(const OrderedWork& work) {
  if (work.count <= 0) return;
  const int threads = static_cast<int>(std::min<int64_t>(std::max(work.threads, 1), work.count));
  if (threads == 1) {
    for (int64_t i = 0; i < work.count; ++i) {
      if (work.idle) work.idle(i);
      work.compute(i, 0);
      work.take(i);
    }
    return;
  }
  Shared s;
  s.ahead = ordered_window(work.threads);
  s.finished.assign(static_cast<size_t>(s.ahead), 0);
  s.failure.resize(static_cast<size_t>(s.ahead));
  Crew crew(work, s, threads);
  for (int64_t i = 0; i < work.count; ++i) {
    const auto at = static_cast<size_t>(i % s.ahead);
    {
      std::unique_lock<std::mutex> hold(s.lock);
      while (!s.finished[at]) {
        if (s.done.wait_for(hold, kIdleEvery) == std::cv_status::timeout && !s.finished[at] &&
            work.idle) {
          hold.unlock();
          work.idle(i);
          hold.lock();
        }
      }
      if (s.failure[at]) std::rethrow_exception(s.failure[at]);
    }
    work.take(i);
    {
      std::lock_guard<std::mutex> hold(s.lock);
      s.finished[at] = 0;
      s.taken = i + 1;
    }
    s.room.notify_all();
    if (work.idle && i + 1 < work.count) work.idle(i + 1);
  }
}

}  // namespace tauspan
