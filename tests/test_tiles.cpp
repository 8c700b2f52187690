// Ground tile types: tileinfo and texturelist readers, addtile, transition
// codes, friction and rolling-resistance lookups, and tiles_load on a track
// directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/messages.h"
#include "render/texture.h"
#include "test_helpers.h"
#include "track/tiles.h"
#include "track/track.h"

namespace {

// A tile list as the height field holds it, freed at the end of the test.
struct TileList {
  std::vector<TileType> tiles = std::vector<TileType>(TERRAIN_MAX_TILES);
  int32_t count = 0;
  ~TileList() { tiles_free(tiles.data(), count); }
  TileType& operator[](int i) { return tiles[i]; }
};

// Messages printed since the history was last cleared.
std::vector<std::string> messages() {
  std::vector<std::string> out;
  for (int32_t i = message_history.write_index - 1; i >= 0; i--)
    out.push_back(message_history_line(message_history, i));
  return out;
}

void read_tileinfo(const std::string& text, TileList& list) {
  message_history_clear(message_history);
  DataFile* f = data_open_memory(text.data(), text.size(), false, false);
  ASSERT_NE(f, nullptr);
  tileinfo_read(f, list.tiles.data(), &list.count, false, false);
  data_close(f);
}

void read_texturelist(const std::string& text, TileList& list) {
  message_history_clear(message_history);
  DataFile* f = data_open_memory(text.data(), text.size(), false, false);
  ASSERT_NE(f, nullptr);
  texturelist_read(f, list.tiles.data(), &list.count, false, false);
  data_close(f);
}

using Messages = std::vector<std::string>;

void expect_default_roost(const RoostType& r, int32_t kind) {
  EXPECT_EQ(r.kind, kind);
  EXPECT_FLOAT_EQ(r.count, 10.0f);
  EXPECT_FLOAT_EQ(r.dig, 1.0f);
  EXPECT_FLOAT_EQ(r.slip_threshold, 4.0f);
  EXPECT_FLOAT_EQ(r.slow_angle, 1.5707964f);
  EXPECT_FLOAT_EQ(r.fast_angle, 0.19634955f);
  EXPECT_FLOAT_EQ(r.slow_speed, 0.0f);
  EXPECT_FLOAT_EQ(r.fast_speed, 64.0f);
  EXPECT_FLOAT_EQ(r.size, 0.25f);
  EXPECT_FLOAT_EQ(r.grow, 4.0f);
  EXPECT_FLOAT_EQ(r.drag, 0.5f);
  EXPECT_FLOAT_EQ(r.vscale, 1.0f);
  EXPECT_FLOAT_EQ(r.randomize, 15.0f);
  EXPECT_EQ(r.r, 255);
  EXPECT_EQ(r.g, 255);
  EXPECT_EQ(r.b, 255);
  EXPECT_EQ(r.a, 255);
  EXPECT_EQ(r.fade_r, 0);
  EXPECT_EQ(r.fade_g, 0);
  EXPECT_EQ(r.fade_b, 0);
  EXPECT_EQ(r.fade_a, -2);
}

void expect_default_erosion(const TileType& t) {
  EXPECT_FLOAT_EQ(t.erode_depth, 1.0f);
  EXPECT_FLOAT_EQ(t.erode_lower, 50.0f);
  EXPECT_FLOAT_EQ(t.erode_upper, 150.0f);
  EXPECT_FLOAT_EQ(t.erode_displacement, 2.0f);
  EXPECT_FLOAT_EQ(t.erode_radius, 4.0f);
  EXPECT_FLOAT_EQ(t.erode_max_slope, 0.25f);
  EXPECT_FLOAT_EQ(t.erode_off_speed, 10.0f);
  EXPECT_FLOAT_EQ(t.erode_on_speed, 15.0f);
}

}  // namespace

// ---------------------------------------------------------------- tileinfo: friction and rolling
// resistance

TEST(TilesFriction, TableInterpolatesInSquaredSpeedInEitherOrder) {
  const char* orders[] = {
      "friction 0.8 2\nfriction 1.2 10\naddtile\n",
      "friction 1.2 10\nfriction 0.8 2\naddtile\n",
  };
  struct Case {
    float speed;
    float expected;
  };
  const Case cases[] = {
      {0.0f, 0.8f},  {2.0f, 0.8f},  {6.0f, 0.8f + 0.4f * (36.0f - 4.0f) / (100.0f - 4.0f)},
      {10.0f, 1.2f}, {20.0f, 1.2f},
  };
  for (const char* text : orders) {
    SCOPED_TRACE(text);
    TileList list;
    read_tileinfo(text, list);
    ASSERT_EQ(list.count, 1);
    const TileType& t = list[0];
    EXPECT_FLOAT_EQ(t.friction_speed[0], 2.0f);
    EXPECT_FLOAT_EQ(t.friction_speed[1], 10.0f);
    EXPECT_FLOAT_EQ(t.friction_speed[2], 0.0f);
    for (const Case& c : cases) {
      EXPECT_NEAR(tile_type_friction(&t, c.speed * c.speed), c.expected, 1e-6) << c.speed;
    }
    EXPECT_TRUE(messages().empty());
  }
}

TEST(TilesFriction, NinthPointAndBadParametersWarnAndLeaveTheTable) {
  std::string text;
  for (int i = 1; i <= 8; i++)
    text += "friction " + std::to_string(i) + " " + std::to_string(i) + "\n";
  text += "friction 99 0.5\n";  // ninth: dropped, would otherwise sort first
  text += "addtile\n";
  text += "friction 0.7\n";  // one number
  text += "friction x 3\n";
  text += "friction nan 3\n";  // not a usable number
  text += "friction -1 0\n";   // clamped: coefficient 0, speed 2^-20
  text += "addtile\n";
  TileList list;
  read_tileinfo(text, list);
  ASSERT_EQ(list.count, 2);
  EXPECT_EQ(messages(), (Messages{"tileinfo warning: too many friction points\n",
                                  "tileinfo warning: bad friction parameters\n",
                                  "tileinfo warning: bad friction parameters\n",
                                  "tileinfo warning: bad friction parameters\n"}));
  for (int i = 0; i < 8; i++) {
    EXPECT_FLOAT_EQ(list[0].friction[i], (float)(i + 1));
    EXPECT_FLOAT_EQ(list[0].friction_speed[i], (float)(i + 1));
  }
  // Past the last point the last coefficient holds.
  EXPECT_FLOAT_EQ(tile_type_friction(&list[0], 1e6f), 8.0f);
  EXPECT_FLOAT_EQ(list[1].friction[0], 0.0f);
  EXPECT_FLOAT_EQ(list[1].friction_speed[0], TILE_MIN_POINT_SPEED);
  EXPECT_FLOAT_EQ(list[1].friction[1], 1.0f);  // unused entries keep the reset values
  EXPECT_FLOAT_EQ(list[1].friction_speed[1], 0.0f);
}

TEST(TilesFriction, TileWithoutPointsGripsWithOneEverywhere) {
  TileList list;
  read_tileinfo("addtile\n", list);
  ASSERT_EQ(list.count, 1);
  const TileType& t = list[0];
  EXPECT_FLOAT_EQ(t.friction_speed[0], 1.0f);
  for (int i = 1; i < 8; i++) EXPECT_FLOAT_EQ(t.friction_speed[i], 0.0f);
  for (float s : {0.0f, 0.5f, 1.0f, 30.0f}) EXPECT_FLOAT_EQ(tile_type_friction(&t, s * s), 1.0f);
  float lo, hi;
  tile_type_roll_resist(&t, 12.0f, &lo, &hi);
  EXPECT_FLOAT_EQ(lo, 5.0f);
  EXPECT_FLOAT_EQ(hi, 15.0f);
  for (int i = 0; i < 8; i++) {
    EXPECT_FLOAT_EQ(t.roll_resist[i][0], 5.0f);
    EXPECT_FLOAT_EQ(t.roll_resist[i][1], 15.0f);
  }
  for (int i = 0; i < 4; i++) expect_default_roost(t.roost[i], 0);
  expect_default_erosion(t);
  EXPECT_EQ(t.texture, 0u);
  EXPECT_EQ(t.key, nullptr);
}

TEST(TilesRollResist, PairsInterpolateLinearlyInSpeedAfterSorting) {
  TileList list;
  read_tileinfo(
      "roll_resist 6 20 4\n"
      "roll_resist 4 10 2\n"
      "roll_resist 1 2\n"       // two numbers
      "roll_resist -3 -1 -5\n"  // all clamped
      "addtile\n",
      list);
  ASSERT_EQ(list.count, 1);
  EXPECT_EQ(messages(), (Messages{"tileinfo warning: bad roll_resist parameters\n"}));
  const TileType& t = list[0];
  // Sorted: the clamped point (speed 2^-20) first.
  EXPECT_FLOAT_EQ(t.roll_resist_speed[0], TILE_MIN_POINT_SPEED);
  EXPECT_FLOAT_EQ(t.roll_resist[0][0], 0.0f);
  EXPECT_FLOAT_EQ(t.roll_resist[0][1], 0.0f);
  EXPECT_FLOAT_EQ(t.roll_resist_speed[1], 2.0f);
  EXPECT_FLOAT_EQ(t.roll_resist_speed[2], 4.0f);
  EXPECT_FLOAT_EQ(t.roll_resist_speed[3], 0.0f);
  struct Case {
    float speed, shallow, deep;
  };
  const Case cases[] = {
      {0.0f, 0.0f, 0.0f},  {1.0f, 2.0f, 5.0f},  {2.0f, 4.0f, 10.0f},
      {3.0f, 5.0f, 15.0f}, {4.0f, 6.0f, 20.0f}, {50.0f, 6.0f, 20.0f},
  };
  for (const Case& c : cases) {
    float lo, hi;
    tile_type_roll_resist(&t, c.speed, &lo, &hi);
    EXPECT_NEAR(lo, c.shallow, 1e-4) << c.speed;
    EXPECT_NEAR(hi, c.deep, 1e-4) << c.speed;
  }
}

TEST(TilesRollResist, NinthPointWarns) {
  std::string text;
  for (int i = 1; i <= 9; i++) text += "roll_resist 1 2 " + std::to_string(i) + "\n";
  text += "addtile\n";
  TileList list;
  read_tileinfo(text, list);
  ASSERT_EQ(list.count, 1);
  EXPECT_EQ(messages(), (Messages{"tileinfo warning: too many roll_resist points\n"}));
  EXPECT_FLOAT_EQ(list[0].roll_resist_speed[7], 8.0f);
}

TEST(TilesLookup, GlobalLookupsUseTheTrackTilesAndDefaultOutsideThem) {
  TileList list;
  read_tileinfo("friction 0.5 1\nroll_resist 2 3 1\naddtile\n", list);
  ASSERT_EQ(list.count, 1);
  TileType saved = track.hf.tiles[0];
  int32_t saved_count = track.hf.tile_count;
  track.hf.tiles[0] = list[0];
  track.hf.tile_count = 1;
  float lo, hi;
  EXPECT_FLOAT_EQ(tile_friction(0, 100.0f), 0.5f);
  tile_roll_resist(0, 10.0f, &lo, &hi);
  EXPECT_FLOAT_EQ(lo, 2.0f);
  EXPECT_FLOAT_EQ(hi, 3.0f);
  for (int32_t bad : {-1, 1, 255, 256, 100000}) {
    EXPECT_FLOAT_EQ(tile_friction(bad, 4.0f), 1.0f) << bad;
    tile_roll_resist(bad, 4.0f, &lo, &hi);
    EXPECT_FLOAT_EQ(lo, 5.0f) << bad;
    EXPECT_FLOAT_EQ(hi, 15.0f) << bad;
  }
  track.hf.tiles[0] = saved;
  track.hf.tile_count = saved_count;
}

// ---------------------------------------------------------------- tileinfo: roost

TEST(TilesRoost, NoRoostLineThrowsNothingAndParametersAreStored) {
  TileList list;
  read_tileinfo(
      "addtile\n"
      "roost count=20 dig=0.5 slip_threshold=2 slow_angle=1 fast_angle=0.1 slow_speed=3 "
      "fast_speed=40 size=0.5 grow=2 drag=0.25 vscale=3 randomize=7 r=200 g=300 b=-1 a=12.9 "
      "fade_r=128 fade_g=-128 fade_b=64 fade_a=-256\n"
      "roost splash=1 size=1e300 grow=-1e300\n"  // kept within float range
      "roost splash=0 size=1\n"
      "addtile\n",
      list);
  ASSERT_EQ(list.count, 2);
  EXPECT_TRUE(messages().empty());
  for (int i = 0; i < 4; i++) EXPECT_EQ(list[0].roost[i].kind, 0);

  const RoostType& r = list[1].roost[0];
  EXPECT_EQ(r.kind, 1);
  EXPECT_FLOAT_EQ(r.count, 20.0f);
  EXPECT_FLOAT_EQ(r.dig, 0.5f);
  EXPECT_FLOAT_EQ(r.slip_threshold, 2.0f);
  EXPECT_FLOAT_EQ(r.slow_angle, 1.0f);
  EXPECT_FLOAT_EQ(r.fast_angle, 0.1f);
  EXPECT_FLOAT_EQ(r.slow_speed, 3.0f);
  EXPECT_FLOAT_EQ(r.fast_speed, 40.0f);
  EXPECT_FLOAT_EQ(r.size, 0.5f);
  EXPECT_FLOAT_EQ(r.grow, 2.0f);
  EXPECT_FLOAT_EQ(r.drag, 0.25f);
  EXPECT_FLOAT_EQ(r.vscale, 3.0f);
  EXPECT_FLOAT_EQ(r.randomize, 7.0f);  // not taken for r=
  EXPECT_EQ(r.r, 200);
  EXPECT_EQ(r.g, 300 & 255);
  EXPECT_EQ(r.b, 255);  // -1 in its low 8 bits
  EXPECT_EQ(r.a, 12);   // truncated
  EXPECT_EQ(r.fade_r, 1);
  EXPECT_EQ(r.fade_g, -1);
  EXPECT_EQ(r.fade_b, 0);  // 0.5 per tick truncates to 0
  EXPECT_EQ(r.fade_a, -2);

  EXPECT_EQ(list[1].roost[1].kind, 2);
  EXPECT_EQ(list[1].roost[1].size, FLT_MAX);
  EXPECT_EQ(list[1].roost[1].grow, -FLT_MAX);
  EXPECT_EQ(list[1].roost[2].kind, 1);
  EXPECT_FLOAT_EQ(list[1].roost[2].size, 1.0f);
  expect_default_roost(list[1].roost[3], 0);
}

TEST(TilesRoost, FifthRoostBadAndUnknownParametersWarn) {
  TileList list;
  read_tileinfo(
      "roost count=abc\n"
      "roost fade_a= r=\n"
      "roost bogus=1 \"texture=@my roost.png\"\n"
      "roost thisparameterhasaverylongnamethatgoesonandon=1\n"
      "roost\n"
      "addtile\n",
      list);
  ASSERT_EQ(list.count, 1);
  EXPECT_EQ(messages(), (Messages{
                            "tileinfo warning: bad count\n",
                            "tileinfo warning: bad fade_a\n",
                            "tileinfo warning: bad r\n",
                            "tileinfo warning: unknown roost parameter 'bogus=1'\n",
                            "tileinfo warning: unknown roost parameter "
                            "'thisparameterhasaverylongnamethatgoesona'\n",
                            "tileinfo warning: too many roost types\n",
                        }));
  const TileType& t = list[0];
  EXPECT_EQ(t.roost[0].kind, 1);
  EXPECT_FLOAT_EQ(t.roost[0].count, 0.0f);  // a bad number sets 0
  EXPECT_EQ(t.roost[1].fade_a, 0);
  EXPECT_EQ(t.roost[1].r, 0);
  EXPECT_EQ(t.roost[2].kind, 1);
  EXPECT_EQ(t.roost[3].kind, 1);
}

TEST(TilesRoost, EveryBadNumberNamesItsParameter) {
  const char* names[] = {
      "count", "dig",  "slip_threshold", "slow_angle", "fast_angle", "slow_speed", "fast_speed",
      "size",  "grow", "drag",           "vscale",     "randomize",  "r",          "g",
      "b",     "a",    "fade_r",         "fade_g",     "fade_b",     "fade_a"};
  for (const char* name : names) {
    TileList list;
    read_tileinfo(std::string("roost ") + name + "=inf\naddtile\n", list);
    EXPECT_EQ(messages(), (Messages{std::string("tileinfo warning: bad ") + name + "\n"}));
  }
}

// ---------------------------------------------------------------- tileinfo: other keywords

TEST(TilesInfo, ErosionParametersAndTheirWarnings) {
  TileList list;
  read_tileinfo(
      "erode_depth 2\nerode_lower 3\nerode_upper 4\nerode_displacement 5\n"
      "erode_radius 6\nerode_max_slope 7\nerode_off_speed 8\nerode_on_speed 9\naddtile\n"
      "erode_depth\nerode_lower x\nerode_upper\nerode_displacement\nerode_radius\n"
      "erode_max_slope\nerode_off_speed\nerode_on_speed nan\naddtile\n",
      list);
  ASSERT_EQ(list.count, 2);
  const TileType& t = list[0];
  EXPECT_FLOAT_EQ(t.erode_depth, 2);
  EXPECT_FLOAT_EQ(t.erode_lower, 3);
  EXPECT_FLOAT_EQ(t.erode_upper, 4);
  EXPECT_FLOAT_EQ(t.erode_displacement, 5);
  EXPECT_FLOAT_EQ(t.erode_radius, 6);
  EXPECT_FLOAT_EQ(t.erode_max_slope, 7);
  EXPECT_FLOAT_EQ(t.erode_off_speed, 8);
  EXPECT_FLOAT_EQ(t.erode_on_speed, 9);
  expect_default_erosion(list[1]);  // the pending tile was reset by addtile
  EXPECT_EQ(
      messages(),
      (Messages{"tileinfo warning: bad erode_depth\n", "tileinfo warning: bad erode_lower\n",
                "tileinfo warning: bad erode_upper\n", "tileinfo warning: bad erode_displacement\n",
                "tileinfo warning: bad erode_radius\n", "tileinfo warning: bad erode_max_slope\n",
                "tileinfo warning: bad erode_off_speed\n",
                "tileinfo warning: bad erode_on_speed\n"}));
}

TEST(TilesInfo, LinesAreSplitIntoKeywordAndValue) {
  TileList list;
  read_tileinfo(
      "\n   \t\r\n"
      "  \ttexture \t my dirt.png\r\n"  // the value keeps inner blanks, loses "\r"
      "Addtile\n"                       // keywords are case-sensitive
      "addtiles\n"                      // and whole words
      "friction\r0.5 2\n"               // a keyword ended by "\r" has no value
      "# comment\n"
      "addtile this is ignored\n"
      "texture\n"
      "addtile",  // no final newline
      list);
  ASSERT_EQ(list.count, 2);
  EXPECT_STREQ(list[0].key, "my dirt.png");
  EXPECT_FLOAT_EQ(list[0].friction_speed[0], 1.0f);
  EXPECT_STREQ(list[1].key, "");
  EXPECT_EQ(messages(), (Messages{"tileinfo warning: Unknown identifier 'Addtile'\n",
                                  "tileinfo warning: Unknown identifier 'addtiles'\n",
                                  "tileinfo warning: bad friction parameters\n",
                                  "tileinfo warning: Unknown identifier '#'\n"}));
}

TEST(TilesInfo, ParametersAfterTheLastAddtileAreDropped) {
  TileList list;
  read_tileinfo("texture a.png\naddtile\ntexture b.png\nfriction 0.3 1\nroost\n", list);
  EXPECT_EQ(list.count, 1);
  EXPECT_STREQ(list[0].key, "a.png");
  // The next read appends after the existing tiles.
  read_tileinfo("texture c.png\naddtile\n", list);
  ASSERT_EQ(list.count, 2);
  EXPECT_STREQ(list[1].key, "c.png");
}

TEST(TilesInfo, ReadingStopsAt256Tiles) {
  std::string text;
  for (int i = 0; i < 300; i++) text += "texture t" + std::to_string(i) + ".png\naddtile\n";
  text += "nonsense\n";
  TileList list;
  read_tileinfo(text, list);
  EXPECT_EQ(list.count, TERRAIN_MAX_TILES);
  EXPECT_STREQ(list[255].key, "t255.png");
  EXPECT_TRUE(messages().empty());  // the line after the limit is never read
}

TEST(TilesInfo, OverlongLinesAndBinaryJunkAreHarmless) {
  std::string text = "texture " + std::string(3000, 'x') + "\naddtile\n";
  text += "roost \"" + std::string(2000, 'q') + "\n";  // unterminated quote
  text += std::string("\0\xff\x01 roost\n", 10);
  text += "addtile\n";
  TileList list;
  read_tileinfo(text, list);
  ASSERT_GE(list.count, 1);
  // The first 1023 characters make one line; the rest is read as further lines.
  EXPECT_EQ(strlen(list[0].key), 1023u - strlen("texture "));
}

// ---------------------------------------------------------------- transition codes

TEST(TilesTransition, CodesFromTextureNames) {
  struct Case {
    std::vector<const char*> names;  // tile keys in order
    int index;                       // tile whose code is checked
    uint32_t expected;
  };
  const Case cases[] = {
      {{"dirt.png", "grass.png", "dirt-grass-0110.png"}, 2, (0u << 16) | (1u << 8) | 6u},
      {{"dirt.png", "grass.png", "dirt-alt2.png"}, 2, (0u << 16) | (0u << 8)},
      {{"dirt.png", "grass.png", "dirt-grass.png"}, 2, 0xFFFFFF00u},
      {{"dirt.png", "grass.png", "grass-dirt-1000.png"}, 2, (1u << 16) | (0u << 8) | 8u},
      {{"dirt.png", "grass.png", "dirt-mud-1111.png"}, 2, 0xFFFFFF00u},               // no mud tile
      {{"dirt.png", "grass.png", "sand-grass-1111.png"}, 2, (2u << 16) | (2u << 8)},  // no sand
      {{"dirt.png", "grass.png", "dirt-grass-01x1.png"}, 2, (0u << 16) | (1u << 8)},  // no mask
      {{"dirt.png", "grass.png", "dirt-grass-011.png"}, 2, (0u << 16) | (1u << 8)},
      {{"dirt.png", "grass.png", "dirt-alt.png"}, 2, 0xFFFFFF00u},  // "alt" without digit
      {{"dirt.png", "grass.png"}, 1, (1u << 16) | (1u << 8)},       // plain tile
      {{"dirt.png", "dirtier.png", "dirtier-dirt-0001.png"}, 2, (1u << 16) | (0u << 8) | 1u},
      // Names in a track directory and with "@" behave like bare names.
      {{"@t/dirt.png", "@t/grass.png", "@t/dirt-grass-0110.png"}, 2, (0u << 16) | (1u << 8) | 6u},
      {{"@dirt.png", "@grass.png", "@dirt-grass-1001.png"}, 2, (0u << 16) | (1u << 8) | 9u},
      {{"@t/dirt.png", "@t/grass.png", "@t/dirt-alt1.png"}, 2, 0u},
      {{nullptr, "x-y-1111.png"}, 0, 0u},  // a tile without texture is its own base
  };
  for (const Case& c : cases) {
    std::vector<TileType> tiles(c.names.size());
    for (size_t i = 0; i < c.names.size(); i++) {
      tile_type_defaults(&tiles[i], false);
      tiles[i].key = c.names[i];
    }
    tiles_compute_transitions(tiles.data(), (int32_t)tiles.size());
    EXPECT_EQ(tiles[c.index].transition, c.expected) << c.names[c.index];
  }
}

TEST(TilesTransition, KeyIsTheNameFromItsLastSlash) {
  EXPECT_STREQ(tile_transition_key("@rabbithill/dirt.png"), "/dirt.png");
  EXPECT_STREQ(tile_transition_key("a/b/c.png"), "/c.png");
  EXPECT_STREQ(tile_transition_key("@dirt.png"), "dirt.png");
  EXPECT_STREQ(tile_transition_key("dirt.png"), "dirt.png");
  EXPECT_STREQ(tile_transition_key(nullptr), "");
}

// ---------------------------------------------------------------- texturelist

TEST(TilesTexturelist, LinesGiveTilesWithDefaultRoost) {
  TileList list;
  read_texturelist(
      "0.5 2 8 dirt.png\n"
      "\n"
      "   grass.png\r\n"
      "1 2 rock.png\n"  // only two numbers: the whole line is the name
      "-1 -2 -3   mud one.png\n"
      "3 4 5\n",
      list);
  ASSERT_EQ(list.count, 5);
  EXPECT_TRUE(messages().empty());
  const char* keys[] = {"@dirt.png", "@grass.png", "@1 2 rock.png", "@mud one.png", "@"};
  const float values[][3] = {{0.5f, 2, 8}, {1, 5, 15}, {1, 5, 15}, {0, 0, 0}, {3, 4, 5}};
  for (int i = 0; i < list.count; i++) {
    SCOPED_TRACE(i);
    const TileType& t = list[i];
    EXPECT_STREQ(t.key, keys[i]);
    EXPECT_FLOAT_EQ(t.friction[0], values[i][0]);
    EXPECT_FLOAT_EQ(t.roll_resist[0][0], values[i][1]);
    EXPECT_FLOAT_EQ(t.roll_resist[0][1], values[i][2]);
    EXPECT_FLOAT_EQ(t.friction_speed[0], 1.0f);
    EXPECT_FLOAT_EQ(t.friction_speed[1], 0.0f);
    EXPECT_FLOAT_EQ(t.roll_resist_speed[0], 1.0f);
    EXPECT_FLOAT_EQ(t.roll_resist_speed[1], 0.0f);
    expect_default_roost(t.roost[0], 1);
    for (int k = 1; k < 4; k++) expect_default_roost(t.roost[k], 0);
    expect_default_erosion(t);
  }
  EXPECT_FLOAT_EQ(tile_type_friction(&list[0], 400.0f), 0.5f);
}

TEST(TilesTexturelist, AtMost256Tiles) {
  std::string text;
  for (int i = 0; i < 300; i++) text += "t" + std::to_string(i) + ".png\n";
  TileList list;
  read_texturelist(text, list);
  EXPECT_EQ(list.count, TERRAIN_MAX_TILES);
  EXPECT_STREQ(list[255].key, "@t255.png");
}

// ---------------------------------------------------------------- tiles_load on a track directory

namespace {

// Game data in "<root>/game/" with a track directory "t/"; home in "<root>/xdg/Rutmoto/".
class TilesLoad : public ::testing::Test {
 protected:
  TempDir root;
  std::string game = root.path + "/game/";
  std::string dir = game + "t/";
  ScopedEnv env_xdg{"XDG_DATA_HOME", (root.path + "/xdg").c_str()};
  ScopedEnv env_rt{"RT_HOME", (root.path + "/game").c_str()};
  TileList list;

  void SetUp() override {
    mkdir(game.c_str(), 0777);
    mkdir(dir.c_str(), 0777);
    file_list_free();
    message_history_clear(message_history);
  }
  void TearDown() override {
    tiles_free(list.tiles.data(), list.count);
    list.count = 0;
    textures_purge(true);
    file_list_free();
  }
  // A small RGB picture as a binary PPM.
  void write_ppm(const std::string& name, int w, int h) {
    std::string data = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (int i = 0; i < w * h; i++) data += std::string("\x40\x80\xc0", 3);
    write_file(dir + name, data);
  }
  bool load(bool software) { return tiles_load(list.tiles.data(), &list.count, "@t/", software); }
};

}  // namespace

TEST_F(TilesLoad, TileinfoLoadsTexturesAndTransitions) {
  write_ppm("dirt.ppm", 4, 4);
  write_ppm("grass.ppm", 4, 4);
  write_ppm("dirt-grass-0011.ppm", 4, 4);
  write_ppm("my spray.ppm", 2, 2);
  write_ppm("roost.ppm", 2, 2);
  rename((dir + "roost.ppm").c_str(), (game + "roost.png").c_str());  // found by content
  write_file(dir + "tileinfo",
             "texture @t/dirt.ppm\nroost size=2 \"texture=@t/my spray.ppm\"\naddtile\n"
             "texture @t/grass.ppm\naddtile\n"
             "texture @t/dirt-grass-0011.ppm\naddtile\n"
             "texture @t/missing.ppm\naddtile\n");
  ASSERT_TRUE(load(false));
  ASSERT_EQ(list.count, 4);
  EXPECT_NE(list[0].texture, 0u);
  EXPECT_NE(list[1].texture, 0u);
  EXPECT_NE(list[0].texture, list[1].texture);
  EXPECT_EQ(list[3].texture, 0u);  // unreadable: no texture, the load goes on
  EXPECT_EQ(list[0].pixels, nullptr);
  EXPECT_STREQ(texture_name(list[0].texture), "@t/dirt.ppm");
  EXPECT_STREQ(texture_name(list[0].roost[0].texture), "@t/my spray.ppm");
  EXPECT_FLOAT_EQ(list[0].roost[0].size, 2.0f);
  EXPECT_NE(list[0].roost[1].texture, 0u);
  EXPECT_STREQ(texture_name(list[0].roost[1].texture), "@roost.png");
  EXPECT_EQ(list[1].roost[0].texture, list[0].roost[1].texture);
  EXPECT_STREQ(list[2].key, "@t/dirt-grass-0011.ppm");
  EXPECT_EQ(list[0].transition, 0u);
  EXPECT_EQ(list[1].transition, (1u << 16) | (1u << 8));
  EXPECT_EQ(list[2].transition, (0u << 16) | (1u << 8) | 3u);
}

TEST_F(TilesLoad, SoftwareMethodKeepsPixels) {
  write_ppm("dirt.ppm", 4, 2);
  write_file(dir + "tileinfo", "texture @t/dirt.ppm\naddtile\n");
  ASSERT_TRUE(load(true));
  ASSERT_EQ(list.count, 1);
  EXPECT_EQ(list[0].texture, 0u);
  ASSERT_NE(list[0].pixels, nullptr);
  EXPECT_EQ(list[0].width, 4);
  EXPECT_EQ(list[0].height, 2);
  EXPECT_EQ(list[0].pixels[0], 0x40);
  EXPECT_EQ(list[0].pixels[1], 0x80);
}

TEST_F(TilesLoad, TileinfoWithoutTilesIsRejected) {
  write_file(dir + "tileinfo", "texture @t/dirt.ppm\nfriction 1 2\n");
  write_file(dir + "texturelist", "dirt.ppm\n");  // not used: tileinfo exists
  EXPECT_FALSE(load(false));
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(messages(), (Messages{"No ground tiles defined in '@t/tileinfo'"}));
}

TEST_F(TilesLoad, TexturelistIsUsedWithoutTileinfo) {
  write_ppm("dirt.ppm", 4, 4);
  write_file(dir + "texturelist", "0.9 3 9 t/dirt.ppm\nt/grass.ppm\n");
  ASSERT_TRUE(load(false));
  ASSERT_EQ(list.count, 2);
  EXPECT_NE(list[0].texture, 0u);
  EXPECT_EQ(list[1].texture, 0u);
  EXPECT_FLOAT_EQ(list[0].friction[0], 0.9f);
  EXPECT_EQ(list[0].roost[0].kind, 1);
  EXPECT_EQ(list[1].transition, (1u << 16) | (1u << 8));
  EXPECT_TRUE(messages().empty());
}

TEST_F(TilesLoad, EmptyTexturelistIsRejected) {
  write_file(dir + "texturelist", "\n\n");
  EXPECT_FALSE(load(false));
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(messages(), (Messages{"No ground tiles defined in '@t/texturelist'"}));
}

TEST_F(TilesLoad, MissingBothFilesFails) {
  EXPECT_FALSE(load(false));
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(messages(), (Messages{"Can't open '@t/texturelist'"}));
}
