#include "tests/track_fixture.h"

#include <cstdio>

#include "tests/test_helpers.h"

std::string fixture_terrain_hf(const FixtureTrack& t) {
  char header[128];
  snprintf(header, sizeof header, "%d %f %f %f\n", t.n, t.spacing, t.min_height, t.max_height);
  std::string out = header;
  if (!t.binary_heights) return out;
  out += ":";
  int g = t.grid();
  for (int j = 0; j < g; j++) {
    for (int i = 0; i < g; i++) {
      uint16_t s = t.samples.empty() ? (uint16_t)((i + 2 * j) * 1000) : t.samples[j * g + i];
      out.push_back((char)(s & 0xFF));
      out.push_back((char)(s >> 8));
    }
  }
  return out;
}

std::string fixture_ppm(int width, int height, uint8_t value) {
  std::string out = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  out.append((size_t)width * height * 3, (char)value);
  return out;
}

void write_fixture_track(const std::string& data_dir, const std::string& name,
                         const FixtureTrack& t) {
  std::string dir = data_dir + "/" + name + "/";
  write_file(dir + "terrain.hf", fixture_terrain_hf(t));
  write_file(dir + "shading.ppm", fixture_ppm(t.grid(), t.grid(), 200));
  std::string tilemap;
  for (int k = 0; k < t.cells() * t.cells(); k++) tilemap.push_back((char)(k % 2));
  write_file(dir + "tilemap", tilemap);
  if (t.tileinfo) {
    write_file(dir + "tileinfo",
               "texture @dirt.png\nfriction 0.8 2\nfriction 1.2 10\nroost count=5\naddtile\n"
               "texture @grass.png\nfriction 1.0 1\naddtile\n");
  } else {
    write_file(dir + "texturelist", "0.9 4 12 dirt.png\ngrass.png\n");
  }
  if (t.timing_gates) {
    write_file(dir + "timing_gates",
               "startinggate:\n[1 0 1] 0\n[2 0 1] 0\n"
               "checkpoints:\n1 [1 0 2] [0 0 1]\n1 [3 0 3] [1 0 0]\n"
               "firstlap:\n0 1\nnormallap:\n0 1\n");
  }
  if (t.statues) {
    write_file(dir + "statues", "[1 0 1] 0 null null " + t.statue_shape + "\n[2 0.5 2] 1.5 null null " +
                                    t.statue_shape + "\n");
    std::string shape_file = t.statue_shape.substr(1);
    write_file(data_dir + "/" + shape_file, "1\n0 0.5 0 0.5 1 1000 10\n");
  }
  if (t.billboards) write_file(dir + "billboards", "[1 0 3] 1 1 @tree.png\n[3 0 1] 1 1 #ff0000#@flag.png\n");
  write_file(dir + "desc", "Fixture " + name + "\n");
  if (!t.extras) return;
  std::string pgm = "P5\n" + std::to_string(t.grid()) + " " + std::to_string(t.grid()) + "\n255\n";
  pgm.append((size_t)t.grid() * t.grid(), (char)230);
  write_file(dir + "shadows.pgm", pgm);
  write_file(dir + "decals", "[1 1] 0 1 2 @decal.png\n");
  write_file(dir + "lighting", "sun_vector [1 2 1]\nfog [0.5 0.5 0.5] 0.01\n");
  write_file(dir + "flaggers",
             "[1 0 1] [2 0 1] 1 1 5 @s1.png @s2.png @s3.png @s4.png @s5.png\n"
             "[3 0 3] 1 1 @l1.png @l2.png @l3.png @l4.png\n"
             "[2 0 2] 1 1 0 1 -1 -1 @f.png @fw.png\n");
  write_file(dir + "cameras", "gate 0 1\nfov 60\naddcamera 2 5 2\n");
}
