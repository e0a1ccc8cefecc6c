// The reader against getline + strtok + atof on a file of 10^7 lines of two
// numeric columns, written once into the temporary directory.
#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "reference.h"
#include "series_reader.h"

namespace tauspan {
namespace {

const std::string& big_file() {
  static const std::string path = [] {
    const std::string p =
        (std::filesystem::temp_directory_path() / "tauspan_bench_1e7.dat").string();
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) {
      const std::string tmp = p + ".part";
      FILE* f = std::fopen(tmp.c_str(), "w");
      if (!f) std::abort();
      double y = 10.0;
      uint64_t x = 2463534242ull;
      for (int i = 0; i < 10'000'000; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        y += static_cast<double>(x % 2001) * 1e-6 - 1e-3;
        std::fprintf(f, "%.3f\t%.9f\n", i * 0.001, y);
      }
      if (std::fclose(f) != 0 || std::rename(tmp.c_str(), p.c_str()) != 0) std::abort();
    }
    return p;
  }();
  return path;
}

// The argument is the thread count (-threads) for the reader.
template <bool kLiteral>
void BM_Read(benchmark::State& state) {
  const std::string& path = big_file();
  RunSettings settings;
  settings.threads = static_cast<int32_t>(state.range(0));
  size_t samples = 0;
  for (auto _ : state) {
    if constexpr (kLiteral) {
      samples = reference::read_series(path, {}).size();
    } else {
      samples = read_series(path, settings).samples.size();
    }
    benchmark::DoNotOptimize(samples);
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(std::filesystem::file_size(path)));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(samples));
}
BENCHMARK(BM_Read<true>)->Name("BM_ReadLiteral")->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Read<false>)
    ->Name("BM_ReadFast")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2)
    ->UseRealTime();

// The same file through the general path: "-sep space" splits it as tabs do.
void BM_ReadBlanks(benchmark::State& state) {
  const std::string& path = big_file();
  RunSettings settings;
  settings.separators = std::string(" \t");
  settings.threads = 1;
  size_t samples = 0;
  for (auto _ : state) {
    samples = read_series(path, settings).samples.size();
    benchmark::DoNotOptimize(samples);
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(std::filesystem::file_size(path)));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(samples));
}
BENCHMARK(BM_ReadBlanks)->Unit(benchmark::kMillisecond)->MinTime(2);

// 10^6 lines of "2024-01-31T13:16:50.250Z,<value>", read with -sep comma
// -timefmt iso.
void BM_ReadIsoCsv(benchmark::State& state) {
  static const std::string path = [] {
    const std::string p =
        (std::filesystem::temp_directory_path() / "tauspan_bench_iso_1e6.csv").string();
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) {
      const std::string tmp = p + ".part";
      FILE* f = std::fopen(tmp.c_str(), "w");
      if (!f) std::abort();
      for (int i = 0; i < 1'000'000; ++i) {
        const int ms = i * 250;
        std::fprintf(f, "2024-01-%02dT%02d:%02d:%02d.%03dZ,%.9f\n", 1 + ms / 86'400'000,
                     ms / 3'600'000 % 24, ms / 60'000 % 60, ms / 1000 % 60, ms % 1000,
                     10 + (i % 2001) * 1e-6);
      }
      if (std::fclose(f) != 0 || std::rename(tmp.c_str(), p.c_str()) != 0) std::abort();
    }
    return p;
  }();
  RunSettings settings;
  settings.separators = ",";
  settings.time_format = TimeFormat::kIso;
  settings.threads = 1;
  size_t samples = 0;
  for (auto _ : state) {
    samples = read_series(path, settings).samples.size();
    benchmark::DoNotOptimize(samples);
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(std::filesystem::file_size(path)));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(samples));
}
BENCHMARK(BM_ReadIsoCsv)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace
}  // namespace tauspan
