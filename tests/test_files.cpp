// The file layer: search directories, "@" names, the file list with archive
// members and shadowing, gzip and scrambled streams, backups, reading and
// writing calls, and the game-data check.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/files.h"
#include "core/scramble.h"
#include "platform/log.h"
#include "tests/test_helpers.h"

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

// A ".saf" archive: "<size> <name>\n" lines, "-\n", then the data.
std::string make_saf(const Members& members) {
  std::string header, data;
  for (const auto& m : members) {
    header += std::to_string(m.second.size()) + " " + m.first + "\n";
    data += m.second;
  }
  return header + "-\n" + data;
}

std::string deflate_bytes(const std::string& data, int window_bits) {
  z_stream z = {};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, data.size()) + 64, '\0');
  z.next_in = (Bytef*)data.data();
  z.avail_in = (uInt)data.size();
  z.next_out = (Bytef*)out.data();
  z.avail_out = (uInt)out.size();
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// zlib's own gzip wrapper (window bits 31).
std::string gzip_bytes(const std::string& data) { return deflate_bytes(data, 31); }

// A gzip member with a hand-made header carrying the fields flags announce.
std::string gzip_with_flags(const std::string& data, int flags) {
  std::string out = {31, (char)139, 8, (char)flags, 1, 2, 3, 4, 0, 3};
  if (flags & 4)
    out += std::string(
        "\x05\x00"
        "extra",
        7);
  if (flags & 8) out += std::string("name.txt\0", 9);
  if (flags & 16) out += std::string("a comment\0", 10);
  if (flags & 2) out += std::string("\x12\x34", 2);
  out += deflate_bytes(data, -15);
  uint32_t crc = (uint32_t)crc32(0, (const Bytef*)data.data(), (uInt)data.size());
  uint32_t size = (uint32_t)data.size();
  for (int i = 0; i < 4; i++) out += (char)(crc >> (8 * i));
  for (int i = 0; i < 4; i++) out += (char)(size >> (8 * i));
  return out;
}

std::string scrambled(std::string bytes) {
  ScrambleStream s;
  scramble_start(&s);
  scramble_apply(&s, (uint8_t*)bytes.data(), bytes.size());
  return bytes;
}

// Text that does not compress to almost nothing (spans several input blocks).
std::string noisy_text(size_t size) {
  std::string out;
  uint32_t x = 12345;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    out += std::to_string(x >> 8) + ((x & 7) ? " " : "\n");
  }
  out.resize(size);
  return out;
}

std::string read_all(DataFile* f) {
  std::string out;
  char block[777];
  size_t got;
  while ((got = data_read(f, block, sizeof block)) > 0) out.append(block, got);
  return out;
}

// Opens name and returns its whole content, or "<none>".
std::string slurp(const std::string& name) {
  DataFile* f = data_open(name.c_str(), "rb");
  if (!f) return "<none>";
  std::string out = read_all(f);
  data_close(f);
  return out;
}

std::vector<std::string> visible_names() {
  std::vector<std::string> out;
  for (const char* const* p = file_list(); *p; p++) out.push_back(*p);
  return out;
}

// Home is "<root>/xdg/Rutmoto/", game data "<root>/game/".
class FilesTest : public ::testing::Test {
 protected:
  TempDir root;
  std::string xdg = root.path + "/xdg";
  std::string home = xdg + "/Rutmoto/";
  std::string game = root.path + "/game/";
  ScopedEnv env_xdg{"XDG_DATA_HOME", xdg.c_str()};
  ScopedEnv env_rt{"RT_HOME", (root.path + "/game").c_str()};

  void SetUp() override {
    mkdir(game.c_str(), 0777);
    file_list_free();
  }
  void TearDown() override {
    file_list_free();
    game_data_add_accepted_digest_for_tests(nullptr);
  }
};

}  // namespace

// ---------------------------------------------------------------- search directories

TEST_F(FilesTest, SearchDirectoriesComeFromTheEnvironment) {
  ASSERT_EQ(search_dir_count(), 2);
  EXPECT_STREQ(home_dir(), home.c_str());
  EXPECT_STREQ(search_dir(0), home.c_str());
  EXPECT_STREQ(search_dir(1), game.c_str());
  EXPECT_EQ(search_dir(2), nullptr);
  EXPECT_EQ(search_dir(-1), nullptr);

  // Without XDG_DATA_HOME the home is below $HOME; trailing slashes collapse;
  // without RT_HOME the game data is the executable's folder.
  ScopedEnv no_xdg("XDG_DATA_HOME", nullptr);
  ScopedEnv user_home("HOME", (root.path + "/user//").c_str());
  ScopedEnv no_rt("RT_HOME", nullptr);
  file_list_free();
  EXPECT_EQ(std::string(home_dir()), root.path + "/user/.local/share/Rutmoto/");
  char exe[4096];
  ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(len, 0);
  exe[len] = 0;
  std::string exe_dir(exe);
  exe_dir = exe_dir.substr(0, exe_dir.rfind('/') + 1);
  EXPECT_EQ(std::string(search_dir(1)), exe_dir);

  ScopedEnv empty_xdg("XDG_DATA_HOME", "");
  ScopedEnv rt_slash("RT_HOME", (root.path + "/game///").c_str());
  file_list_free();
  EXPECT_EQ(std::string(home_dir()), root.path + "/user/.local/share/Rutmoto/");
  EXPECT_EQ(std::string(search_dir(1)), game);
}

// ---------------------------------------------------------------- file list and shadowing

TEST_F(FilesTest, PlainFileHidesArchiveMemberOfTheSameName) {
  write_file(game + "foo.txt", "plain");
  write_file(game + "pack.saf", make_saf({{"FOO.TXT", "member"}, {"other.txt", "o"}}));
  std::vector<std::string> names = visible_names();
  EXPECT_EQ(names, (std::vector<std::string>{"foo.txt", "other.txt", "pack.saf"}));
  EXPECT_EQ(file_list_count(), 3);
  EXPECT_EQ(file_list_entry_count(), 4);
  EXPECT_EQ(slurp("@foo.txt"), "plain");
  EXPECT_EQ(slurp("@FOO.TXT"), "plain");  // the list lookup ignores case
  EXPECT_EQ(slurp("@Other.Txt"), "o");
}

TEST_F(FilesTest, HomeHidesGameDataWhichHidesArchives) {
  write_file(home + "x.txt", "home");
  write_file(game + "x.txt", "game");
  write_file(game + "a.saf", make_saf({{"x.txt", "archive"}, {"y.txt", "archive y"}}));
  write_file(game + "y.txt", "game y");
  EXPECT_EQ(slurp("@x.txt"), "home");
  EXPECT_EQ(slurp("@y.txt"), "game y");
  const FileEntry* e = file_list_find("X.TXT");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->source, 0);
  // Entries of one name are sorted by source: home, game data, then archive 2.
  std::vector<int> sources;
  for (int i = 0; i < file_list_entry_count(); i++)
    if (std::string(file_list_entry(i)->name) == "x.txt")
      sources.push_back(file_list_entry(i)->source);
  EXPECT_EQ(sources, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(visible_names(), (std::vector<std::string>{"a.saf", "x.txt", "y.txt"}));
}

TEST_F(FilesTest, FirstArchiveMetWins) {
  // Archives are met in name order, whichever directory holds them.
  write_file(home + "b.saf", make_saf({{"m.txt", "from b"}}));
  write_file(game + "a.saf", make_saf({{"m.txt", "from a"}}));
  write_file(game + "c.saf", make_saf({{"m.txt", "from c"}, {"only_c", "c!"}}));
  EXPECT_EQ(slurp("@m.txt"), "from a");
  EXPECT_EQ(slurp("@only_c"), "c!");
  const FileEntry* e = file_list_find("m.txt");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->source, 2);
  EXPECT_EQ(std::string(e->path), game + "a.saf");
  e = file_list_find("only_c");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->source, 4);
}

TEST_F(FilesTest, ListIsBuiltOnceAndWalksSubdirectories) {
  write_file(game + "tracks/one/terrain.hf", "hf");
  write_file(game + "tracks/one/desc", "Track one\n");
  ASSERT_EQ(symlink(game.c_str(), (game + "tracks/loop").c_str()), 0);  // a directory loop
  EXPECT_NE(file_list_find("tracks/one/terrain.hf"), nullptr);
  EXPECT_NE(file_list_find("tracks/one/desc"), nullptr);
  int loops = 0;
  for (int i = 0; i < file_list_entry_count(); i++)
    if (std::string(file_list_entry(i)->name).find("loop/") != std::string::npos) loops++;
  // The link leads back to a directory being walked, so it is not entered.
  EXPECT_EQ(loops, 0);
  // Files added later are not listed but are still found by path.
  write_file(game + "late.txt", "late");
  EXPECT_EQ(file_list_find("late.txt"), nullptr);
  EXPECT_EQ(slurp("@late.txt"), "late");
}

TEST_F(FilesTest, DescribeWritesNameArrowPathCutToTheBuffer) {
  write_file(game + "d.txt", "x");
  ASSERT_EQ(file_list_entry_count(), 1);
  char line[256];
  ASSERT_TRUE(file_list_describe(0, line, sizeof line));
  EXPECT_EQ(std::string(line), "d.txt -> " + game + "d.txt");
  char small[6];
  ASSERT_TRUE(file_list_describe(0, small, sizeof small));
  EXPECT_STREQ(small, "d.txt");
  EXPECT_FALSE(file_list_describe(1, line, sizeof line));
  EXPECT_FALSE(file_list_describe(-1, line, sizeof line));
}

// ---------------------------------------------------------------- archives

TEST_F(FilesTest, ArchiveMembersAreReadInPlaceAndStopAtTheirEnd) {
  write_file(game + "p.saf", make_saf({{"dir//sub///a.txt", "AAAA"}, {"b.txt", "bb\nline 2"}}));
  EXPECT_NE(file_list_find("dir/sub/a.txt"), nullptr);
  EXPECT_EQ(slurp("@dir/sub/a.txt"), "AAAA");
  DataFile* f = data_open("@b.txt", "rb");
  ASSERT_NE(f, nullptr);
  char line[64];
  ASSERT_NE(data_read_line(f, line, sizeof line), nullptr);
  EXPECT_STREQ(line, "bb\n");
  ASSERT_NE(data_read_line(f, line, sizeof line), nullptr);
  EXPECT_STREQ(line, "line 2");
  EXPECT_EQ(data_read_line(f, line, sizeof line), nullptr);
  EXPECT_EQ(data_getc(f), EOF);
  ASSERT_TRUE(data_seek(f, 3));
  EXPECT_EQ(read_all(f), "line 2");
  EXPECT_FALSE(data_seek(f, 10));  // past the member
  data_close(f);
}

TEST(FilesSafHeader, OffsetsAndNames) {
  std::string bytes = make_saf({{"a", "123"}, {"b//c", ""}, {"d", "4567"}});
  DataFile* f = data_open_memory(bytes.data(), bytes.size(), false, false);
  GrowArray<SafMember> members;
  ASSERT_TRUE(saf_read_header(f, &members));
  data_close(f);
  ASSERT_EQ(members.count, 3);
  uint32_t data_start = (uint32_t)bytes.find("-\n") + 2;
  EXPECT_STREQ(members.data[0].name, "a");
  EXPECT_EQ(members.data[0].offset, data_start);
  EXPECT_EQ(members.data[0].size, 3u);
  EXPECT_STREQ(members.data[1].name, "b/c");
  EXPECT_EQ(members.data[1].offset, data_start + 3);
  EXPECT_EQ(members.data[2].offset, data_start + 3);
  EXPECT_EQ(bytes.substr(members.data[2].offset, 4), "4567");
  saf_members_free(&members);
}

TEST(FilesSafHeader, MalformedHeadersGiveNothing) {
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"last line without line feed", "3 a\n-"},
      {"member line without line feed", "3 a"},
      {"line not starting with a number", "3 a\nx b\n-\nabc"},
      {"line starting with white space", " 3 a\n-\nabc"},
      {"end of file before the end line", "3 a\n4 b\n"},
      {"empty file", ""},
      {"end line with more text", "3 a\n-x\nabc"},
      {"line longer than the buffer", "3 " + std::string(1100, 'n') + "\n-\nabc"},
      {"size past 32 bits", "99999999999 a\n-\n"},
      {"data past 4 GiB", "4294967295 a\n4294967295 b\n-\n"},
      {"NUL in a line", std::string("3 a\0b\n-\nabc", 11)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DataFile* f = data_open_memory(c.bytes.data(), c.bytes.size(), false, false);
    ASSERT_NE(f, nullptr);
    GrowArray<SafMember> members;
    EXPECT_FALSE(saf_read_header(f, &members));
    EXPECT_EQ(members.count, 0);
    EXPECT_EQ(members.data, nullptr);
    data_close(f);
  }
}

TEST(FilesSafHeader, EmptyHeaderIsFine) {
  DataFile* f = data_open_memory("-\n", 2, false, false);
  GrowArray<SafMember> members;
  EXPECT_TRUE(saf_read_header(f, &members));
  EXPECT_EQ(members.count, 0);
  saf_members_free(&members);
  data_close(f);
}

TEST_F(FilesTest, MalformedArchiveContributesNothingButOthersDo) {
  write_file(game + "bad1.saf", "3 x1\n-");            // no final line feed
  write_file(game + "bad2.saf", "3 x2\nfoo\n-\nabc");  // non-numeric line
  write_file(game + "bad3.saf", "3 x3\n");             // no "-" line
  write_file(game + "empty.saf", "-\n");               // fine, no members
  write_file(game + "good.saf", make_saf({{"x4", "ok!"}}));
  EXPECT_EQ(file_list_find("x1"), nullptr);
  EXPECT_EQ(file_list_find("x2"), nullptr);
  EXPECT_EQ(file_list_find("x3"), nullptr);
  EXPECT_EQ(slurp("@x4"), "ok!");
  EXPECT_EQ(file_list_entry_count(), 6);  // the five archives and x4
  // Malformed archives still use up their numbers.
  EXPECT_EQ(file_list_find("x4")->source, 2 + 4);
}

// ---------------------------------------------------------------- gzip

TEST_F(FilesTest, CompressedArchiveMemberOpensThroughTheAtName) {
  std::string terrain = noisy_text(200000);
  std::string gz = gzip_bytes(terrain);
  ASSERT_GT(gz.size(), 3u * 16384u);  // several input blocks
  // The member after it is not gzip data: reading past the member would fail.
  write_file(game + "tracks.saf",
             make_saf({{"tracks/t1/terrain.hf.gz", gz}, {"tracks/t1/zzz", noisy_text(5000)}}));
  EXPECT_EQ(slurp("@tracks/t1/terrain.hf"), terrain);
  DataFile* f = data_open("@tracks/t1/terrain.hf", "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(data_is_scrambled(f));
  EXPECT_FALSE(data_seek(f, 0));  // compressed streams cannot seek
  EXPECT_EQ(data_peek(f), (unsigned char)terrain[0]);
  char line[100];
  ASSERT_NE(data_read_line(f, line, sizeof line), nullptr);
  EXPECT_EQ(std::string(line), terrain.substr(0, strlen(line)));
  data_close(f);
}

TEST_F(FilesTest, PlainPathFallsBackToGzAndScrambledVariants) {
  write_file(game + "a.txt.gz", gzip_bytes("inflated"));
  write_file(game + "b.txt.scram", scrambled("descrambled"));
  write_file(game + "c.txt.gz.scram", scrambled(gzip_bytes("both")));
  write_file(game + "d.txt", "plain wins");
  write_file(game + "d.txt.gz", gzip_bytes("not this"));
  EXPECT_EQ(slurp(game + "a.txt"), "inflated");
  EXPECT_EQ(slurp(game + "b.txt"), "descrambled");
  EXPECT_EQ(slurp(game + "c.txt"), "both");
  EXPECT_EQ(slurp(game + "d.txt"), "plain wins");
  EXPECT_EQ(slurp("@c.txt"), "both");
  DataFile* f = data_open((game + "b.txt").c_str(), "r");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(data_is_scrambled(f));
  EXPECT_FALSE(data_seek(f, 0));
  data_close(f);
  // Writes never fall back: this creates the plain file.
  f = data_open((game + "a.txt").c_str(), "w");
  ASSERT_NE(f, nullptr);
  data_close(f);
  EXPECT_TRUE(file_exists(game + "a.txt"));
  EXPECT_EQ(slurp(game + "a.txt"), "");
}

TEST_F(FilesTest, ArchiveMemberFormsPreferLowestSourceThenPlainName) {
  write_file(game + "a.saf", make_saf({{"m.gz", gzip_bytes("gz in a")}}));
  write_file(game + "b.saf",
             make_saf({{"m", "plain in b"}, {"n.scram", scrambled("s")}, {"n", "plain n"}}));
  EXPECT_EQ(slurp("@m"), "gz in a");  // archive a is met first
  EXPECT_EQ(slurp("@n"), "plain n");  // same archive: the plain name first
}

TEST(FilesGzip, HeaderFlagsAreSkipped) {
  const std::string text = "some text\nmore text\n";
  for (int flags : {0, 1, 2, 4, 8, 16, 2 | 4 | 8 | 16, 31}) {
    SCOPED_TRACE(flags);
    std::string gz = gzip_with_flags(text, flags);
    DataFile* f = data_open_memory(gz.data(), gz.size(), true, false);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(read_all(f), text);
    data_close(f);
  }
}

TEST(FilesGzip, BadHeadersFailTheOpen) {
  std::string good = gzip_with_flags("text", 4 | 8 | 16 | 2);
  std::vector<std::pair<std::string, std::string>> cases = {
      {"flag 32", gzip_with_flags("text", 32)},
      {"flag 128", gzip_with_flags("text", 128)},
      {"wrong magic", "\x1f\x8c" + good.substr(2)},
      {"wrong method", good.substr(0, 2) + "\x07" + good.substr(3)},
      {"empty", ""},
  };
  // Cut inside every part of the header: fixed bytes, extra, name, comment, crc.
  size_t header_end = good.size() - deflate_bytes("text", -15).size() - 8;
  for (size_t cut = 1; cut < header_end; cut++)
    cases.push_back({"cut at " + std::to_string(cut), good.substr(0, cut)});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(data_open_memory(c.second.data(), c.second.size(), true, false), nullptr);
  }
  // A header alone is a valid, empty stream.
  DataFile* f = data_open_memory(good.data(), header_end, true, false);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(data_getc(f), EOF);
  data_close(f);
}

TEST(FilesGzip, CorruptOrTruncatedDataEndsTheStream) {
  std::string text = noisy_text(50000);
  std::string gz = gzip_bytes(text);
  std::string truncated = gz.substr(0, gz.size() / 2);
  DataFile* f = data_open_memory(truncated.data(), truncated.size(), true, false);
  ASSERT_NE(f, nullptr);
  std::string got = read_all(f);
  EXPECT_LT(got.size(), text.size());
  EXPECT_EQ(got, text.substr(0, got.size()));
  EXPECT_EQ(data_getc(f), EOF);
  data_close(f);

  std::string corrupt = gz;
  for (size_t i = 200; i < corrupt.size(); i += 7) corrupt[i] = (char)(corrupt[i] ^ 0x5a);
  f = data_open_memory(corrupt.data(), corrupt.size(), true, false);
  ASSERT_NE(f, nullptr);
  EXPECT_LT(read_all(f).size(), text.size() + 1);
  EXPECT_EQ(data_getc(f), EOF);
  data_close(f);
}

// ---------------------------------------------------------------- writing, backups, replace

TEST_F(FilesTest, AtConfigIsWrittenToHomeEvenWhenGameDataHasOne) {
  write_file(game + "config", "game config");
  DataFile* f = data_open("@config", "w");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(data_printf(f, "laps=%d\n", 5), 7);
  data_close(f);
  EXPECT_EQ(read_file(home + "config"), "laps=5\n");
  EXPECT_EQ(read_file(game + "config"), "game config");
  EXPECT_EQ(slurp("@config"), "laps=5\n");
}

TEST_F(FilesTest, WriteModesCreateParentDirectories) {
  DataFile* f = data_open("@setups//deep/one", "wb");
  ASSERT_NE(f, nullptr);
  data_close(f);
  EXPECT_TRUE(file_exists(home + "setups/deep/one"));
  f = data_open((root.path + "/p/q/r.txt").c_str(), "a");
  ASSERT_NE(f, nullptr);
  data_close(f);
  EXPECT_TRUE(file_exists(root.path + "/p/q/r.txt"));
  // Reading never creates directories.
  EXPECT_EQ(data_open((root.path + "/s/t.txt").c_str(), "r"), nullptr);
  EXPECT_FALSE(file_exists(root.path + "/s"));
}

TEST_F(FilesTest, AtNamesCannotLeaveTheirDirectory) {
  write_file(root.path + "/secret", "s");
  EXPECT_EQ(data_open("@../../secret", "r"), nullptr);
  EXPECT_EQ(data_open("@a/../../x", "w"), nullptr);
  EXPECT_EQ(data_open("@", "r"), nullptr);
  EXPECT_FALSE(data_replace("@../x", "@y"));
  std::string long_name = "@" + std::string(600, 'n');
  EXPECT_EQ(data_open(long_name.c_str(), "w"), nullptr);  // too long: no cut-short name
}

TEST_F(FilesTest, DirectoriesAreNotOpenedAsFiles) {
  mkdir((home).c_str(), 0777);
  mkdir((home + "thing").c_str(), 0777);
  write_file(game + "thing", "the file");
  EXPECT_EQ(slurp("@thing"), "the file");
  EXPECT_EQ(data_open(game.c_str(), "r"), nullptr);
}

TEST_F(FilesTest, BackupModeCopiesToTheFirstFreeNumber) {
  write_file(home + "x", "old");
  write_file(home + "x.~1~", "one");
  write_file(home + "x.~2~", "two");
  DataFile* f = data_open("@x", "~wb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(data_puts(f, "new"), 0);
  data_close(f);
  EXPECT_EQ(read_file(home + "x"), "new");
  EXPECT_EQ(read_file(home + "x.~3~"), "old");
  EXPECT_EQ(read_file(home + "x.~1~"), "one");
  EXPECT_EQ(read_file(home + "x.~2~"), "two");
  // No file, no backup.
  f = data_open("@fresh", "~w");
  ASSERT_NE(f, nullptr);
  data_close(f);
  EXPECT_FALSE(file_exists(home + "fresh.~1~"));
}

TEST_F(FilesTest, FailedBackupFailsTheOpenAndKeepsTheFile) {
  write_file(home + "keep", "precious");
  // A dangling link where the backup would go: it looks free, but the
  // exclusive create of the copy fails.
  ASSERT_EQ(symlink((root.path + "/nowhere/x").c_str(), (home + "keep.~1~").c_str()), 0);
  EXPECT_EQ(data_open("@keep", "~w"), nullptr);
  EXPECT_EQ(read_file(home + "keep"), "precious");
}

TEST_F(FilesTest, ReplaceRenamesWithinHome) {
  write_file(home + "new.tmp", "fresh");
  write_file(home + "target", "stale");
  EXPECT_TRUE(data_replace("@new.tmp", "@target"));
  EXPECT_EQ(read_file(home + "target"), "fresh");
  EXPECT_FALSE(file_exists(home + "new.tmp"));
  // "@" means the home directory only, never the game data directory.
  write_file(game + "g.tmp", "game");
  EXPECT_FALSE(data_replace("@g.tmp", "@target"));
  EXPECT_EQ(read_file(home + "target"), "fresh");  // a failed rename keeps the target
  // Plain paths work too.
  EXPECT_TRUE(data_replace((game + "g.tmp").c_str(), (home + "target").c_str()));
  EXPECT_EQ(read_file(home + "target"), "game");
}

TEST_F(FilesTest, WritingCallsAndUpdateStreams) {
  std::string path = root.path + "/w.txt";
  DataFile* f = data_open(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(data_putc(f, 'A'), 'A');
  EXPECT_EQ(data_puts(f, "bc"), 0);
  EXPECT_EQ(data_write(f, "\0d", 2), 2u);
  EXPECT_EQ(data_printf(f, "%03d|%s", 7, "z"), 5);
  EXPECT_TRUE(data_flush(f));
  EXPECT_EQ(data_getc(f), EOF);  // write-only
  data_close(f);
  EXPECT_EQ(read_file(path), std::string("Abc\0d007|z", 10));

  // Reading refuses writes; an update stream switches between both.
  f = data_open(path.c_str(), "rb");
  EXPECT_EQ(data_putc(f, 'x'), EOF);
  EXPECT_EQ(data_puts(f, "x"), EOF);
  EXPECT_EQ(data_printf(f, "x"), -1);
  data_close(f);
  f = data_open(path.c_str(), "r+");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(data_getc(f), 'A');
  EXPECT_EQ(data_peek(f), 'b');
  EXPECT_EQ(data_putc(f, 'B'), 'B');  // lands where the reader stands
  EXPECT_EQ(data_getc(f), 'c');
  ASSERT_TRUE(data_seek(f, 5));
  EXPECT_EQ(data_puts(f, "99"), 0);
  data_close(f);
  EXPECT_EQ(read_file(path), std::string("ABc\0d997|z", 10));

  DataFile* m = data_open_memory("abc", 3, false, false);
  EXPECT_EQ(data_putc(m, 'x'), EOF);
  EXPECT_EQ(data_write(m, "x", 1), 0u);
  data_close(m);
}

// ---------------------------------------------------------------- reading calls

TEST(FilesRead, ReadLineKeepsTheLineFeedAndSplitsLongLines) {
  const struct {
    std::string input;
    int n;
    std::vector<std::string> lines;
  } cases[] = {
      {"ab\ncd", 10, {"ab\n", "cd"}},
      {"abcd\n", 3, {"ab", "cd", "\n"}},
      {"\n\n", 10, {"\n", "\n"}},
      {"", 10, {}},
      {"x", 2, {"x"}},
      {"xyz", 1, {}},  // no room for any byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input + " n=" + std::to_string(c.n));
    DataFile* f = data_open_memory(c.input.data(), c.input.size(), false, false);
    std::vector<std::string> got;
    char buf[16];
    while (data_read_line(f, buf, c.n)) got.push_back(buf);
    EXPECT_EQ(got, c.lines);
    EXPECT_EQ(buf[0], 0);
    data_close(f);
  }
}

TEST(FilesRead, PeekPushesBackOneCharacter) {
  DataFile* f = data_open_memory("xyz", 3, false, false);
  EXPECT_EQ(data_peek(f), 'x');
  EXPECT_EQ(data_peek(f), 'x');
  EXPECT_EQ(data_getc(f), 'x');
  EXPECT_EQ(data_peek(f), 'y');
  char buf[8];
  EXPECT_EQ(data_read(f, buf, sizeof buf), 2u);  // the pushed-back 'y' and 'z'
  EXPECT_EQ(std::string(buf, 2), "yz");
  EXPECT_EQ(data_peek(f), EOF);
  EXPECT_EQ(data_getc(f), EOF);
  EXPECT_EQ(data_ungetc(f, 'q'), 'q');
  EXPECT_EQ(data_ungetc(f, 'r'), EOF);  // one slot only
  EXPECT_EQ(data_getc(f), 'q');
  EXPECT_EQ(data_getc(f), EOF);
  data_close(f);
  EXPECT_EQ(data_getc(nullptr), EOF);
  EXPECT_EQ(data_peek(nullptr), EOF);
}

TEST(FilesRead, SeekSetsThePositionAndDropsThePushedBackCharacter) {
  TempDir dir;
  write_file(dir.file("s.txt"), "0123456789");
  DataFile* f = data_open(dir.file("s.txt").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(data_peek(f), '0');
  ASSERT_TRUE(data_seek(f, 7));
  EXPECT_EQ(data_getc(f), '7');
  ASSERT_TRUE(data_seek(f, 2));
  char buf[4];
  EXPECT_EQ(data_read(f, buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 3), "234");
  EXPECT_FALSE(data_seek(f, -1));
  data_close(f);

  DataFile* m = data_open_memory("abc", 3, false, false);
  EXPECT_TRUE(data_seek(m, 3));
  EXPECT_EQ(data_getc(m), EOF);
  EXPECT_TRUE(data_seek(m, 1));
  EXPECT_EQ(data_getc(m), 'b');
  EXPECT_FALSE(data_seek(m, 4));
  data_close(m);
}

TEST(FilesRead, ReadIntGivesTheMostNegativeValueWhenNothingConverts) {
  const struct {
    const char* input;
    int32_t value;
    const char* rest;
  } cases[] = {
      {"abc", INT32_MIN, "abc"}, {"", INT32_MIN, ""}, {"  -42 next", -42, " next"}, {"7x", 7, "x"},
      {"-", INT32_MIN, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    DataFile* f = data_open_memory(c.input, strlen(c.input), false, false);
    EXPECT_EQ(data_read_int(f), c.value);
    std::string rest;
    for (int ch; (ch = data_getc(f)) != EOF;) rest += (char)ch;
    EXPECT_EQ(rest, c.rest);
    data_close(f);
  }
}

TEST(FilesRead, SkipCommentsSkipsCommentLinesAndWhiteSpace) {
  const struct {
    const char* input;
    const char* rest;
  } cases[] = {
      {"# one\n  # two\n\t#\n 12 # not a comment line\n", "12 # not a comment line\n"},
      {"12", "12"},
      {"  \n 12", "12"},
      {"# only a comment", ""},
      {"#\n#\nx", "x"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    DataFile* f = data_open_memory(c.input, strlen(c.input), false, false);
    data_skip_comments(f);
    std::string rest;
    for (int ch; (ch = data_getc(f)) != EOF;) rest += (char)ch;
    EXPECT_EQ(rest, c.rest);
    data_close(f);
  }
}

// ---------------------------------------------------------------- scrambling

TEST(FilesScramble, RoundTripThroughTheToolFunction) {
  TempDir dir;
  std::string text = noisy_text(100000);
  write_file(dir.file("plain"), text);
  ASSERT_TRUE(scramble_file(dir.file("plain").c_str(), dir.file("data.scram").c_str()));
  std::string stored = read_file(dir.file("data.scram"));
  ASSERT_EQ(stored.size(), text.size());
  EXPECT_NE(stored, text);
  EXPECT_EQ(stored, scrambled(text));
  // The ".scram" fallback reads it back.
  DataFile* f = data_open(dir.file("data").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(data_is_scrambled(f));
  EXPECT_EQ(read_all(f), text);
  data_close(f);
  // Scrambling again gives the plain file; a file is never scrambled onto itself.
  ASSERT_TRUE(scramble_file(dir.file("data.scram").c_str(), dir.file("again").c_str()));
  EXPECT_EQ(read_file(dir.file("again")), text);
  EXPECT_FALSE(scramble_file(dir.file("plain").c_str(), dir.file("plain").c_str()));
  EXPECT_EQ(read_file(dir.file("plain")), text);
  EXPECT_FALSE(scramble_file(dir.file("missing").c_str(), dir.file("out").c_str()));
  EXPECT_FALSE(file_exists(dir.file("out")));
}

TEST(FilesScramble, CommandLineTool) {
  TempDir dir;
  write_file(dir.file("in"), "ship me");
  std::string tool = std::string(RT_BINARY_DIR) + "/rt_scramble";
  CommandResult ok = run_command(tool + " " + dir.file("in") + " " + dir.file("out.scram"));
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(read_file(dir.file("out.scram")), scrambled("ship me"));
  CommandResult usage = run_command(tool + " only-one");
  EXPECT_EQ(usage.status, 1);
  EXPECT_NE(usage.err.find("usage"), std::string::npos);
  CommandResult missing = run_command(tool + " " + dir.file("nope") + " " + dir.file("o"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(missing.err.empty());
}

// ---------------------------------------------------------------- game-data check and home folder

TEST(FilesDigest, RipemdOfTheFirstMebibyte) {
  TempDir dir;
  write_file(dir.file("abc"), "abc");
  char hex[41];
  ASSERT_TRUE(ripemd160_file_prefix_hex(dir.file("abc").c_str(), hex));
  EXPECT_STREQ(hex, "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc");  // the published test vector
  std::string mib = noisy_text(1048576);
  write_file(dir.file("exact"), mib);
  write_file(dir.file("longer"), mib + "tail that is not hashed");
  char a[41], b[41];
  ASSERT_TRUE(ripemd160_file_prefix_hex(dir.file("exact").c_str(), a));
  ASSERT_TRUE(ripemd160_file_prefix_hex(dir.file("longer").c_str(), b));
  EXPECT_STREQ(a, b);
  EXPECT_FALSE(ripemd160_file_prefix_hex(dir.file("missing").c_str(), a));
  EXPECT_FALSE(ripemd160_file_prefix_hex(dir.path.c_str(), a));  // a directory
  EXPECT_TRUE(game_data_digest_accepted("715c4d1e915e19e6456a63a9a7664a8716124d05"));
  EXPECT_TRUE(game_data_digest_accepted("715C4D1E915E19E6456A63A9A7664A8716124D05"));
  EXPECT_FALSE(game_data_digest_accepted("0000000000000000000000000000000000000000"));
}

TEST_F(FilesTest, GameDataCheckFindsTheMarkerArchiveByDigest) {
  ScopedEnv no_log_override("VOLG_LOGFILE", nullptr);
  ScopedEnv no_log_flags("VOLG_LOGFILE_FLAGS", nullptr);
  log_reset();
  EXPECT_FALSE(game_data_check());  // no marker archive anywhere
  log_reset();
  struct stat st;
  EXPECT_EQ(stat(home.c_str(), &st), 0);  // the home directory was created
  EXPECT_NE(read_file(home + "lastlog.txt").find("Logfile"), std::string::npos);

  write_file(game + "zzzz.saf", make_saf({{"marker", noisy_text(3000)}}));
  char hex[41];
  ASSERT_TRUE(ripemd160_file_prefix_hex((game + "zzzz.saf").c_str(), hex));
  EXPECT_FALSE(game_data_check());  // present but not an accepted digest
  log_reset();
  game_data_add_accepted_digest_for_tests(hex);
  EXPECT_TRUE(game_data_check());
  log_reset();
  // A changed marker is rejected again.
  write_file(game + "zzzz.saf", make_saf({{"marker", noisy_text(3001)}}));
  EXPECT_FALSE(game_data_check());
  log_reset();
}

TEST_F(FilesTest, OpenHomeFolderCreatesItAndStartsTheBrowser) {
  std::string bin = root.path + "/bin";
  std::string seen = root.path + "/seen";
  write_file(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + seen + "'\n");
  chmod((bin + "/xdg-open").c_str(), 0755);
  {
    ScopedEnv path("PATH", bin.c_str());
    ASSERT_TRUE(open_home_folder());
  }
  struct stat st;
  EXPECT_EQ(stat(home.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  // The browser runs detached; wait briefly for its output.
  for (int i = 0; i < 200 && read_file(seen).empty(); i++) usleep(10000);
  EXPECT_EQ(read_file(seen), xdg + "/Rutmoto");

  ScopedEnv empty_path("PATH", (root.path + "/nothing-here").c_str());
  EXPECT_FALSE(open_home_folder());
}
