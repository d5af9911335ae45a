// The metafile workstation without a display: the records every kernel call
// writes, a text metafile read back through a second metafile (what is
// written must be what is read), bad metafiles, streamed records, "+" and
// "|" names, and a CGM file decoded element by element.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gks/gks.h"
#include "gks/gks_meta.h"
#include "proc_util.h"
#include "util/mess.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using zyb_test::read_file;

// "%f,%f " as printf writes it: the judge of our own number formatting.
std::string pts(std::initializer_list<float> xy) {
  std::string out;
  for (auto it = xy.begin(); it != xy.end(); it += 2) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%f,%f ", static_cast<double>(it[0]), static_cast<double>(it[1]));
    out += buf;
  }
  return out;
}

// The records after the four header lines.
std::string body(const std::string &path) {
  std::string text = read_file(path);
  size_t at = 0;
  for (int line = 0; line < 4 && at != std::string::npos; ++line) at = text.find('\n', at) + 1;
  return at == std::string::npos || at == 0 ? "" : text.substr(at);
}

class Meta : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(gopen_gks(nullptr, 0), 0); }
  void TearDown() override {
    gclose_ws(0);
    gclose_gks();
  }
  void open(const std::string &device) { ASSERT_EQ(gopen_ws(0, device.c_str(), GKS_META), 0) << device; }
  void write(const std::string &name, const std::string &text) {
    FILE *f = std::fopen((dir_ / name).c_str(), "w");
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }
  // Plays a metafile into a fresh metafile: the records that came through.
  std::string replayed(const std::string &source) {
    open(dir_ / "out.meta");
    gread_metafile(source.c_str());
    gclose_ws(0);
    return body(dir_ / "out.meta");
  }
  zyb_test::TempDir dir_;
};

// Calls of every kind, and the records they write.
void draw_everything() {
  const float p8[] = {0, 0, 0.25f, 0.25f, 0.5f, 0.5f, 0.75f, 0.75f, 1, 1, 0, 1, 1, 0, 0.5f, 0.25f};
  const float *p5 = p8;
  const float up[2] = {3, 4};
  const int align[2] = {2, 4}, font[2] = {3, 1};
  const float red[3] = {1, 0, 0.5f};
  const float vp[4] = {0.1f, 0.9f, 0.2f, 0.8f}, win[4] = {-10, 10, 0, 100};
  gpolyline(5, p5);
  gpolyline(4, p5);
  gfill_area(4, p5);
  gpolymarker(3, p5);
  gpolymarker(8, p8);
  gset_linewidth(2.5f);
  gset_linewidth(2.5f);
  gsel_norm_tran(0);
  gsel_norm_tran(2);
  gset_vp(2, vp);
  gset_win(2, win);
  const float at[2] = {-5, 50};
  gtext(at, "two  words");
  gtext(at, "");
  gset_char_up_vec(up);
  gset_char_up_vec(up);
  gset_text_align(align);
  gset_fontprec(font);
  gset_colr_rep(1, 5, red);
  gset_line_colr_ind(5);
  gset_marker_colr_ind(5);
  gset_marker_size(2);
  gset_marker_type(6);
  gset_fill_int_style(2);
  gset_fill_style_ind(3);
  gset_fill_style_ind(3);
  gset_char_ht(7);
  gset_expan(1.5f);
  gset_space(0.5f);
  gset_char_space(1);
  gset_text_width(3);
  gset_text_colr_ind(5);
}

const std::string kEverything =
    "PL 5 " + pts({0, 0, 0.25f, 0.25f, 0.5f, 0.5f, 0.75f, 0.75f}) + "\n   " + pts({1, 1}) + "\n" +  //
    "PL 4 " + pts({0, 0, 0.25f, 0.25f, 0.5f, 0.5f, 0.75f, 0.75f}) + "\n" +                          //
    "FA 4 " + pts({0, 0, 0.25f, 0.25f, 0.5f, 0.5f, 0.75f, 0.75f}) + "\n   " +                       //
    "PM 3 " + pts({0, 0, 0.25f, 0.25f, 0.5f, 0.5f}) + "\n" +                                        //
    "PM 8 " + pts({0, 0, 0.25f, 0.25f, 0.5f, 0.5f, 0.75f, 0.75f}) + "\n   " +                       //
    pts({1, 1, 0, 1, 1, 0, 0.5f, 0.25f}) + "\n   " +                                                //
    "PL_LW 2.500000\nTR 2\nVP 2 0.100000 0.200000 0.900000 0.800000\n"
    "WIN 2 -10.000000 0.000000 10.000000 100.000000\n"
    "TE -5.000000,50.000000 two  words\n"
    "TE_UP 3.000000,4.000000\nTE_UP 3.000000,4.000000\nTE_ALGN 2 4\nTE_FNT 3 1\n"
    "CLR 1 5 1.000000 0.000000 0.500000\nPL_CLR 5\nPM_CLR 5\nPM_SIZE 2.000000\nPM_TYPE 6\n"
    "FA_INT 2\nFA_ST 3\nFA_ST 3\nTE_HGHT 7.000000\nTE_EXP 1.500000\nTE_SPC 0.500000\nTE_CSPC 1.000000\n"
    "TE_WDTH 3.000000\nTE_CLR 5\n";

TEST_F(Meta, EveryCallWritesItsRecordWithTheLineBreaksOfItsKind) {
  open(dir_ / "a.meta");
  draw_everything();
  const float rect[4] = {0, 1, 0, 2};
  gclear_region(rect);
  gmessage(1, "hello there");
  gset_ws_win(1, rect);
  gclose_ws(0);
  const std::string text = read_file(dir_ / "a.meta");
  const std::string header = std::string("ZYBMETA\n#Title: ZYB Graphics Display: ") + gget_win_title() +
                             "\n#Creator: ZYB Metafile Processor-1.0\n#CreationDate: ";
  EXPECT_EQ(text.substr(0, header.size()), header);
  EXPECT_EQ(body(dir_ / "a.meta"), kEverything +
                                       "CLR_REG 0.000000 0.000000 1.000000 2.000000\nME hello there\n"
                                       "WS_WIN 1 0.000000 0.000000 1.000000 2.000000\n");
}

TEST_F(Meta, WhatIsWrittenIsWhatIsReadBack) {
  open(dir_ / "a.meta");
  draw_everything();
  gclose_ws(0);
  EXPECT_EQ(replayed(dir_ / "a.meta"), kEverything);
  // The first line is the header's, whatever it holds.
  write("first.meta", "TR 3\nTR 4\n");
  EXPECT_EQ(replayed(dir_ / "first.meta"), "TR 4\n");
}

TEST_F(Meta, AppendedAndPipedMetafiles) {
  const float line[4] = {0.25f, 0.25f, 0.75f, 0.5f};
  open(dir_ / "both.meta");
  gpolyline(2, line);
  gclose_ws(0);
  open("+" + dir_ / "both.meta");
  gset_line_colr_ind(1);
  gset_linetype(3);
  gpolyline(2, line);
  gclose_ws(0);
  open("|cat >" + dir_ / "piped.meta");
  gpolyline(2, line);
  gclose_ws(0);
  const std::string pl = "PL 2 " + pts({0.25f, 0.25f, 0.75f, 0.5f}) + "\n";
  EXPECT_EQ(body(dir_ / "piped.meta"), pl);
  // The second header in the middle reads as unknown words.
  EXPECT_EQ(replayed(dir_ / "both.meta"), pl + "PL_TYPE 3\n" + pl);
}

TEST_F(Meta, BadMetafilesAreReportedAndReadingGoesOn) {
  const std::string pm = "PM 1 " + pts({0.5f, 0.5f}) + "\n";
  const struct {
    const char *text;
    std::string records;
    const char *message;
  } cases[] = {
      {"h\nFOO 1 2\n#x PL 2 0,0 1,1\nSEG_CR 3\nPM 1 0.5,0.5\n", pm, ""},
      {"h\nPL 5 0.1,0.1 0.2,0.2\n", "", "PL record ends after 2 of 5 points"},
      {"h\nPL 3 0.1,0.1 0.2,0.2\nPM_TYPE 3\nPM 1 0.5,0.5\n", "PM_TYPE 3\n" + pm, "PL record ends after 2 of 3 points"},
      {"h\nPL 2000000000 0.1,0.1\nPM 1 0.5,0.5\n", pm, "PL record with a count of 2000000000 points refused"},
      {"h\nFA 90000 0.1,0.1 0.2,0.2\nPM 1 0.5,0.5\n", pm, "FA record of 90000 points is longer than the rest"},
      {"h\nPL 0\nFA -3 0,0 1,1\nPM 1 0.5,0.5\n", pm, "FA record with a count of -3 points refused"},
      {"h\nVP 1 a b c d\nWIN 1 0 0 1 nan\nTR 99999999999\nPL_LW inf\nTE_UP 1;2\nPM 1 0.5,0.5\n", pm, "bad WIN record"},
      {"h\nPM 1 0.5,0.5 PM_SIZE -4\nTE_ALGN 1\nTE 0.5,0.5 \n", pm, "gset_marker_size: invalid marker size"},
  };
  for (const auto &c : cases) {
    write("bad.meta", c.text);
    CaptureStderr();
    EXPECT_EQ(replayed(dir_ / "bad.meta"), c.records) << c.text;
    const std::string said = GetCapturedStderr();
    EXPECT_NE(said.find(c.message), std::string::npos) << c.text << " said:\n" << said;
  }
  CaptureStderr();
  EXPECT_EQ(replayed(dir_ / "missing.meta"), "");
  EXPECT_NE(GetCapturedStderr().find("gread_metafile: Unable to open image file:"), std::string::npos);
}

TEST_F(Meta, BinaryJunkIsReadToItsEndQuickly) {
  std::mt19937 rng(7);
  for (int round = 0; round < 4; ++round) {
    std::string junk;
    for (int i = 0; i < 200000; ++i) junk += static_cast<char>(rng() % (round < 2 ? 256 : 48) + (round < 2 ? 0 : 42));
    write("junk.meta", junk + "\nPM 1 0.5,0.5\n");
    const auto start = std::chrono::steady_clock::now();
    MESS_set(0, 0);  // a flood of refusals is not what this checks
    replayed(dir_ / "junk.meta");
    MESS_reset();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
  }
}

TEST_F(Meta, StreamedRecordsDrawLinesAndAreasWhosePointsGoOnInTheNextRecords) {
  open(dir_ / "s.meta");
  GmetaStream stream;
  const struct {
    const char *record;
    GmetaStream::Result result;
  } records[] = {
      {"WS_WIN 1 0 0 1 1", GmetaStream::kDone},
      {"VP 1 0 0 1 1", GmetaStream::kDone},
      {"TR 1", GmetaStream::kDone},
      {"PL 6 0.1,0.1 0.2,0.2", GmetaStream::kMorePoints},
      {"   0.3,0.3", GmetaStream::kMorePoints},
      {"0.4,0.4 0.5,0.5 0.6,0.6 0.7,0.7", GmetaStream::kDone},
      {"PM 1 0.5,0.5", GmetaStream::kDone},
      {"FA 3 0.1,0.1", GmetaStream::kMorePoints},
      {"PL_CLR 2", GmetaStream::kDone},
      {"FA 3 0.1,0.1 0.9,0.1", GmetaStream::kMorePoints},
      {"0.5,0.9", GmetaStream::kDone},
      {"FA 2", GmetaStream::kMorePoints},
      {"End", GmetaStream::kEnd},
  };
  CaptureStderr();
  for (const auto &r : records) EXPECT_EQ(stream.feed(r.record), r.result) << r.record;
  const std::string said = GetCapturedStderr();
  gclose_ws(0);
  EXPECT_EQ(body(dir_ / "s.meta"), "VP 1 0.000000 0.000000 1.000000 1.000000\nTR 1\nPL 6 " +
                                       pts({0.1f, 0.1f, 0.2f, 0.2f, 0.3f, 0.3f, 0.4f, 0.4f}) + "\n   " +
                                       pts({0.5f, 0.5f, 0.6f, 0.6f}) + "\nFA 3 " +
                                       pts({0.1f, 0.1f, 0.9f, 0.1f, 0.5f, 0.9f}) + "\n");
  EXPECT_NE(said.find("streamed FA record ends after 1 of 3 points"), std::string::npos) << said;
  EXPECT_NE(said.find("streamed FA record ends after 0 of 2 points"), std::string::npos) << said;
}

// Numbers come back as the nearest float, as strtof reads them: a window
// read from a metafile holds exactly strtof's values.
TEST_F(Meta, NumbersAreReadAsStrtofReadsThem) {
  std::mt19937 rng(11);
  auto number = [&rng]() {
    char buf[64];
    const double magnitude = std::pow(10.0, static_cast<int>(rng() % 12) - 4);
    const double v = (static_cast<double>(rng()) / rng.max() - 0.3) * magnitude;
    const int places = static_cast<int>(rng() % 11);
    std::snprintf(buf, sizeof buf, rng() % 8 ? "%.*f" : "%.*e", places, v);
    return std::string(buf);
  };
  open(dir_ / "out.meta");
  int wrong = 0;
  for (int round = 0; round < 1000 && wrong < 5; ++round) {
    std::string text = "h\n";
    std::vector<std::string> words;  // x0 y0 x1 y1 of each window
    for (int n = 0; n < GKS_NUM_TRAN; ++n) {
      text += "WIN " + std::to_string(n);
      for (int i = 0; i < 4; ++i) text += " " + words.emplace_back(number());
      text += "\n";
    }
    write("numbers.meta", text);
    MESS_set(0, 0);  // a degenerate window now and then is refused, and says so
    gread_metafile((dir_ / "numbers.meta").c_str());
    MESS_reset();
    for (int n = 0; n < GKS_NUM_TRAN; ++n) {
      float want[4], got[8];  // x0 x1 y0 y1
      for (int i = 0; i < 4; ++i) want[i] = std::strtof(words[4 * n + i % 2 * 2 + i / 2].c_str(), nullptr);
      int err = 0;
      ginq_norm_tran(n, &err, got);
      if (want[0] != want[1] && want[2] != want[3] && std::memcmp(got, want, sizeof want) != 0 && wrong++ < 5)
        ADD_FAILURE() << words[4 * n] << " " << words[4 * n + 1] << " " << words[4 * n + 2] << " " << words[4 * n + 3];
    }
  }
}

// ---------------------------------------------------------------- CGM

// An element of a binary CGM file as an independent reading finds it.
struct Element {
  int cls, id;
  std::vector<unsigned char> params;
  int word(size_t i) const { return static_cast<int16_t>(params[2 * i] << 8 | params[2 * i + 1]); }
};

// Header word: class 4 bits, id 7 bits, length 5 bits; 31 means a long
// form word follows (partition flag and 15 bits of length). Parameters
// are padded to a whole word.
std::vector<Element> decode_cgm(const std::string &bytes) {
  std::vector<Element> out;
  size_t at = 0;
  auto word = [&](size_t i) {
    return static_cast<unsigned>(static_cast<unsigned char>(bytes[i]) << 8 | static_cast<unsigned char>(bytes[i + 1]));
  };
  while (at + 2 <= bytes.size()) {
    const unsigned head = word(at);
    at += 2;
    size_t length = head & 31;
    if (length == 31) {
      if (at + 2 > bytes.size()) break;
      EXPECT_EQ(word(at) & 0x8000, 0u) << "no partitions";
      length = word(at) & 0x7FFF;
      at += 2;
    }
    if (at + length > bytes.size()) {
      ADD_FAILURE() << "element runs past the end";
      break;
    }
    out.push_back({static_cast<int>(head >> 12), static_cast<int>(head >> 5 & 127),
                   std::vector<unsigned char>(bytes.begin() + at, bytes.begin() + at + length)});
    at += length + (length & 1);
  }
  EXPECT_EQ(at, bytes.size());
  return out;
}

TEST_F(Meta, CgmHoldsTheHeaderClipRectanglesAndPolylinesOnly) {
  open(dir_ / "a.cgm,cgm");
  // A page of 1000 x 800 takes a plot of 799 x 799 units.
  std::vector<float> long_line;
  for (int i = 0; i < 9000; ++i) long_line.insert(long_line.end(), {i / 9000.0f, 0.5f});
  const float line[4] = {0.1f, 0.2f, 1, 1}, vp[4] = {0.25f, 0.5f, 0, 0.75f};
  gpolyline(2, line);
  gpolymarker(2, line);
  gfill_area(2, line);
  gtext(line, "text");
  gset_line_colr_ind(1);
  gset_linetype(2);
  gset_vp(0, vp);
  gpolyline(9000, long_line.data());
  gclose_ws(0);
  const std::vector<Element> e = decode_cgm(read_file(dir_ / "a.cgm"));
  ASSERT_EQ(e.size(), 14u);
  using Pair = std::pair<int, int>;
  const Pair header[] = {{0, 1}, {1, 1}, {1, 2}, {1, 11}, {1, 9}, {2, 6}, {0, 3}, {0, 4}};
  for (size_t i = 0; i < std::size(header); ++i) EXPECT_EQ(Pair(e[i].cls, e[i].id), header[i]) << i;
  EXPECT_EQ(e[1].word(0), 1) << "version 1";
  EXPECT_EQ(std::string(e[2].params.begin(), e[2].params.end()), std::string("\nZYBCGM-1.0"));
  EXPECT_EQ((std::vector<int>{e[3].word(0), e[3].word(1), e[3].word(2)}), (std::vector<int>{1, -1, 1}));
  EXPECT_EQ(e[4].params, (std::vector<unsigned char>{255}));
  EXPECT_EQ((std::vector<int>{e[5].word(0), e[5].word(1), e[5].word(2), e[5].word(3)}),
            (std::vector<int>{0, 0, 10000, 8000}));
  auto words = [](const Element &el) {
    std::vector<int> w;
    for (size_t i = 0; i < el.params.size() / 2; ++i) w.push_back(el.word(i));
    return w;
  };
  // The clip of the open (the whole plot), the line, the new viewport's clip.
  EXPECT_EQ(Pair(e[8].cls, e[8].id), Pair(3, 5));
  EXPECT_EQ(words(e[8]), (std::vector<int>{0, 0, 799, 799}));
  EXPECT_EQ(Pair(e[9].cls, e[9].id), Pair(4, 1));
  EXPECT_EQ(words(e[9]), (std::vector<int>{79, 159, 799, 799}));
  EXPECT_EQ(words(e[10]), (std::vector<int>{199, 0, 399, 599}));
  // 9000 points: 8191 in one element, then 810 from where it ended.
  ASSERT_EQ(e[11].params.size(), 8191u * 4);
  ASSERT_EQ(e[12].params.size(), 810u * 4);
  EXPECT_EQ(e[11].word(2 * 8190), e[12].word(0));
  EXPECT_EQ(e[12].word(2 * 809), static_cast<int>((8999 / 9000.0f * 0.25f + 0.25f) * 799.0f)) << "the last point";
  EXPECT_EQ(e[12].word(1), 299) << "y 0.5 of the window, at the viewport's 0.375";
  EXPECT_EQ(Pair(e[13].cls, e[13].id), Pair(0, 5)) << "END PICTURE";
}

}  // namespace
