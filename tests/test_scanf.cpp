// data_scanf against the C library's sscanf on the same input, plus the
// stream behaviour sscanf cannot show (what stays unread, push-back).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/files.h"
#include "core/scramble.h"

namespace {

DataFile* memory_file(const std::string& text) {
  return data_open_memory(text.data(), text.size(), false, false);
}

std::string rest_of(DataFile* f) {
  std::string out;
  for (int c; (c = data_getc(f)) != EOF;) out += (char)c;
  return out;
}

// Every destination is a 64-byte slot prefilled with the same pattern for both
// readers, so comparing slots compares every assigned value bit for bit and
// shows stray writes.
struct Slots {
  alignas(16) unsigned char slot[6][64];
  Slots() { memset(slot, 0xA5, sizeof slot); }
};

struct ScanCase {
  const char* format;
  const char* input;
};

// Formats keep %s/%c/%[ widths (or the inputs) below 64.
const ScanCase SCAN_CASES[] = {
    // integers
    {"%d", "42"},
    {"%d", "  -17 rest"},
    {"%d", "+8"},
    {"%d", "-"},
    {"%d", "- 5"},
    {"%d", "+-5"},
    {"%d", "x"},
    {"%d", "99999999999"},
    {"%d", "-99999999999999999999999"},
    {"%d%d", "1 2"},
    {"%d,%d", "1,2"},
    {"%d,%d", "1;2"},
    {"%d,%d", "5"},
    {"%2d%d", "12345"},
    {"%1d%s", "-5"},
    {"%3d%s", "-12345"},
    {"%hhd %hd %ld %lld", "300 70000 -5 123456789012"},
    {"%hhu %hu %lu %llu", "255 65535 4000000000 18446744073709551615"},
    {"%qd %jd %zd %td %Ld", "1 2 3 4 5"},
    {"%u", "-1"},
    {"%llu", "99999999999999999999"},
    {"%lld", "-99999999999999999999"},
    {"%i", "0x1f"},
    {"%i", "0X1F"},
    {"%i", "017"},
    {"%i", "08"},
    {"%i%s", "0x"},
    {"%i%s", "0xg"},
    {"%i", "-0x10"},
    {"%i", "+077"},
    {"%1i%s", "0x1"},
    {"%2i%s", "0x1"},
    {"%3i", "0x1f"},
    {"%o", "777"},
    {"%o%s", "789"},
    {"%o%s", "0x5"},
    {"%x", "ff"},
    {"%X", "0XfF"},
    {"%x%s", "0x"},
    {"%x %x", "dead BEEF"},
    {"%x", "-1"},
    // floating point
    {"%f", "3.25"},
    {"%f", "  -0.5e3"},
    {"%lf", "1e-300"},
    {"%Lf", "1.000000000000000000001"},
    {"%e %g %E %G %F", "1 2.5 3e1 4E-1 5."},
    {"%f%s", "1."},
    {"%f%s", ".5"},
    {"%f%s", "+.5x"},
    {"%f%s", "."},
    {"%f%s", ".e5"},
    {"%f%s", "-"},
    {"%f%s", "1.5e"},
    {"%f%s", "1.5e-"},
    {"%f%s", "100ergs"},
    {"%f%s", "1,5"},
    {"%f%s", "1.2.3"},
    {"%f%s", "7e2e3"},
    {"%3f%s", "12345"},
    {"%3f%s", "1e55"},
    {"%2f%s", "-1.5"},
    {"%f%s", "inf rest"},
    {"%f%s", "-INFINITY!"},
    {"%f%s", "infx"},
    {"%f%s", "nan(1)"},
    {"%f%s", "NaN"},
    {"%lf%s", "0x1.8p3"},
    {"%lf%s", "0x.p1"},
    {"%a%s", "0x10"},
    {"%f", ""},
    // strings, characters, scan sets
    {"%s", "word"},
    {"%s %s", "  two\twords\n"},
    {"%5s%s", "abcdefgh"},
    {"%c", "xyz"},
    {"%c%c", " a"},
    {" %c", " a"},
    {"%3c", "abcdef"},
    {"%5c", "abc"},
    {"%[abc]", "abcabd"},
    {"%[^\n]", "line one\nline two"},
    {"%[]a]", "]]ab"},
    {"%[^]a]", "xyz]"},
    {"%[a-c]", "abcd-"},
    {"%[a-]", "a-b"},
    {"%[c-a]", "c-ab"},
    {"%[-z]", "-z-a"},
    {"%[0-9a-fx]", "0x1fz"},
    {"%3[a-z]%s", "abcdef"},
    {"%[a]", "b"},
    {"%[a]", ""},
    {"%[^x]%c", "abxc"},
    // suppression and counting
    {"%*d%d", "1 2"},
    {"%*s %s", "skip keep"},
    {"%*c%c", "ab"},
    {"%*[a-z]%d", "abc12"},
    {"%*d%d", "5"},
    {"%*d%n", "5"},
    {"%d%n", "12 "},
    {"%d %n", "12 "},
    {"%n", ""},
    {"%d%n %hhn%s", "7 abc"},
    {"%*d", "x"},
    // literals, white space, %%
    {"x%d", "x5"},
    {"x%d", "y5"},
    {"x%d", ""},
    {" x%d", "  \t x9"},
    {"%d x", "3 x"},
    {"%d x", "3"},
    {"a b", "a    b"},
    {"a b", "ab"},
    {"%%%d", "%9"},
    {"%%%d", " %9"},
    {" %%%d", "%9"},
    {"%%%d", "x9"},
    {"%d%%", "5"},
    {"", ""},
    {" ", ""},
    {"%d", ""},
    {"%d", "   "},
    {"%s", ""},
    {"%c", ""},
    {"%d %d %d", "1 2"},
    {"%d %d %d", "1 2 x"},
    // malformed formats
    {"%y", "5"},
    {"%d %y", "5 6"},
    {"%", "5"},
    {"%[abc", "abc"},
};

int run_sscanf(const ScanCase& c, Slots& s) {
  return sscanf(c.input, c.format, s.slot[0], s.slot[1], s.slot[2], s.slot[3], s.slot[4],
                s.slot[5]);
}

int run_data_scanf(const ScanCase& c, Slots& s) {
  DataFile* f = memory_file(c.input);
  EXPECT_NE(f, nullptr);
  int r = data_scanf(f, c.format, s.slot[0], s.slot[1], s.slot[2], s.slot[3], s.slot[4], s.slot[5]);
  data_close(f);
  return r;
}

}  // namespace

TEST(ScanfTable, MatchesTheCLibrary) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  for (const ScanCase& c : SCAN_CASES) {
    SCOPED_TRACE(std::string("format \"") + c.format + "\" input \"" + c.input + "\"");
    Slots expected, actual;
    int want = run_sscanf(c, expected);
    int got = run_data_scanf(c, actual);
    EXPECT_EQ(got, want);
    for (int i = 0; i < 6; i++) {
      SCOPED_TRACE("destination " + std::to_string(i));
      EXPECT_EQ(memcmp(expected.slot[i], actual.slot[i], sizeof expected.slot[i]), 0);
    }
  }
#pragma GCC diagnostic pop
}

// A few cases spelled out, so the table's agreement is not agreement on nonsense.
TEST(ScanfValues, ConversionsStoreTheExpectedValues) {
  DataFile* f = memory_file("-12 0x1F 017 ff 2.5 word x abc]z");
  int d = 0, i = 0, o = 0;
  unsigned x = 0;
  double g = 0;
  char s[16] = {}, c = 0, set[16] = {};
  int n = -1;
  ASSERT_EQ(data_scanf(f, "%d %i %i %x %lf %15s %c %15[^]]%n", &d, &i, &o, &x, &g, s, &c, set, &n),
            8);
  EXPECT_EQ(d, -12);
  EXPECT_EQ(i, 31);
  EXPECT_EQ(o, 15);
  EXPECT_EQ(x, 0xffu);
  EXPECT_DOUBLE_EQ(g, 2.5);
  EXPECT_STREQ(s, "word");
  EXPECT_EQ(c, 'x');
  EXPECT_STREQ(set, "abc");
  EXPECT_EQ(n, 30);
  EXPECT_EQ(rest_of(f), "]z");
  data_close(f);
}

TEST(ScanfValues, EmptyInputAndEndOfInputGiveEof) {
  int v = 7;
  DataFile* f = memory_file("");
  EXPECT_EQ(data_scanf(f, "%d", &v), EOF);
  EXPECT_EQ(v, 7);
  data_close(f);
  f = memory_file("5");
  EXPECT_EQ(data_scanf(f, "%d", &v), 1);
  EXPECT_EQ(data_scanf(f, "%d", &v), EOF);
  data_close(f);
}

// Reading stops right after the field: successive calls continue where the
// previous one left off, one character at a time.
TEST(ScanfStream, SuccessiveCallsContinueWhereTheLastStopped) {
  DataFile* f = memory_file("10 20\n30,abc def\n");
  int a = 0, b = 0;
  char word[8] = {};
  ASSERT_EQ(data_scanf(f, "%d", &a), 1);
  ASSERT_EQ(data_scanf(f, "%d", &b), 1);
  EXPECT_EQ(a + b, 30);
  EXPECT_EQ(data_peek(f), '\n');
  ASSERT_EQ(data_scanf(f, "%d,", &a), 1);
  EXPECT_EQ(a, 30);
  ASSERT_EQ(data_scanf(f, "%7s", word), 1);
  EXPECT_STREQ(word, "abc");
  EXPECT_EQ(rest_of(f), " def\n");
  data_close(f);
}

TEST(ScanfStream, FailedMatchLeavesTheOffendingCharacter) {
  int v = 0;
  DataFile* f = memory_file("b5");
  EXPECT_EQ(data_scanf(f, "a%d", &v), 0);
  EXPECT_EQ(rest_of(f), "b5");
  data_close(f);

  f = memory_file("  x12");
  EXPECT_EQ(data_scanf(f, "%d", &v), 0);
  EXPECT_EQ(rest_of(f), "x12");
  data_close(f);

  f = memory_file("abcQ");
  char set[8];
  EXPECT_EQ(data_scanf(f, "%7[a-c]", set), 1);
  EXPECT_EQ(rest_of(f), "Q");
  data_close(f);
}

// With one character of push-back, characters taken into a number field stay
// consumed when the field ends early. The C library does the same here, but
// only the stream shows it: "1e+x" converts 1 and leaves just the "x".
TEST(ScanfStream, OneCharacterPushBackConsumesAPartialExponent) {
  float v = 0;
  DataFile* f = memory_file("1e+x");
  EXPECT_EQ(data_scanf(f, "%f", &v), 1);
  EXPECT_FLOAT_EQ(v, 1.0f);
  EXPECT_EQ(rest_of(f), "x");
  data_close(f);

  int i = -1;
  f = memory_file("0xg");
  EXPECT_EQ(data_scanf(f, "%i", &i), 1);
  EXPECT_EQ(i, 0);
  EXPECT_EQ(rest_of(f), "g");
  data_close(f);
}

// Here the result differs from the C library's stream: a broken "nan"/"inf"
// keeps its offending character for the next read (the library drops it).
TEST(ScanfStream, BrokenInfinityKeepsTheOffendingCharacter) {
  float v = 5;
  DataFile* f = memory_file("naxt");
  EXPECT_EQ(data_scanf(f, "%f", &v), 0);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(rest_of(f), "xt");
  data_close(f);

  f = memory_file("infinx");
  EXPECT_EQ(data_scanf(f, "%f", &v), 0);
  EXPECT_EQ(rest_of(f), "x");
  data_close(f);
}

TEST(ScanfStream, CountsCharactersOfThisCallOnly) {
  DataFile* f = memory_file("abc   12 x");
  char s[8];
  int n = -1, v = 0;
  ASSERT_EQ(data_scanf(f, "%7s", s), 1);
  ASSERT_EQ(data_scanf(f, "%d%n", &v, &n), 1);
  EXPECT_EQ(n, 5);
  data_close(f);
}

TEST(ScanfStream, LongFieldsAreReadWhole) {
  std::string zeros(5000, '0');
  DataFile* f = memory_file(zeros + "7 " + zeros + "1.5e" + "1 end");
  int v = 0;
  double d = 0;
  char s[8];
  ASSERT_EQ(data_scanf(f, "%d %lf %7s", &v, &d, s), 3);
  EXPECT_EQ(v, 7);
  EXPECT_DOUBLE_EQ(d, 15.0);
  EXPECT_STREQ(s, "end");
  data_close(f);
}

TEST(ScanfStream, ReadsThroughCompressedAndScrambledStreams) {
  const std::string text = "17 -3.5 name\n";
  // gzip bytes of the text, then their scrambled form.
  std::string gz(256, '\0');
  z_stream z = {};
  ASSERT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
  z.next_in = (Bytef*)text.data();
  z.avail_in = (uInt)text.size();
  z.next_out = (Bytef*)gz.data();
  z.avail_out = (uInt)gz.size();
  ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  gz.resize(z.total_out);
  deflateEnd(&z);
  std::string stored = gz;
  ScrambleStream key;
  scramble_start(&key);
  scramble_apply(&key, (uint8_t*)stored.data(), stored.size());

  DataFile* f = data_open_memory(stored.data(), stored.size(), true, true);
  ASSERT_NE(f, nullptr);
  int i = 0;
  float x = 0;
  char s[8];
  ASSERT_EQ(data_scanf(f, "%d %f %7s", &i, &x, s), 3);
  EXPECT_EQ(i, 17);
  EXPECT_FLOAT_EQ(x, -3.5f);
  EXPECT_STREQ(s, "name");
  EXPECT_EQ(rest_of(f), "\n");
  data_close(f);
}

namespace {
int vscanf_wrapper(DataFile* f, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int r = data_vscanf(f, format, args);
  va_end(args);
  return r;
}
}  // namespace

TEST(ScanfStream, NullArgumentsAreRefused) {
  int v;
  EXPECT_EQ(data_scanf(nullptr, "%d", &v), EOF);
  DataFile* f = memory_file("1");
  EXPECT_EQ(vscanf_wrapper(f, nullptr, &v), EOF);
  EXPECT_EQ(vscanf_wrapper(f, "%d", &v), 1);
  EXPECT_EQ(v, 1);
  data_close(f);
}
