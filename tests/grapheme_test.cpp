// The clusters Backspace erases, checked against every line of Unicode's own test of them.
#include "console/grapheme.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "console/grapheme_table.h"
#include "console/utf8.h"

namespace {

#ifndef _WIN32  // Debian's Unicode data is not at hand under Wine
// Every line of Unicode's own test of grapheme clusters splits as it says, cluster by cluster
// from the end as Backspace takes them, but for the lines named here: in them a character that
// takes no cells goes with the character before it, on which the screen draws it.
TEST(LastClusterLength, SplitsUnicodesTestLinesButWhereNamed) {
  const struct {
    const char* why;
    std::set<int> lines;  // of GraphemeBreakTest.txt
  } kDifferences[] = {
      {"a mark, a joiner or a Hangul vowel or final jamo after a control, which Unicode splits "
       "(GB4): the control shows as its picture, and they are drawn on it",
       {60,  62,  64,  66,  67,  68,  70,  72,  74,  76,  77,  78,  79,  80,  82,  84,  86,
        87,  88,  89,  90,  92,  94,  96,  98,  100, 101, 102, 104, 106, 108, 110, 111, 112,
        113, 114, 116, 118, 120, 121, 122, 123, 124, 126, 128, 130, 132, 134, 135, 136, 138,
        140, 142, 144, 145, 146, 147, 148, 150, 152, 154, 155, 156, 157, 158, 160, 603}},
      {"a Hangul vowel or final jamo after a character it does not join, which Unicode splits "
       "(GB999): it is drawn on that character",
       {43,  44,  45,  46,  179, 180, 181, 182, 213, 214, 215, 216, 248, 250, 281, 282,
        283, 284, 316, 317, 318, 350, 352, 383, 384, 386, 418, 420, 451, 452, 454, 485,
        486, 487, 488, 519, 520, 521, 522, 553, 554, 555, 556, 587, 588, 589, 590}},
  };
  const std::string path = QUILLOMAT_UNICODE_DATA "/auxiliary/GraphemeBreakTest.txt";
  std::ifstream file(path);
  ASSERT_TRUE(file) << "no " << path << ": scripts/install-packages unicode-data";
  std::string line;
  std::getline(file, line);
  EXPECT_NE(line.find(std::string("-") + kGraphemeTableUnicodeVersion + ".txt"), std::string::npos)
      << "the grapheme table is not from this Unicode version: " << line;
  int number = 1;
  int tested = 0;
  int lines_in_file = -1;
  std::vector<int> seen(std::size(kDifferences), 0);
  while (std::getline(file, line)) {
    ++number;
    if (line.starts_with("# Lines: ")) lines_in_file = std::stoi(line.substr(9));
    std::istringstream fields(line.substr(0, line.find('#')));
    size_t kind = 0;
    while (kind < std::size(kDifferences) && !kDifferences[kind].lines.contains(number)) ++kind;
    // "÷ 0020 × 0308 ÷": the code points, and where the clusters start (after the first).
    std::string text;
    std::vector<size_t> starts;
    bool breaks = false;
    bool differs = false;
    for (std::string field; fields >> field;) {
      if (field == "÷" || field == "×") {
        breaks = field == "÷";
        continue;
      }
      const auto codepoint = static_cast<char32_t>(std::stoul(field, nullptr, 16));
      if (breaks && !text.empty()) {
        if (kind < std::size(kDifferences) && CellWidth(VisibleCodepoint(codepoint)) == 0) {
          differs = true;
        } else {
          starts.push_back(text.size());
        }
      }
      AppendUtf8(text, codepoint);
    }
    if (text.empty()) continue;
    ++tested;
    if (kind < std::size(kDifferences)) {
      EXPECT_TRUE(differs) << "line " << number << " no longer differs: " << line;
      ++seen[kind];
    }
    // Backspace keeps what it knows of the line from one cluster to the next; each cluster found
    // must be the same without it.
    ClusterLookBack look_back;
    for (ClusterLookBack* kept : {&look_back, static_cast<ClusterLookBack*>(nullptr)}) {
      std::vector<size_t> found;
      for (std::string_view rest = text; !rest.empty();) {
        rest.remove_suffix(LastClusterLength(rest, kept));
        if (!rest.empty()) found.insert(found.begin(), rest.size());
      }
      EXPECT_EQ(found, starts) << "line " << number << ": " << line;
    }
  }
  EXPECT_EQ(tested, lines_in_file);
  for (size_t kind = 0; kind < std::size(kDifferences); ++kind) {
    EXPECT_EQ(seen[kind], std::ssize(kDifferences[kind].lines)) << kDifferences[kind].why;
  }
}
#endif

}  // namespace
