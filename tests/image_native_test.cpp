// The suite's native image files, written here from the format (zlib for
// the deflated forms) and read through IMG_read: every option letter and
// size form, several streams, a file still being written, and damaged files.
#include <gtest/gtest.h>

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "image/img_tool.h"
#include "image_util.h"
#include "util/mess.h"

using namespace zyb_test;

namespace {

const std::string kPixels = "ABCDEFGH";  // 4 x 2

std::string deflated(const std::string &bytes) {
  uLongf size = compressBound(bytes.size());
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(bytes.data()), bytes.size(),
            9);
  out.resize(size);
  return out;
}

std::string header(const std::string &options, const std::string &size = "4 2") {
  return "ZYBIMG" + options + "\n12Z 07 MAR 06\nRadar composite\n" + size + "\n";
}

class NativeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MESS_set(0, 0);
    old_wait_ = IMG_set_native_wait(0.0f);
  }
  void TearDown() override {
    IMG_set_native_wait(old_wait_);
    IMG_set_untrusted(0);
  }
  std::string file(const std::string &name, const std::string &bytes) {
    write_bytes(dir_ / name, bytes);
    return dir_ / name;
  }
  // The pixels read, or "" when IMG_read fails.
  std::string read(const std::string &bytes, Record *img) {
    if (IMG_read(file("in.zyb", bytes).c_str(), img, 0) != 1) return "";
    return std::string(reinterpret_cast<char *>(img->data), static_cast<size_t>(img->bytes_per_line) * img->height);
  }
  TempDir dir_;
  float old_wait_ = 1.0f;
};

TEST_F(NativeTest, EveryOptionAndSizeFormReadsThePixels) {
  const std::string data = file("pixels.raw", kPixels);
  const std::string c_block = std::string("\1\2\0\3", 4) + "123456";
  struct Row {
    const char *what;
    std::string bytes;
    int proj;
    float clat;
  } rows[] = {
      {"raw", header("") + kPixels, DOM_MISSING, DOM_MISSING},
      {"deflated", header("Z") + deflated(kPixels), DOM_MISSING, DOM_MISSING},
      {"two streams", header("Z") + deflated("ABC") + deflated("DEFGH"), DOM_MISSING, DOM_MISSING},
      {"data file, Z ignored", header("Z*") + data + "\n", DOM_MISSING, DOM_MISSING},
      {"V block", header("V") + std::string(1024, 'v') + kPixels, DOM_MISSING, DOM_MISSING},
      {"C block", header("xC") + c_block + kPixels, DOM_MISSING, DOM_MISSING},
      {"V and C blocks", header("CZV") + std::string(1024, 'v') + c_block + deflated(kPixels), DOM_MISSING,
       DOM_MISSING},
      {"domain text", header("4", "ps,40,-100,4,2,1.2,1.2") + kPixels, 1, 40},
      {"token line", header("", "PS:-105\n40 -100 1.2 1.2 4 2") + kPixels, 1, 40},
      {"token and numbers", header("Z", "LC:40:-100:30:60:0 41 -99 1.2 1.2 4 2") + deflated(kPixels), 4, 41},
      {"satellite", header("", "SAT:0:-75:421.61 0 -75 0.1 0.1 4 2") + kPixels, 9, 0},
      {"lat/lon", header("", "LL 30 10 0.5 0.5 4 2") + kPixels, 2, 30},
      {"stream larger than the image", header("Z") + deflated(kPixels + std::string(100000, 'x')), DOM_MISSING,
       DOM_MISSING},
  };
  for (const Row &r : rows) {
    Record img;
    EXPECT_EQ(read(r.bytes, &img), kPixels) << r.what;
    EXPECT_EQ(std::make_tuple(img.width, img.height, img.depth, img.source, img.num_colors, img.domain.nx),
              std::make_tuple(4, 2, 8, IMG_SOURCE_NATIVE, 0, 4))
        << r.what;
    EXPECT_EQ(std::make_pair(img.domain.proj, img.domain.clat), std::make_pair(r.proj, r.clat)) << r.what;
    EXPECT_STREQ(img.info, "Radar composite") << r.what;
    EXPECT_EQ((std::vector<int>{img.date.year, img.date.month, img.date.day, img.date.hour}),
              (std::vector<int>{2006, 3, 7, 12}))
        << r.what;
  }
  Record img;
  read(header("", "LC:40:-100:30:60:0\n41 -99 1.2 1.5 4 2") + kPixels, &img);
  EXPECT_EQ((std::vector<float>{img.domain.plat, img.domain.plon, img.domain.p1, img.domain.p2, img.domain.dy}),
            (std::vector<float>{40, -100, 30, 60, 1.5f}));
}

TEST_F(NativeTest, ShortAndDamagedDataKeepWhatCameBefore) {
  const std::string first = deflated("ABCD");
  const std::string cut = deflated(kPixels);
  struct Row {
    const char *what;
    std::string bytes, pixels;
  } rows[] = {
      {"short raw file", header("") + "ABC", std::string("ABC") + std::string(5, '\0')},
      {"garbage after a stream", header("Z") + first + "garbage!", std::string("ABCD") + std::string(4, '\0')},
      {"truncated stream", header("Z") + first + cut.substr(0, cut.size() / 2), ""},
      {"no stream at all", header("Z") + "not zlib at all", std::string(8, '\0')},
  };
  for (const Row &r : rows) {
    Record img;
    auto start = std::chrono::steady_clock::now();
    std::string got = read(r.bytes, &img);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << r.what;
    ASSERT_EQ(got.size(), 8u) << r.what;
    if (!r.pixels.empty())
      EXPECT_EQ(got, r.pixels) << r.what;
    else
      EXPECT_EQ(got.substr(0, 4), "ABCD") << r.what;
  }
}

TEST_F(NativeTest, ADeflatedFileStillBeingWrittenIsWaitedFor) {
  IMG_set_native_wait(0.05f);
  const std::string stream = deflated(kPixels);
  const std::string path = file("growing.zyb", header("Z") + stream.substr(0, 4));
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    FILE *f = std::fopen(path.c_str(), "ab");
    std::fwrite(stream.data() + 4, 1, stream.size() - 4, f);
    std::fclose(f);
  });
  Record img;
  EXPECT_EQ(IMG_read(path.c_str(), &img, 0), 1);
  writer.join();
  ASSERT_NE(img.data, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(img.data), 8), kPixels);
}

TEST_F(NativeTest, BadHeadersAndRefusedDataFilesFail) {
  const std::string bad[] = {
      // magic, missing lines, sizes
      "ZYBXX\n" + kPixels, "ZYBIMG", "ZYBIMG\n12Z 07 MAR 06\n", header("", "") + kPixels, header("", "0 2") + kPixels,
      header("", "-4 2") + kPixels, header("", "4 2 7") + kPixels, header("", "99999999999 2") + kPixels,
      header("", "2147483647 2147483647") + kPixels, header("", "65536 65536") + kPixels,
      // domains
      header("4", "ps,40") + kPixels, header("4", "size,70000,2") + kPixels, header("", "XX 1 2 3 4 5 6") + kPixels,
      header("", "PS:-105 40 -100 1.2 1.2 4") + kPixels, header("", "LC:1:2 40 -100 1.2 1.2 4 2") + kPixels,
      header("", "LL nan 0 1 1 4 2") + kPixels,
      // blocks and data files
      header("V") + "short", header("C") + "\1\2", header("*") + "missing.raw\n", header("*")};
  const size_t old_max = IMG_set_max_bytes(size_t{1} << 30);
  for (const std::string &bytes : bad) {
    Record img;
    EXPECT_EQ(read(bytes, &img), "") << bytes.substr(0, 60);
    EXPECT_EQ(img.data, nullptr) << bytes.substr(0, 60);
  }
  IMG_set_max_bytes(old_max);
  // A client may not name a pipe, a standard stream or a device as data file.
  for (const char *name : {"/dev/null", "-", "|echo ABCDEFGH"}) {
    Record img;
    const std::string bytes = header("*") + name + "\n";
    IMG_set_untrusted(1);
    EXPECT_EQ(read(bytes, &img), "") << name;
    IMG_set_untrusted(0);
    if (name[0] == '/') {
      EXPECT_EQ(read(bytes, &img), std::string(8, '\0')) << name;
    }
  }
}

}  // namespace
