// -threads: the same bytes on stdout and in every file whatever the number
// of threads, the option's refusals, the status line of long runs, and the
// ordered hand-over under them.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "test_util.h"
#include "workers.h"

namespace tauspan {
namespace {

using test::RunOptions;
using test::RunResult;
using test::ScratchDir;

// Noise-like values on jittered times, some samples missing: every path
// of the sweep and of the grid (gaps) gets exercised.
std::string noisy_series(int n, bool gaps) {
  std::string text;
  uint64_t state = 12345;
  const auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
  };
  double walk = 0;
  for (int i = 0; i < n; ++i) {
    walk += next();
    const double y = 1e-11 * next() + 1e-12 * walk;
    if (gaps && (i % 97 == 13 || (i > n / 2 && i < n / 2 + 40))) continue;
    char line[96];
    std::snprintf(line, sizeof line, "%d\t%.9e\n", i, y);
    text += line;
  }
  return text;
}

// The run's console without its first line (the echo of -threads) and
// every file it left, by name.
struct Outcome {
  std::string console;
  std::vector<std::pair<std::string, std::string>> files;
  int status = -1;
};

Outcome run_with_threads(const std::string& data, const std::vector<std::string>& args,
                         int threads) {
  ScratchDir dir;
  dir.write("d.dat", data);
  RunOptions o;
  o.cwd = dir.dir;
  std::vector<std::string> all = {"-threads", std::to_string(threads)};
  all.insert(all.end(), args.begin(), args.end());
  all.push_back("d.dat");
  const RunResult r = test::run_tool(all, o);
  Outcome out;
  out.status = r.status;
  EXPECT_EQ(r.err, "");
  const size_t first = r.out.find('\n');
  out.console = first == std::string::npos ? r.out : r.out.substr(first + 1);
  for (const std::string& name : dir.entries()) out.files.emplace_back(name, dir.read(name));
  return out;
}

void expect_same_for_1_2_and_7_threads(const std::string& data,
                                       const std::vector<std::string>& args,
                                       size_t files_expected) {
  const Outcome one = run_with_threads(data, args, 1);
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(one.files.size(), files_expected);
  for (const int threads : {2, 7}) {
    SCOPED_TRACE(threads);
    const Outcome many = run_with_threads(data, args, threads);
    EXPECT_EQ(many.status, one.status);
    EXPECT_EQ(many.console, one.console);
    ASSERT_EQ(many.files.size(), one.files.size());
    for (size_t i = 0; i < one.files.size(); ++i) {
      EXPECT_EQ(many.files[i].first, one.files[i].first);
      EXPECT_TRUE(many.files[i].second == one.files[i].second) << one.files[i].first;
    }
  }
}

TEST(ThreadsTest, TheSweepIsTheSameWhateverTheThreads) {
  const std::string data = noisy_series(3000, true);
  // Logarithmic overlapped taus with a picture, linear disjoint ones with
  // jitter, and running sums; more taus than the workers run ahead.
  expect_same_for_1_2_and_7_threads(data, {"-logtau", "-n", "60", "-plot"}, 3);
  expect_same_for_1_2_and_7_threads(data, {"-nooverlap", "-jitter", "0.1", "-n", "45"}, 2);
  expect_same_for_1_2_and_7_threads(data, {"-fast", "-n", "30"}, 2);
  // Fewer taus than threads, and none.
  expect_same_for_1_2_and_7_threads(data, {"-n", "3"}, 2);
  expect_same_for_1_2_and_7_threads(data, {"-n", "0"}, 2);
}

TEST(ThreadsTest, EveryStatisticIsTheSameWhateverTheThreads) {
  const std::string with_gaps = noisy_series(700, true);
  expect_same_for_1_2_and_7_threads(
      with_gaps, {"-stat", "adev,oadev,mdev,hdev,totdev,mtotdev,theo1,mtie", "-taus", "all",
                  "-plot"},
      10);
  // Phase data without gaps, and statistics with a bias correction.
  expect_same_for_1_2_and_7_threads(noisy_series(1500, false),
                                    {"-stat", "tdev,ohdev,ttotdev,htotdev,tierms,oadev", "-phase",
                                     "-biascorr", "-taus", "decade"},
                                    7);
  // Without mdev and tdev, and few rows: the running sums that the noise
  // identification needs are made where it needs them.
  expect_same_for_1_2_and_7_threads(with_gaps, {"-stat", "adev,oadev,hdev,ohdev,theo1"}, 6);
  expect_same_for_1_2_and_7_threads(noisy_series(1500, false),
                                    {"-stat", "oadev,hdev", "-phase", "-taus", "decade"}, 3);
}

TEST(ThreadsTest, TheOptionIsEchoedAndABadValueStopsTheWalk) {
  ScratchDir dir;
  dir.write("d.dat", noisy_series(50, false));
  RunOptions o;
  o.cwd = dir.dir;
  const std::pair<const char*, const char*> echoes[] = {
      {"0", "Using one worker thread per core.\n"},
      {"1", "Using 1 worker thread.\n"},
      {"12", "Using 12 worker threads.\n"}};
  for (const auto& [value, echo] : echoes) {
    const RunResult r = test::run_tool({"-threads", value, "-n", "2", "d.dat"}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), echo);
  }
  std::remove(dir.path("d_avar.dat").c_str());
  for (const char* value : {"-1", "x", "", "2x", " 3", "+2", "99999999999"}) {
    SCOPED_TRACE(value);
    const RunResult r = test::run_tool({"-threads", value, "d.dat"}, o);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("tauspan: -threads takes a whole number of 0 (one per core) or "
                                 "more, not '") + value + "'\n");
  }
  EXPECT_FALSE(dir.exists("d_avar.dat"));
}

// Runs until stderr shows `wanted` (or a minute passes), then stops it.
RunResult run_until_stderr_shows(const ScratchDir& dir, const std::vector<std::string>& args,
                                 const std::string& wanted) {
  RunOptions o;
  o.cwd = dir.dir;
  o.stderr_terminal = true;
  const auto t0 = std::chrono::steady_clock::now();
  o.watch = [&](pid_t pid, const RunResult& so_far) {
    const bool seen = so_far.err.find(wanted) != std::string::npos;
    if (!seen && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(60)) return false;
    ::kill(pid, SIGTERM);
    return true;
  };
  return test::run_tool(args, o);
}

TEST(ThreadsTest, LongRunsSayOnATerminalHowLongIsLeft) {
  ScratchDir dir;
  std::string slow;
  for (int i = 0; i < 60000; ++i) slow += std::to_string(i) + "\t" + std::to_string(i % 17) + "\n";
  dir.write("s.dat", slow);
  for (const char* threads : {"1", "2"}) {
    const RunResult r = run_until_stderr_shows(dir, {"-threads", threads, "s.dat"}, " left");
    EXPECT_TRUE(std::regex_search(
        r.err, std::regex("\r\033\\[Ktauspan: tau [0-9]+ of 100, about [0-9.]+ [a-z]+ left")))
        << r.err;
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
  }
  // A -stat run names the statistic and the row.
  dir.write("m.dat", noisy_series(40000, false));
  const RunResult r =
      run_until_stderr_shows(dir, {"-stat", "mtotdev", "-taus", "all", "m.dat"}, " left");
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex("\r\033\\[Ktauspan: mtotdev, row [0-9]+ of [0-9]+, about [0-9.]+ [a-z]+ "
                        "left")))
      << r.err;
  EXPECT_EQ(r.out.find('\r'), std::string::npos);
}

TEST(ThreadsTest, ALongStatRunIsAnnounced) {
  ScratchDir dir;
  dir.write("m.dat", noisy_series(40000, false));
  RunOptions o;
  o.cwd = dir.dir;
  const auto t0 = std::chrono::steady_clock::now();
  o.watch = [&](pid_t pid, const RunResult& so_far) {
    if (so_far.err.empty() && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(30)) {
      return false;
    }
    ::kill(pid, SIGTERM);
    return true;
  };
  const RunResult r = test::run_tool({"-stat", "mtotdev", "-taus", "all", "m.dat"}, o);
  EXPECT_TRUE(std::regex_match(
      r.err, std::regex("tauspan: the statistics of 'm.dat' will take about [0-9.]+ "
                        "(minutes|hours|days)\n")))
      << r.err;
}

TEST(OrderedWorkTest, ItemsAreTakenInOrderAsSoonAsReady) {
  for (const int threads : {1, 2, 7}) {
    SCOPED_TRACE(threads);
    const int64_t window = ordered_window(threads);
    std::vector<int64_t> ring(static_cast<size_t>(window));
    std::vector<int64_t> taken;
    std::atomic<int> busy{0}, most{0};
    OrderedWork work;
    work.count = 500;
    work.threads = threads;
    work.compute = [&](int64_t i, int worker) {
      EXPECT_LT(worker, threads);
      const int now = ++busy;
      for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
      }
      // Uneven items: later ones may finish first.
      if (i % 7 == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
      ring[static_cast<size_t>(i % window)] = i * i;
      --busy;
    };
    work.take = [&](int64_t i) {
      EXPECT_EQ(ring[static_cast<size_t>(i % window)], i * i);
      taken.push_back(i);
    };
    run_ordered(work);
    ASSERT_EQ(taken.size(), 500u);
    for (size_t i = 0; i < taken.size(); ++i) EXPECT_EQ(taken[i], static_cast<int64_t>(i));
    EXPECT_LE(most.load(), threads);
  }
}

TEST(OrderedWorkTest, AFailureComesAfterTheItemsBeforeIt) {
  for (const int threads : {1, 3}) {
    SCOPED_TRACE(threads);
    std::vector<int64_t> taken;
    OrderedWork work;
    work.count = 1000;
    work.threads = threads;
    work.compute = [&](int64_t i, int) {
      if (i == 40) throw std::runtime_error("item 40");
    };
    work.take = [&](int64_t i) { taken.push_back(i); };
    try {
      run_ordered(work);
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "item 40");
    }
    EXPECT_EQ(taken.size(), 40u);
    // A failure in take stops the workers too.
    work.compute = [](int64_t, int) {};
    work.take = [](int64_t i) {
      if (i == 5) throw std::runtime_error("take 5");
    };
    EXPECT_THROW(run_ordered(work), std::runtime_error);
  }
}

}  // namespace
}  // namespace tauspan
