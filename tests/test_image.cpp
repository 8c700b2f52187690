// Image readers and writers: PNG colour conversions, transparency, info text,
// 16-bit grey and RGB round trips, PPM/PGM, the predictive V6/V7 raster, and
// the mip chain rules.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/mem.h"
#include "render/image.h"
#include "tests/test_helpers.h"

namespace {

// ---------------------------------------------------------------- PNG fixtures

struct PngFixture {
  int width = 1, height = 1;
  int color_type = PNG_COLOR_TYPE_RGB;
  int bit_depth = 8;
  bool interlace = false;
  std::vector<uint8_t> rows;  // packed rows as PNG stores them
  std::vector<png_color> palette;
  std::vector<uint8_t> trns_alpha;  // palette transparency
  bool trns_colour = false;         // grey/RGB transparency colour
  png_color_16 trns_value = {};
  std::vector<std::string> text_before, text_after;
};

void append_bytes(png_structp png, png_bytep data, size_t length) {
  auto* out = (std::string*)png_get_io_ptr(png);
  out->append((const char*)data, length);
}

std::string encode_png(const PngFixture& s) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    ADD_FAILURE() << "libpng failed writing the fixture";
    return "";
  }
  png_set_write_fn(png, &out, append_bytes, nullptr);
  png_set_IHDR(png, info, s.width, s.height, s.bit_depth, s.color_type,
               s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), (int)s.palette.size());
  if (!s.trns_alpha.empty())
    png_set_tRNS(png, info, s.trns_alpha.data(), (int)s.trns_alpha.size(), nullptr);
  if (s.trns_colour) png_set_tRNS(png, info, nullptr, 0, (png_color_16p)&s.trns_value);
  std::vector<png_text> before(s.text_before.size()), after(s.text_after.size());
  for (size_t i = 0; i < before.size(); i++) {
    before[i] = {};
    before[i].compression = PNG_TEXT_COMPRESSION_NONE;
    before[i].key = (png_charp) "Comment";
    before[i].text = (png_charp)s.text_before[i].c_str();
  }
  if (!before.empty()) png_set_text(png, info, before.data(), (int)before.size());
  png_write_info(png, info);
  size_t row_bytes = s.rows.size() / s.height;
  std::vector<png_bytep> pointers(s.height);
  for (int y = 0; y < s.height; y++) pointers[y] = (png_bytep)s.rows.data() + row_bytes * y;
  png_write_image(png, pointers.data());
  for (size_t i = 0; i < after.size(); i++) {
    after[i] = {};
    after[i].compression = PNG_TEXT_COMPRESSION_zTXt;
    after[i].key = (png_charp) "Comment";
    after[i].text = (png_charp)s.text_after[i].c_str();
  }
  if (!after.empty()) png_set_text(png, info, after.data(), (int)after.size());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

bool read_memory(const std::string& bytes, Image* out) {
  DataFile* f = data_open_memory(bytes.data(), bytes.size(), false, false);
  bool ok = image_read_stream(f, nullptr, out);
  data_close(f);
  return ok;
}

std::vector<uint8_t> pixels_of(const Image& image) {
  return std::vector<uint8_t>(image.pixels,
                              image.pixels + (size_t)image.width * image.height * image.channels);
}

// ---------------------------------------------------------------- PNG reading

struct ColourCase {
  const char* label;
  PngFixture fixture;
  int channels;
  std::vector<uint8_t> expected;
};

PngFixture png_fixture(int w, int h, int type, int depth, std::vector<uint8_t> rows) {
  PngFixture s;
  s.width = w;
  s.height = h;
  s.color_type = type;
  s.bit_depth = depth;
  s.rows = std::move(rows);
  return s;
}

std::vector<ColourCase> colour_cases() {
  std::vector<ColourCase> cases;
  cases.push_back({"grey 8",
                   png_fixture(3, 1, PNG_COLOR_TYPE_GRAY, 8, {0, 100, 255}),
                   3,
                   {0, 0, 0, 100, 100, 100, 255, 255, 255}});
  // 1-bit grey: bits 1, 0 expand to 255, 0.
  cases.push_back(
      {"grey 1", png_fixture(2, 1, PNG_COLOR_TYPE_GRAY, 1, {0x80}), 3, {255, 255, 255, 0, 0, 0}});
  // 4-bit grey 0xA widens to 0xAA.
  cases.push_back({"grey 4",
                   png_fixture(2, 1, PNG_COLOR_TYPE_GRAY, 4, {0xA3}),
                   3,
                   {0xAA, 0xAA, 0xAA, 0x33, 0x33, 0x33}});
  cases.push_back(
      {"grey 16", png_fixture(1, 1, PNG_COLOR_TYPE_GRAY, 16, {0x12, 0x34}), 3, {0x12, 0x12, 0x12}});
  cases.push_back(
      {"grey alpha 8", png_fixture(1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {50, 128}), 4, {50, 50, 50, 128}});
  cases.push_back({"grey alpha 16",
                   png_fixture(1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 16, {0x40, 0xFF, 0x80, 0x01}),
                   4,
                   {0x40, 0x40, 0x40, 0x80}});
  cases.push_back(
      {"rgb 8", png_fixture(2, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 4, 5, 6}), 3, {1, 2, 3, 4, 5, 6}});
  cases.push_back({"rgb 16",
                   png_fixture(1, 1, PNG_COLOR_TYPE_RGB, 16, {0xAB, 0xCD, 0x01, 0x02, 0xFE, 0xFF}),
                   3,
                   {0xAB, 0x01, 0xFE}});
  cases.push_back({"rgba 8",
                   png_fixture(1, 2, PNG_COLOR_TYPE_RGBA, 8, {1, 2, 3, 4, 5, 6, 7, 8}),
                   4,
                   {1, 2, 3, 4, 5, 6, 7, 8}});
  {
    PngFixture s = png_fixture(3, 1, PNG_COLOR_TYPE_PALETTE, 8, {2, 0, 1});
    s.palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
    cases.push_back({"palette 8", s, 3, {70, 80, 90, 10, 20, 30, 40, 50, 60}});
  }
  {
    // 2-bit indexes 3, 1, 0, 2 in one byte.
    PngFixture s = png_fixture(4, 1, PNG_COLOR_TYPE_PALETTE, 2, {0xD2});
    s.palette = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}};
    cases.push_back({"palette 2", s, 3, {4, 4, 4, 2, 2, 2, 1, 1, 1, 3, 3, 3}});
  }
  {
    PngFixture s = png_fixture(2, 1, PNG_COLOR_TYPE_PALETTE, 8, {0, 1});
    s.palette = {{10, 20, 30}, {40, 50, 60}};
    s.trns_alpha = {77};  // entry 1 has no alpha entry: opaque
    cases.push_back({"palette tRNS", s, 4, {10, 20, 30, 77, 40, 50, 60, 255}});
  }
  {
    PngFixture s = png_fixture(2, 1, PNG_COLOR_TYPE_GRAY, 8, {7, 8});
    s.trns_colour = true;
    s.trns_value.gray = 7;
    cases.push_back({"grey tRNS", s, 4, {7, 7, 7, 0, 8, 8, 8, 255}});
  }
  {
    PngFixture s = png_fixture(2, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 4, 5, 6});
    s.trns_colour = true;
    s.trns_value.red = 4;
    s.trns_value.green = 5;
    s.trns_value.blue = 6;
    cases.push_back({"rgb tRNS", s, 4, {1, 2, 3, 255, 4, 5, 6, 0}});
  }
  {
    std::vector<uint8_t> rows;
    std::vector<uint8_t> expected;
    for (int i = 0; i < 9 * 7 * 3; i++) rows.push_back((uint8_t)(i * 7));
    PngFixture s = png_fixture(9, 7, PNG_COLOR_TYPE_RGB, 8, rows);
    s.interlace = true;
    cases.push_back({"interlaced rgb", s, 3, rows});
  }
  return cases;
}

TEST(ImagePng, ColourTypesBecomeRgbOrRgba) {
  for (const ColourCase& c : colour_cases()) {
    SCOPED_TRACE(c.label);
    Image image;
    ASSERT_TRUE(read_memory(encode_png(c.fixture), &image)) << image_last_error();
    EXPECT_EQ(image.width, c.fixture.width);
    EXPECT_EQ(image.height, c.fixture.height);
    EXPECT_EQ(image.channels, c.channels);
    EXPECT_EQ(pixels_of(image), c.expected);
    EXPECT_EQ(image.info, nullptr);
    image_free(&image);
  }
}

TEST(ImagePng, InfoTextJoinsChunksAndSideFile) {
  TempDir dir;
  PngFixture s = png_fixture(1, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3});
  s.text_before = {"[mip_max_alpha]", "one "};
  s.text_after = {"[compress]"};
  write_file(dir.file("a.png"), encode_png(s));
  write_file(dir.file("a.png.info"), "[mip_custom]\n");
  Image image;
  ASSERT_TRUE(image_read(dir.file("a.png").c_str(), &image)) << image_last_error();
  ASSERT_NE(image.info, nullptr);
  EXPECT_STREQ(image.info, "[mip_max_alpha]one [compress][mip_custom]\n");
  image_free(&image);

  // Only the side file.
  write_file(dir.file("b.png"), encode_png(png_fixture(1, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3})));
  write_file(dir.file("b.png.info"), "side");
  ASSERT_TRUE(image_read(dir.file("b.png").c_str(), &image));
  ASSERT_NE(image.info, nullptr);
  EXPECT_STREQ(image.info, "side");
  image_free(&image);
}

TEST(ImagePng, DamagedFilesFail) {
  std::string good = encode_png(png_fixture(4, 4, PNG_COLOR_TYPE_RGB, 8, std::vector<uint8_t>(48, 9)));
  struct Case {
    const char* label;
    std::string bytes;
  } cases[] = {
      {"truncated in the header", good.substr(0, 20)},
      {"truncated in the data", good.substr(0, good.size() - 30)},
      {"bad signature", "\x89PNX\r\n\x1a\n" + good.substr(8)},
      {"not an image", "hello world"},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Image image;
    image_set_error("%s", "");
    EXPECT_FALSE(read_memory(c.bytes, &image));
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_STRNE(image_last_error(), "");
  }
  // A file cut after its image data still gives the image.
  std::string no_end = good.substr(0, good.size() - 12);
  Image image;
  ASSERT_TRUE(read_memory(no_end, &image)) << image_last_error();
  EXPECT_EQ(pixels_of(image), std::vector<uint8_t>(48, 9));
  image_free(&image);
}

TEST(ImagePng, HugeDimensionsAreRefused) {
  // IHDR claiming 100000 x 100000: refused before any allocation.
  PngFixture s = png_fixture(1, 1, PNG_COLOR_TYPE_GRAY, 8, {0});
  std::string bytes = encode_png(s);
  // Patch width/height (bytes 16..23) without fixing the CRC: libpng checks
  // the CRC of critical chunks, so build a valid one instead.
  std::string ihdr = bytes.substr(12, 17);  // "IHDR" + 13 data bytes
  uint32_t big = 100000;
  for (int i = 0; i < 4; i++) ihdr[4 + i] = ihdr[8 + i] = (char)(big >> (24 - 8 * i));
  uint32_t crc = (uint32_t)crc32(0, (const Bytef*)ihdr.data(), (uInt)ihdr.size());
  std::string crc_bytes;
  for (int i = 0; i < 4; i++) crc_bytes += (char)(crc >> (24 - 8 * i));
  std::string patched = bytes.substr(0, 12) + ihdr + crc_bytes + bytes.substr(33);
  Image image;
  EXPECT_FALSE(read_memory(patched, &image));
  EXPECT_NE(std::string(image_last_error()).find("PNG error"), std::string::npos);
}

// ---------------------------------------------------------------- 16-bit grey and RGB writing

TEST(ImagePng, Grey16RoundTripIsExact) {
  TempDir dir;
  std::vector<uint16_t> samples = {0, 1, 255, 256, 0x8001, 0xFFFE, 0xFFFF, 0x1234, 42, 7, 9, 65000};
  std::string path = dir.file("sub/h.png");
  ASSERT_TRUE(image_write_png_grey16(path.c_str(), samples.data(), 4, 3)) << image_last_error();
  uint16_t* read = nullptr;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(image_read_png_grey16(path.c_str(), &read, &w, &h)) << image_last_error();
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 3);
  EXPECT_EQ(std::vector<uint16_t>(read, read + 12), samples);
  mem_free(read);

  // The file is a real 16-bit grey PNG.
  std::string bytes = read_file(path);
  ASSERT_GT(bytes.size(), 26u);
  EXPECT_EQ((uint8_t)bytes[24], 16);  // bit depth
  EXPECT_EQ((uint8_t)bytes[25], 0);   // colour type grey
}

TEST(ImagePng, Grey16ReadsOtherKinds) {
  TempDir dir;
  struct Case {
    const char* label;
    PngFixture fixture;
    std::vector<uint16_t> expected;
  };
  PngFixture palette = png_fixture(2, 1, PNG_COLOR_TYPE_PALETTE, 8, {1, 0});
  palette.palette = {{9, 9, 9}, {200, 200, 200}};
  PngFixture grey_trns = png_fixture(2, 1, PNG_COLOR_TYPE_GRAY, 8, {5, 6});
  grey_trns.trns_colour = true;
  grey_trns.trns_value.gray = 5;
  std::vector<Case> cases = {
      {"8-bit widened", png_fixture(3, 1, PNG_COLOR_TYPE_GRAY, 8, {0x12, 0, 255}), {0x1212, 0, 0xFFFF}},
      {"2-bit grey", png_fixture(2, 1, PNG_COLOR_TYPE_GRAY, 2, {0xC0}), {0xFFFF, 0}},
      {"grey alpha drops alpha", png_fixture(1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {0x40, 0}), {0x4040}},
      {"rgb grey colour",
       png_fixture(2, 1, PNG_COLOR_TYPE_RGB, 8, {80, 80, 80, 255, 255, 255}),
       {80 * 257, 0xFFFF}},
      {"rgba",
       png_fixture(1, 1, PNG_COLOR_TYPE_RGBA, 16, {0x12, 0x34, 0x12, 0x34, 0x12, 0x34, 0, 0}),
       {0x1234}},
      {"palette", palette, {200 * 257, 9 * 257}},
      {"transparency ignored", grey_trns, {5 * 257, 6 * 257}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string path = dir.file("g.png");
    write_file(path, encode_png(c.fixture));
    uint16_t* read = nullptr;
    int32_t w = 0, h = 0;
    ASSERT_TRUE(image_read_png_grey16(path.c_str(), &read, &w, &h)) << image_last_error();
    EXPECT_EQ(w, c.fixture.width);
    EXPECT_EQ(std::vector<uint16_t>(read, read + w * h), c.expected);
    mem_free(read);
  }
  uint16_t* read = nullptr;
  int32_t w = 1, h = 1;
  EXPECT_FALSE(image_read_png_grey16(dir.file("missing.png").c_str(), &read, &w, &h));
  EXPECT_EQ(read, nullptr);
  EXPECT_EQ(w, 0);
}

TEST(ImagePng, RgbWriteReadsBack) {
  TempDir dir;
  std::vector<uint8_t> rgb;
  for (int i = 0; i < 5 * 3 * 3; i++) rgb.push_back((uint8_t)(i * 11 + 3));
  std::string path = dir.file("shot.png");
  ASSERT_TRUE(image_write_png_rgb(path.c_str(), rgb.data(), 5, 3));
  Image image;
  ASSERT_TRUE(image_read(path.c_str(), &image)) << image_last_error();
  EXPECT_EQ(image.width, 5);
  EXPECT_EQ(image.height, 3);
  EXPECT_EQ(image.channels, 3);
  EXPECT_EQ(pixels_of(image), rgb);
  image_free(&image);

  EXPECT_FALSE(image_write_png_rgb(dir.file("x.png").c_str(), rgb.data(), 0, 3));
  write_file(dir.file("plain"), "a file, not a directory");
  EXPECT_FALSE(image_write_png_rgb(dir.file("plain/x.png").c_str(), rgb.data(), 5, 3));
  EXPECT_FALSE(file_exists(dir.file("x.png")));
}

// ---------------------------------------------------------------- PPM / PGM

struct PnmCase {
  const char* label;
  std::string bytes;
  int width, height, channels;
  std::vector<uint8_t> expected;
};

TEST(ImagePnm, ReadsAllFourKinds) {
  std::vector<PnmCase> cases = {
      {"P6 with comments",
       std::string("P6\n# made by hand\n2 # width\n1\n#max\n255\n") +
           std::string("\x01\x02\x03\xfd\xfe\xff", 6),
       2,
       1,
       3,
       {1, 2, 3, 253, 254, 255}},
      {"P6 whitespace byte that looks like data",
       std::string("P6 1 1 255\n\n\t ", 14),
       1,
       1,
       3,
       {'\n', '\t', ' '}},
      {"P3 text", "P3\n# c\n2 1\n255\n1 2 3\n# mid\n 4 5 6\n", 2, 1, 3, {1, 2, 3, 4, 5, 6}},
      {"P3 maxval 15", "P3 2 1 15 15 7 0 1 2 3", 2, 1, 3, {255, 119, 0, 17, 34, 51}},
      {"P6 maxval 100",
       std::string("P6 1 1 100\n") + std::string("\x64\x32\x00", 3),
       1,
       1,
       3,
       {255, 127, 0}},
      {"P6 16-bit samples",
       std::string("P6 1 1 65535\n") + std::string("\xff\xff\x80\x00\x00\x01", 6),
       1,
       1,
       3,
       {255, 127, 0}},
      {"P5",
       std::string("P5\n3 1\n255\n") + std::string("\x00\x80\xff", 3),
       3,
       1,
       1,
       {0, 128, 255}},
      {"P2 with maxval 3", "P2\n# grey\n2 2\n3\n0 1\n2 3\n", 2, 2, 1, {0, 85, 170, 255}},
  };
  for (const PnmCase& c : cases) {
    SCOPED_TRACE(c.label);
    DataFile* f = data_open_memory(c.bytes.data(), c.bytes.size(), false, false);
    Image image;
    ASSERT_TRUE(image_read_pnm_stream(f, &image)) << image_last_error();
    data_close(f);
    EXPECT_EQ(image.width, c.width);
    EXPECT_EQ(image.height, c.height);
    EXPECT_EQ(image.channels, c.channels);
    EXPECT_EQ(pixels_of(image), c.expected);
    image_free(&image);
    // Reading by content gives the same.
    ASSERT_TRUE(read_memory(c.bytes, &image)) << image_last_error();
    EXPECT_EQ(pixels_of(image), c.expected);
    image_free(&image);
  }
}

TEST(ImagePnm, BadHeadersNameTheFault) {
  struct Case {
    const char* label;
    std::string bytes;
    const char* error;
  } cases[] = {
      {"other magic", "P7\n1 1\n255\n", "Can't parse PPM header"},
      {"no magic", "hello", "Can't parse PPM header"},
      {"empty", "", "Can't parse PPM header"},
      {"negative width", "P6\n-3 2\n255\n", "Can't get PPM dimensions"},
      {"negative height", "P3 3 -2 255", "Can't get PPM dimensions"},
      {"negative maximum", "P6 3 2 -1\n", "Can't get PPM dimensions"},
      {"zero width", "P6 0 2 255\n", "Can't get PPM dimensions"},
      {"missing numbers", "P6\n# only a comment\n", "Can't get PPM dimensions"},
      {"letters", "P5 x y 255", "Can't get PPM dimensions"},
      {"huge", "P6 100000 100000 255\n", "Can't get PPM dimensions"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    DataFile* f = data_open_memory(c.bytes.data(), c.bytes.size(), false, false);
    Image image;
    EXPECT_FALSE(image_read_pnm_stream(f, &image));
    data_close(f);
    EXPECT_STREQ(image_last_error(), c.error);
    EXPECT_EQ(image.pixels, nullptr);
  }
}

TEST(ImagePnm, ShortDataFailsAndNamesWork) {
  TempDir dir;
  // Claims 1000 x 1000 but holds three bytes: fails without reading past.
  write_file(dir.file("short.ppm"), std::string("P6 1000 1000 255\n\x01\x02\x03", 20));
  Image image;
  EXPECT_FALSE(image_read_pnm(dir.file("short.ppm").c_str(), &image));
  EXPECT_FALSE(image_read(dir.file("short.ppm").c_str(), &image));
  // P3 with a sample missing.
  write_file(dir.file("short3.ppm"), "P3 1 1 255 1 2");
  EXPECT_FALSE(image_read(dir.file("short3.ppm").c_str(), &image));
  // A ".ppm" that starts with something else reports the PPM error.
  write_file(dir.file("bad.ppm"), "GIF89a");
  EXPECT_FALSE(image_read(dir.file("bad.ppm").c_str(), &image));
  EXPECT_STREQ(image_last_error(), "Can't parse PPM header");
  EXPECT_FALSE(image_read_pnm(dir.file("nothing.ppm").c_str(), &image));
  // Through a gzip-free plain path the good case reads.
  write_file(dir.file("ok.pgm"), std::string("P5 2 1 255\n\x07\x08", 13));
  ASSERT_TRUE(image_read(dir.file("ok.pgm").c_str(), &image));
  EXPECT_EQ(image.channels, 1);
  EXPECT_EQ(pixels_of(image), (std::vector<uint8_t>{7, 8}));
  image_free(&image);
}

// ---------------------------------------------------------------- V6 / V7

// The inverse of the predictive rule: stored byte = value - prediction.
std::string encode_v(const std::vector<uint8_t>& px, int w, int h, int channels) {
  std::string out = channels == 4 ? "V7\n" : "V6\n";
  out += "# a comment\n" + std::to_string(w) + "\n# another\n" + std::to_string(h) + "\n";
  auto at = [&](int x, int y, int c) { return (int)px[((size_t)y * w + x) * channels + c]; };
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int c = 0; c < channels; c++) {
        int pred;
        if (y == 0)
          pred = x == 0 ? 0 : at(x - 1, 0, c);
        else if (x == 0)
          pred = at(0, y - 1, c);
        else
          pred =
              std::min(255, std::max(0, at(x - 1, y, c) + at(x, y - 1, c) - at(x - 1, y - 1, c)));
        out += (char)(uint8_t)(at(x, y, c) - pred);
      }
  return out;
}

TEST(ImageV6, PredictionDecodesWhatTheInverseEncodes) {
  struct Case {
    int w, h, channels;
  } cases[] = {{1, 1, 3}, {5, 1, 3}, {1, 5, 4}, {7, 6, 3}, {8, 8, 4}, {13, 3, 4}};
  uint32_t seed = 12345;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + "x" +
                 std::to_string(c.channels));
    std::vector<uint8_t> px((size_t)c.w * c.h * c.channels);
    for (auto& v : px) {
      seed = seed * 1103515245 + 12345;
      // Extremes make the clamp of left + above - above-left matter.
      v = (seed >> 16) % 3 == 0 ? 255 : (seed >> 16) % 3 == 1 ? 0 : (uint8_t)(seed >> 20);
    }
    Image image;
    ASSERT_TRUE(read_memory(encode_v(px, c.w, c.h, c.channels), &image)) << image_last_error();
    EXPECT_EQ(image.width, c.w);
    EXPECT_EQ(image.height, c.h);
    EXPECT_EQ(image.channels, c.channels);
    EXPECT_EQ(pixels_of(image), px);
    image_free(&image);
  }
}

TEST(ImageV6, HandWorkedExample) {
  // 2x2 RGB: the first pixel is predicted 0, (1,0) by its left neighbour,
  // (0,1) by the one above, (1,1) by clamp(left + above - above-left).
  std::string bytes =
      std::string("V6 2 2\n") + std::string(
                                    "\xc8\xc8\x00"   // (0,0): 200, 200, 0
                                    "\x32\x32\x00"   // (1,0): +50 -> 250, 250, 0
                                    "\x42\x0a\x00"   // (0,1): 200+66=10 (mod), 200+10=210, 0
                                    "\x05\x03\x00",  // (1,1)
                                    12);
  Image image;
  ASSERT_TRUE(read_memory(bytes, &image)) << image_last_error();
  // (1,1) channel 0: clamp(10 + 250 - 200) = 60 + 5 = 65.
  // (1,1) channel 1: clamp(210 + 250 - 200) = 255 (clamped) + 3 = 2.
  EXPECT_EQ(pixels_of(image),
            (std::vector<uint8_t>{200, 200, 0, 250, 250, 0, 10, 210, 0, 65, 2, 0}));
  image_free(&image);
}

TEST(ImageV6, ShortOrBadRastersFail) {
  const char* cases[] = {"V6 2 2\n\x01\x02", "V7 -1 2\n", "V6 #x\n", "V7 4000 4000\n1234"};
  for (const char* c : cases) {
    SCOPED_TRACE(c);
    Image image;
    EXPECT_FALSE(read_memory(c, &image));
    EXPECT_EQ(image.pixels, nullptr);
  }
}

// ---------------------------------------------------------------- mip chains

TEST(ImageMip, AveragingRules) {
  struct Case {
    const char* label;
    int w, h, channels;
    bool max_alpha;
    std::vector<uint8_t> src, expected;
  };
  std::vector<Case> cases = {
      {"rgb truncating average", 2, 2, 3, false, {1, 0, 9, 2, 0, 9, 3, 0, 9, 4, 1, 10}, {2, 0, 9}},
      {"grey", 2, 2, 1, false, {0, 1, 1, 1}, {0}},
      // Alpha sum 255 (neither 0 nor 1020): colours weighted by alpha.
      {"rgba weighted",
       2,
       2,
       4,
       false,
       {200, 100, 50, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {200, 100, 50, 63}},
      {"rgba weighted mixed",
       2,
       2,
       4,
       false,
       {100, 0, 0, 100, 200, 0, 0, 50, 0, 0, 0, 0, 0, 0, 0, 0},
       {133, 0, 0, 37}},
      // All transparent: plain average.
      {"rgba zero alpha",
       2,
       2,
       4,
       false,
       {200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {50, 0, 0, 0}},
      // All opaque: plain average.
      {"rgba opaque",
       2,
       2,
       4,
       false,
       {10, 20, 30, 255, 20, 30, 40, 255, 30, 40, 50, 255, 41, 51, 61, 255},
       {25, 35, 45, 255}},
      {"rgba max alpha",
       2,
       2,
       4,
       true,
       {200, 100, 50, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {200, 100, 50, 255}},
      // One pixel wide: pairs.
      {"column pairs",
       1,
       4,
       3,
       false,
       {0, 0, 0, 3, 3, 3, 10, 10, 10, 20, 21, 22},
       {1, 1, 1, 15, 15, 16}},
      {"row pairs rgba",
       4,
       1,
       4,
       false,
       {100, 0, 0, 255, 0, 0, 0, 0, 7, 7, 7, 10, 9, 9, 9, 30},
       {100, 0, 0, 127, 8, 8, 8, 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<uint8_t> out(c.expected.size());
    mip_reduce(c.src.data(), c.w, c.h, c.channels, c.max_alpha, out.data());
    EXPECT_EQ(out, c.expected);
  }
}

TEST(ImageMip, ChainLevelsAndSizes) {
  EXPECT_EQ(mip_level_count(1, 1), 1);
  EXPECT_EQ(mip_level_count(8, 2), 4);
  EXPECT_EQ(mip_level_count(256, 128), 9);
  EXPECT_EQ(mip_chain_bytes(8, 2, 3, 4), (size_t)(16 + 4 + 2 + 1) * 3);
  std::vector<uint8_t> px(8 * 2 * 3);
  for (size_t i = 0; i < px.size(); i++) px[i] = (uint8_t)(i * 5);
  MipChain chain;
  ASSERT_TRUE(mip_chain_build(px.data(), 8, 2, 3, false, &chain));
  EXPECT_EQ(chain.level_count, 4);
  int32_t w, h;
  const int sizes[4][2] = {{8, 2}, {4, 1}, {2, 1}, {1, 1}};
  for (int i = 0; i < 4; i++) {
    ASSERT_NE(mip_level(&chain, i, &w, &h), nullptr);
    EXPECT_EQ(w, sizes[i][0]);
    EXPECT_EQ(h, sizes[i][1]);
  }
  EXPECT_EQ(mip_level(&chain, 4, &w, &h), nullptr);
  // Level 1 pixel 0 averages (0,0),(1,0),(0,1),(1,1) of level 0.
  uint8_t* l1 = mip_level(&chain, 1, nullptr, nullptr);
  EXPECT_EQ(l1[0], (px[0] + px[3] + px[24] + px[27]) / 4);
  // Level 2 is built from level 1 as pairs.
  uint8_t* l2 = mip_level(&chain, 2, nullptr, nullptr);
  EXPECT_EQ(l2[0], (l1[0] + l1[3]) / 2);
  mip_chain_free(&chain);
}

TEST(ImageMip, CustomLevelsComeFromTheirBlocks) {
  // 8 x 12: level 0 is 8x8, level 1 (4x4) at (0,8), level 2 (2x2) at (4,8),
  // level 3 (1x1) at (4,10).
  Image image = {8, 12, 3, (uint8_t*)mem_alloc(8 * 12 * 3), nullptr};
  for (int y = 0; y < 12; y++)
    for (int x = 0; x < 8; x++)
      for (int c = 0; c < 3; c++) image.pixels[(y * 8 + x) * 3 + c] = (uint8_t)(y * 16 + x);
  MipChain chain;
  ASSERT_TRUE(mip_chain_from_custom(&image, &chain));
  EXPECT_EQ(chain.width, 8);
  EXPECT_EQ(chain.height, 8);
  ASSERT_EQ(chain.level_count, 4);
  int32_t w, h;
  uint8_t* l1 = mip_level(&chain, 1, &w, &h);
  EXPECT_EQ(w, 4);
  EXPECT_EQ(l1[0], 8 * 16 + 0);
  EXPECT_EQ(l1[(3 * 4 + 3) * 3], 11 * 16 + 3);
  uint8_t* l2 = mip_level(&chain, 2, &w, &h);
  EXPECT_EQ(w, 2);
  EXPECT_EQ(l2[0], 8 * 16 + 4);
  EXPECT_EQ(l2[3 * 3], 9 * 16 + 5);
  uint8_t* l3 = mip_level(&chain, 3, &w, &h);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(l3[0], 10 * 16 + 4);
  mip_chain_free(&chain);

  // Heights that are not 3/2 of a level 0 are refused.
  for (int bad_height : {8, 13, 2}) {
    Image other = {8, bad_height, 3, image.pixels, nullptr};
    EXPECT_FALSE(mip_chain_from_custom(&other, &chain)) << bad_height;
  }
  image_free(&image);
}

TEST(ImageMip, SkipAndLimitDropTopLevels) {
  struct Case {
    int w, h, skip;
    int expect_w, expect_h;
  } cases[] = {{1024, 1024, 1, 512, 512}, {1024, 1024, 3, 128, 128}, {1024, 1024, 9, 128, 128},
               {128, 128, 1, 128, 128},   {256, 128, 2, 256, 128},   {512, 256, 5, 256, 128}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " skip " +
                 std::to_string(c.skip));
    std::vector<uint8_t> px((size_t)c.w * c.h * 3, 0);
    px[0] = 255;
    MipChain chain;
    ASSERT_TRUE(mip_chain_build(px.data(), c.w, c.h, 3, false, &chain));
    MipChain reference;
    ASSERT_TRUE(mip_chain_build(px.data(), c.w, c.h, 3, false, &reference));
    int dropped = mip_chain_skip(&chain, c.skip);
    EXPECT_EQ(chain.width, c.expect_w);
    EXPECT_EQ(chain.height, c.expect_h);
    EXPECT_EQ(chain.level_count, mip_level_count(c.expect_w, c.expect_h));
    // The remaining levels are the reference's lower levels.
    uint8_t* ref = mip_level(&reference, dropped, nullptr, nullptr);
    EXPECT_EQ(
        memcmp(chain.pixels, ref, mip_chain_bytes(chain.width, chain.height, 3, chain.level_count)),
        0);
    mip_chain_free(&chain);
    mip_chain_free(&reference);
  }
  std::vector<uint8_t> px(1024 * 512 * 4, 1);
  MipChain chain;
  ASSERT_TRUE(mip_chain_build(px.data(), 1024, 512, 4, false, &chain));
  EXPECT_EQ(mip_chain_limit(&chain, 65536), 2);
  EXPECT_EQ(chain.width, 256);
  EXPECT_EQ(chain.height, 128);
  mip_chain_free(&chain);
}

TEST(ImageMip, ShrinkToPowerOfTwoSamplesNearest) {
  Image image = {300, 200, 3, (uint8_t*)mem_alloc(300 * 200 * 3), nullptr};
  for (int y = 0; y < 200; y++)
    for (int x = 0; x < 300; x++) {
      uint8_t* p = image.pixels + (y * 300 + x) * 3;
      p[0] = (uint8_t)x;
      p[1] = (uint8_t)(x >> 8);
      p[2] = (uint8_t)y;
    }
  ASSERT_TRUE(image_shrink_to_pow2(&image));
  EXPECT_EQ(image.width, 256);
  EXPECT_EQ(image.height, 128);
  for (int y : {0, 1, 77, 127})
    for (int x : {0, 1, 100, 255}) {
      const uint8_t* p = image.pixels + (y * 256 + x) * 3;
      int sx = x * 300 / 256, sy = y * 200 / 128;
      EXPECT_EQ(p[0] | (p[1] << 8), sx);
      EXPECT_EQ(p[2], sy);
    }
  EXPECT_FALSE(image_shrink_to_pow2(&image));
  image_free(&image);
}

TEST(ImageMagic, WordAndRawBytes) {
  std::string bytes = "  \nANIM1 4";
  DataFile* f = data_open_memory(bytes.data(), bytes.size(), false, false);
  char word[16];
  uint8_t raw[8];
  size_t raw_size = 0;
  ASSERT_TRUE(image_read_magic(f, word, raw, sizeof raw, &raw_size));
  EXPECT_STREQ(word, "ANIM1");
  EXPECT_EQ(raw_size, 8u);
  EXPECT_EQ(data_getc(f), ' ');  // the ending blank stays
  data_close(f);

  std::string longer = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  f = data_open_memory(longer.data(), longer.size(), false, false);
  ASSERT_TRUE(image_read_magic(f, word, raw, sizeof raw, &raw_size));
  EXPECT_STREQ(word, "ABCDEFGHIJKLMNO");
  EXPECT_EQ(raw_size, SIZE_MAX);  // more than 8 raw bytes
  EXPECT_EQ(data_getc(f), 'P');
  data_close(f);
}

}  // namespace
