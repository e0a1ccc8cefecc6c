// One truth for the options: --help, the README's table, the manual page and
// the bash completion name the same ones; the manual shows the version.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "stats_settings.h"
#include "test_util.h"

namespace tauspan {
namespace {

using Words = std::set<std::string>;

std::string source_file(const std::string& name) {
  std::ifstream in(std::string(TAUSPAN_SOURCE_DIR) + "/" + name);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string lines_of(const Words& words) {
  std::string text;
  for (const std::string& w : words) text += w + "\n";
  return text;
}

// The options of --help: lines that start with two blanks and a '-' or '/',
// up to the run of blanks before the description; "-n[umtaus]" is -n and
// -numtaus, "-h, -?, /?" three options.
Words help_options() {
  const test::RunResult r = test::run_tool({"--help"});
  Words words;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 3 || line.compare(0, 2, "  ") != 0 || (line[2] != '-' && line[2] != '/')) {
      continue;
    }
    const std::string names = line.substr(2, line.find("  ", 2) - 2);
    static const std::regex kName(R"((--?|/)[^ ,<\[]+(\[[a-z]+\])?)");
    for (auto it = std::sregex_iterator(names.begin(), names.end(), kName);
         it != std::sregex_iterator(); ++it) {
      const std::string name = it->str();
      if (const size_t bracket = name.find('['); bracket != std::string::npos) {
        words.insert(name.substr(0, bracket));
        words.insert(name.substr(0, bracket) + name.substr(bracket + 1, name.size() - bracket - 2));
      } else {
        words.insert(name);
      }
    }
  }
  return words;
}

// The options of the README's table: each `...` in the first cell of the
// rows under "| Option | Effect |", its first word.
Words readme_options() {
  const std::string readme = source_file("README.md");
  std::istringstream in(readme.substr(readme.find("| Option | Effect |")));
  Words words;
  std::string line;
  std::getline(in, line);  // the titles
  std::getline(in, line);  // |---|---|
  while (std::getline(in, line) && line.rfind("| ", 0) == 0) {
    const std::string cell = line.substr(2, line.find(" |", 2) - 2);
    static const std::regex kCode("`([^` ]+)[^`]*`");
    for (auto it = std::sregex_iterator(cell.begin(), cell.end(), kCode);
         it != std::sregex_iterator(); ++it) {
      words.insert((*it)[1]);
    }
  }
  return words;
}

// The options of the manual page: the words that start with \- or / on the
// .B, .BI and .BR lines after each .TP of the OPTIONS section.
Words manual_options() {
  const std::string page = source_file("doc/tauspan.1");
  const size_t begin = page.find(".SH OPTIONS");
  std::istringstream in(page.substr(begin, page.find("\n.SH ", begin + 1) - begin));
  Words words;
  bool tagged = false;
  for (std::string line; std::getline(in, line);) {
    if (tagged && line.rfind(".B", 0) == 0) {
      static const std::regex kName(R"((?:^| )((?:\\-)+|/)([^ "\\]+))");
      for (auto it = std::sregex_iterator(line.begin(), line.end(), kName);
           it != std::sregex_iterator(); ++it) {
        const std::string dashes = (*it)[1];
        words.insert(std::string(dashes == "/" ? 1 : dashes.size() / 2, dashes == "/" ? '/' : '-') +
                     (*it)[2].str());
      }
    }
    tagged = line == ".TP";
  }
  return words;
}

TEST(OptionDocs, HelpReadmeAndManualNameTheSameOptions) {
  const Words help = help_options();
  ASSERT_GT(help.size(), 20u);
  EXPECT_TRUE(help.count("-numtaus") && help.count("-n") && help.count("/?") && help.count("-sep"))
      << lines_of(help);
  EXPECT_EQ(lines_of(readme_options()), lines_of(help)) << "README.md's options table";
  EXPECT_EQ(lines_of(manual_options()), lines_of(help)) << "doc/tauspan.1's OPTIONS";
}

TEST(OptionDocs, TheManualPageShowsTheProjectVersion) {
  const std::string page = source_file("doc/tauspan.1");
  const std::string title = page.substr(0, page.find('\n'));
  EXPECT_NE(title.find("\"tauspan " TAUSPAN_VERSION "\""), std::string::npos) << title;
  EXPECT_EQ(page.find('@'), std::string::npos) << "a placeholder left in the page";
}

// What the completion function offers for the words typed so far.
Words complete(const std::string& words, int current) {
  const std::string script = "source '" + std::string(TAUSPAN_SOURCE_DIR) +
                             "/completion/tauspan.bash' && COMP_WORDS=(" + words +
                             ") && COMP_CWORD=" + std::to_string(current) +
                             "; _tauspan; printf '%s\\n' \"${COMPREPLY[@]}\"";
  FILE* out = ::popen(("bash -c \"$(cat <<'END'\n" + script + "\nEND\n)\"").c_str(), "r");
  Words offered;
  if (!out) return offered;
  char line[256];
  while (std::fgets(line, sizeof line, out)) {
    std::string word(line);
    if (!word.empty() && word.back() == '\n') word.pop_back();
    if (!word.empty()) offered.insert(word);
  }
  ::pclose(out);
  return offered;
}

TEST(BashCompletion, OffersEveryOptionAndTheWordsTheyTake) {
  Words options = complete("tauspan -", 1);
  options.insert("/?");  // offered for "/" among the file names
  EXPECT_EQ(lines_of(options), lines_of(help_options()));
  // Words that only work first are not offered later.
  EXPECT_EQ(complete("tauspan x.dat -h", 2), Words{});
  EXPECT_EQ(complete("tauspan x.dat -ti", 2), (Words{"-time", "-timefmt"}));
  EXPECT_EQ(complete("tauspan -sep ''", 2), (Words{"tab", "comma", "semicolon", "space"}));
  EXPECT_EQ(complete("tauspan -timefmt ''", 2), (Words{"number", "iso", "mjd"}));
  EXPECT_EQ(complete("tauspan -taus d", 2), Words{"decade"});
  // Every statistic, and after a comma the rest of the list stays.
  Words names;
  std::istringstream all(statistic_names());
  for (std::string name; std::getline(all, name, ',');) names.insert(name.substr(name[0] == ' '));
  EXPECT_EQ(complete("tauspan -stat ''", 2), names);
  EXPECT_EQ(complete("tauspan -stat adev,o", 2), (Words{"adev,oadev", "adev,ohdev"}));
}

}  // namespace
}  // namespace tauspan
