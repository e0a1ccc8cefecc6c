// The reader on several threads must give what it gives on one: the same
// samples bit for bit, the same row numbers and the same separator look,
// wherever the stretches it splits the input into happen to end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "reference.h"
#include "sample_blocks.h"
#include "series_reader.h"
#include "test_util.h"

namespace tauspan {
namespace {

using test::ScratchDir;

void expect_same_read(const SeriesRead& got, const SeriesRead& want) {
  EXPECT_EQ(got.error, want.error);
  ASSERT_EQ(got.samples.size(), want.samples.size());
  for (size_t i = 0; i < want.samples.size(); ++i) {
    ASSERT_EQ(std::bit_cast<uint64_t>(got.samples[i].time),
              std::bit_cast<uint64_t>(want.samples[i].time)) << "sample " << i;
    ASSERT_EQ(std::bit_cast<uint64_t>(got.samples[i].value),
              std::bit_cast<uint64_t>(want.samples[i].value)) << "sample " << i;
  }
  EXPECT_EQ(std::memcmp(&got.look, &want.look, sizeof got.look), 0) << "separator look";
}

RunSettings with_threads(RunSettings s, int32_t threads) {
  s.threads = threads;
  return s;
}

// Lines of every kind the reader tells apart, a few of them longer than the
// stretches and the read buffer of the tests.
std::string varied_text(std::mt19937_64& rng, size_t lines, size_t long_length) {
  using namespace std::string_view_literals;
  const std::string_view kinds[] = {
      "1.5\t2.25\n", "3\t4\r\n", "# a comment\n", "\n", "\r\n", "5\tx\n", "x\t6\n", "7\n",
      "8\t9\t10\n", "1;2\n", "3,4\n", "5 6\n", "\t\t11\t12\n", "13\t1\0\t9\n"sv,
      "2024-01-31T13:16:50.250Z\t5\n", "2024-01-31 13:16:50\t6\n", "#\n", "14\t-inf\n",
      "15\tnan\n", "0x1p4\t1e-3\n", "60000.5,3\n", "16\t17"};
  std::string text;
  for (size_t i = 0; i < lines; ++i) {
    const size_t pick = rng() % (std::size(kinds) + 2);
    if (pick == std::size(kinds)) {
      text += "18\t1." + std::string(long_length, '5') + "\n";  // a long number
    } else if (pick == std::size(kinds) + 1) {
      text += (rng() % 2 ? "#" : "19\t20\t") + std::string(long_length, 'y') + "\n";
    } else {
      text += kinds[pick];
    }
  }
  return text;
}

std::vector<RunSettings> varied_settings() {
  std::vector<RunSettings> all(7);
  all[1].time_column = -1;  // -time 0: row numbers
  all[1].data_column = 0;
  all[2].data_column = -1;  // the row number as the value
  all[2].time_multiplier = 0.5;
  all[3].separators = ";,";
  all[4].separators = " \t";
  all[4].time_format = TimeFormat::kIso;
  all[5].separators = ",";
  all[5].time_format = TimeFormat::kMjd;
  all[6].time_column = -1;  // a multiplier that rejects the first rows
  all[6].time_multiplier = -1e308;
  return all;
}

TEST(ParallelRead, AnyThreadCountAndStretchGiveTheOneThreadRead) {
  std::mt19937_64 rng(15);
  const size_t kChunks[] = {1, 200};
  const size_t kBuffers[] = {16, 1 << 20};
  const std::vector<RunSettings> settings = varied_settings();
  for (int round = 0; round < 6; ++round) {
    const std::string text = varied_text(rng, 60 + rng() % 600, 20 + rng() % 200);
    for (const RunSettings& s : settings) {
      SCOPED_TRACE(testing::Message() << "settings " << &s - settings.data());
      for (const size_t buffer : kBuffers) {
        ReadOptions o;
        o.buffer_size = buffer;
        const SeriesRead one = read_series_text(text, with_threads(s, 1), o);
        ASSERT_EQ(one.samples.size(), reference::read_series_text(text, s).size());
        for (const size_t chunk : kChunks) {
          o.chunk_size = chunk;
          for (const int32_t threads : {2, 7}) {
            SCOPED_TRACE(testing::Message() << "round " << round << " buffer " << buffer
                                            << " chunk " << chunk << " threads " << threads);
            expect_same_read(read_series_text(text, with_threads(s, threads), o), one);
          }
        }
      }
    }
  }
}

TEST(ParallelRead, TheLookSeesTheSameFirstLinesWhereStretchesAreShort) {
  // A hundred lines split by semicolons, after comments and lines too long
  // for the buffer, which the look passes over; then tab-separated samples.
  std::string text = "#x\n" + std::string(40, 'z') + "\n";
  for (int i = 0; i < 120; ++i) text += std::to_string(i) + ";" + std::to_string(i) + "\n";
  for (int i = 0; i < 300; ++i) text += std::to_string(i) + "\t1\n";
  ReadOptions o;
  o.buffer_size = 32;
  o.chunk_size = 8;
  const RunSettings s;
  const SeriesRead one = read_series_text(text, with_threads(s, 1), o);
  EXPECT_EQ(one.look.offered, 100u);
  expect_same_read(read_series_text(text, with_threads(s, 2), o), one);
  expect_same_read(read_series_text(text, with_threads(s, 7), o), one);
}

TEST(ParallelRead, AFileIsReadFromWhereItsDescriptorStands) {
  std::mt19937_64 rng(3);
  const std::string head = "1\t2\n# skipped head\n";
  const std::string text = varied_text(rng, 3000, 5000);
  ScratchDir dir;
  dir.write("d.dat", head + text);
  ReadOptions o;
  o.chunk_size = 4096;
  o.buffer_size = 1024;  // the long lines span several stretches and buffers
  uint64_t last_progress = 0;
  o.context = &last_progress;
  o.progress = [](void* context, uint64_t bytes, uint64_t size) {
    auto& last = *static_cast<uint64_t*>(context);
    EXPECT_GE(bytes, last);
    EXPECT_LE(bytes, size);
    last = bytes;
  };
  for (const RunSettings& s : varied_settings()) {
    ReadOptions quiet = o;
    quiet.progress = nullptr;
    const SeriesRead want = read_series_text(text, with_threads(s, 1), quiet);
    for (const int32_t threads : {1, 2, 7}) {
      SCOPED_TRACE(threads);
      const int fd = ::open(dir.path("d.dat").c_str(), O_RDONLY);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::lseek(fd, static_cast<off_t>(head.size()), SEEK_SET),
                static_cast<off_t>(head.size()));
      last_progress = 0;
      expect_same_read(read_series_fd(fd, "d.dat", with_threads(s, threads), o), want);
      EXPECT_EQ(last_progress, text.size());
      EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), static_cast<off_t>(head.size() + text.size()));
      ::close(fd);
    }
  }
}

TEST(ParallelRead, TheExampleFileReadsAlikeInShortStretches) {
  const int fd = ::open(test::example_path("oscillator.dat").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ReadOptions o;
  o.chunk_size = 1000;
  const RunSettings s;
  const SeriesRead one = read_series_fd(fd, "oscillator.dat", with_threads(s, 1), o);
  ASSERT_GT(one.samples.size(), 1000u);
  for (const int32_t threads : {2, 7}) {
    ASSERT_EQ(::lseek(fd, 0, SEEK_SET), 0);
    expect_same_read(read_series_fd(fd, "oscillator.dat", with_threads(s, threads), o), one);
  }
  ::close(fd);
}

TEST(ParallelRead, ManySamplesJoinInOrder) {
  // Enough samples to fill several blocks in every stretch.
  std::string text;
  for (int i = 0; i < 200'000; ++i) text += std::to_string(i) + "\t" + std::to_string(i % 7) + "\n";
  ReadOptions o;
  o.chunk_size = 300'000;
  const SeriesRead one = read_series_text(text, with_threads({}, 1), o);
  ASSERT_EQ(one.samples.size(), 200'000u);
  EXPECT_EQ(one.samples.back().time, 199'999.0);
  expect_same_read(read_series_text(text, with_threads({}, 2), o), one);
  expect_same_read(read_series_text(text, with_threads({}, 7), o), one);
}

TEST(SampleBlocks, GiveTheirSamplesInOrderWhateverTheFirstSizeAndTheTrim) {
  for (const size_t first : {size_t{0}, size_t{300}, size_t{1000}, size_t{1} << 30}) {
    for (const size_t n : {size_t{0}, size_t{1}, size_t{257}, size_t{300}, size_t{70'000},
                           size_t{300'000}}) {
      SCOPED_TRACE(testing::Message() << "first " << first << " n " << n);
      SampleBlocks blocks(first);
      for (size_t i = 0; i < n; ++i) blocks.push({static_cast<double>(i), 1.0});
      blocks.trim();
      blocks.push({-1.0, 2.0});  // after a trim, samples still go on
      blocks.trim();
      ASSERT_EQ(blocks.size(), n + 1);
      SampleSeries series{{-2.0, 0.0}};
      reserve_exactly(series, n + 2);
      blocks.move_into(series);
      EXPECT_EQ(blocks.size(), 0u);
      ASSERT_EQ(series.size(), n + 2);
      for (size_t i = 0; i < n; ++i) ASSERT_EQ(series[i + 1].time, static_cast<double>(i));
      EXPECT_EQ(series.back().time, -1.0);
    }
  }
}

}  // namespace
}  // namespace tauspan
