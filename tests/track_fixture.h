// Small fixture tracks written by the tests themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FixtureTrack {
  int n = 2;  // grid 2^(n+1)+1 samples, tilemap 2^n cells a side
  float spacing = 1.0f;
  float min_height = 0.0f;
  float max_height = 10.0f;
  bool binary_heights = true;      // ":" + samples in terrain.hf
  std::vector<uint16_t> samples;   // grid order; empty = a gentle slope
  bool tileinfo = true;            // else texturelist
  bool timing_gates = true;
  bool statues = true;
  bool billboards = true;
  bool extras = true;              // shadows.pgm, decals, lighting, flaggers, cameras
  std::string statue_shape = "@fixture.shp";

  int grid() const { return (1 << (n + 1)) + 1; }
  int cells() const { return 1 << n; }
};

// Writes the track into <data_dir>/<name>/ (and shared files such as the
// statue shape into <data_dir>/).
void write_fixture_track(const std::string& data_dir, const std::string& name,
                         const FixtureTrack& t);
std::string fixture_terrain_hf(const FixtureTrack& t);
std::string fixture_ppm(int width, int height, uint8_t value);
