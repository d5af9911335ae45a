// Strings, flags, line reading, byte order and timing.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "util/flag.h"
#include "util/string.h"
#include "util/system.h"
#include "util/tools.h"

namespace {

using Fields = std::vector<std::string>;

TEST(ParseString, TrailingDelimitersDropInnerEmptyFieldsStayMissingTextFails) {
  const struct {
    const char *text;
    int status;
    Fields fields;
  } cases[] = {{"a;b;;", 0, {"a", "b"}}, {"a;;b", 0, {"a", "", "b"}}, {" a ; b", 0, {" a ", " b"}},
               {";;;", 0, {""}},         {";a", 0, {"", "a"}},        {"", -1, {}},
               {nullptr, -1, {}}};
  for (const auto &c : cases) {
    int count = 7;
    char **array = reinterpret_cast<char **>(&count);
    EXPECT_EQ(parse_string(c.text, ';', &count, &array), c.status) << (c.text ? c.text : "null");
    EXPECT_TRUE(c.status == 0 || array == nullptr);
    EXPECT_EQ(Fields(array, array + count), c.fields) << (c.text ? c.text : "null");
    free_parsed_array(count, array);
  }
}

TEST(CaseInsensitiveCompare, WholeAndLeadingParts) {
  const struct {
    const char *a, *b;
    int n, sign;  // n 0: stricmp
  } cases[] = {{"Open", "open", 0, 0}, {nullptr, "open", 0, 1}, {"open", nullptr, 0, 1}, {"abc", "ABD", 0, -1},
               {"abcd", "ABC", 0, 1},  {"setx", "SET", 3, 0},   {"abc", "abd", 2, 0},    {"abc", "abd", 3, -1},
               {"xyz", "Xbc", 1, 0},   {"se", "set", 3, -1},    {nullptr, "set", 3, 1}};
  for (const auto &c : cases) {
    const int r = c.n == 0 ? stricmp(c.a, c.b) : strnicmp(c.a, c.b, c.n);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << (c.a ? c.a : "null") << " " << (c.b ? c.b : "null") << " " << c.n;
  }
}

TEST(Trimming, LineEndsBlanksAndCase) {
  char a[] = "ab\r\ncd  \n", b[] = "  x y  ", c[] = "line\r\r", d[] = "MiXeD 1", e[] = "", f[] = "a b c";
  EXPECT_EQ(wstrim_string(a), 1);
  trim_string(b);
  trim_cr_string(c);
  EXPECT_EQ(low_string(d), 1);
  EXPECT_EQ(low_string(e), 0);
  fill_string(f, ' ', '_');
  EXPECT_EQ((Fields{a, b, c, d, f}), (Fields{"abcd", "  x y", "line", "mixed 1", "a_b_c"}));
}

TEST(Flags, SlotRangeBatchHelpAndPlotSums) {
  FLAG_reset(-9999);
  EXPECT_FALSE(FLAG_batch() || FLAG_help());
  EXPECT_EQ((std::vector<int>{FLAG_set(30, 1), FLAG_set(29, 1LL << 40)}), (std::vector<int>{-1, 0}));
  EXPECT_EQ(FLAG_get(29), 1LL << 40);
  FLAG_set(FLAG_BATCH, 1);
  FLAG_set(FLAG_HELP, 2);
  EXPECT_TRUE(FLAG_batch() && FLAG_help());
  FLAG_reset(-9999);
  FLAG_resetplot(0);
  for (auto [plot, value] : {std::pair{3, 1}, {9, 2}, {0, 1}}) FLAG_setplot(plot, value);  // 0: every surface plot
  EXPECT_EQ((std::vector<int>{FLAG_getplot(0), FLAG_getplot(12)}), (std::vector<int>{6, 14}));
}

TEST(LineReading, EmptyLinesLongLinesInPiecesAndTheEnd) {
  FILE *f = std::tmpfile();
  std::fprintf(f, "first\n\n%s\nlast", std::string(200, 'x').c_str());
  std::rewind(f);
  char buf[TOOLS_LINE_MAX + 1];
  std::vector<int> lengths;
  for (int i = 0; i < 6; i++) lengths.push_back(fgetline(f, buf));
  EXPECT_EQ(lengths, (std::vector<int>{5, 0, TOOLS_LINE_MAX, 40, 4, EOF}));
  std::fclose(f);
}

TEST(ByteOrder, DataInHostOrderIsLeftAlone) {
  const int one = 1;
  const bool little = *reinterpret_cast<const unsigned char *>(&one) == 1;
  unsigned char word[4] = {1, 2, 3, 4}, shorts[4] = {1, 2, 3, 4};
  swap_setup(little ? 2 : 1);
  EXPECT_EQ(swap_long(word), -1);
  swap_setup(little ? 1 : 2);
  EXPECT_EQ(swap_long(word) + swap_shorts(shorts, 2), 0);
  EXPECT_EQ((std::vector<int>{word[0], word[3], shorts[0], shorts[3]}), (std::vector<int>{4, 1, 2, 3}));
  swap_setup(-1);
  EXPECT_EQ(swap_long(word), -1);
}

TEST(Timing, SleepsAddUpAndZeroIsRefused) {
  ZYB_init_time();
  EXPECT_EQ((std::vector<int>{ZYB_sleep(0.0f), ZYB_sleep(-1.0f), ZYB_sleep(0.05f)}), (std::vector<int>{-1, -1, 0}));
  const float elapsed = ZYB_elapse_time();
  EXPECT_TRUE(elapsed >= 0.045f && elapsed < 1.0f) << elapsed;
  ZYB_init_time();
  EXPECT_LT(ZYB_elapse_time(), 0.04f);
}

}  // namespace
