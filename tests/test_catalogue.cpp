// The bike catalogue: entries and their order, class values, drivetrains,
// torque table shapes, lookup with fallback, asset names, skin variants and
// number plates.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/files.h"
#include "core/mem.h"
#include "core/messages.h"
#include "physics/catalogue.h"
#include "render/texture.h"
#include "tests/test_helpers.h"

namespace {

struct NamedEntry {
  const char* name;
  const char* bike_class;
  const char* base;     // asset base of the bike's models
  const char* texture;  // base of the default bike texture
};

// The catalogue as published: identifier, class and asset bases, in order.
const NamedEntry EXPECTED[] = {
    {"450sxf(2016)", "450f", "450sxfv2016", "450sxfv2016"},
    {"crf450(2016)", "450f", "crf450v2013", "crf450v2013"},
    {"kx450f(2016)", "450f", "kx450fv2016", "kx450fv2016"},
    {"rmz450(2016)", "450f", "rmz450", "rmz450"},
    {"yz450f(2016)", "450f", "yz450fv2014", "yz450fv2014"},
    {"crf450(2013)", "450f", "crf450v2013", "crf450v2013"},
    {"kx450f(2013)", "450f", "kx450f", "kx450f"},
    {"rmz450(2013)", "450f", "rmz450", "rmz450"},
    {"yz450f(2013)", "450f", "yz450f", "yz450f"},
    {"450sxf(2013)", "450f", "450sxfv2013", "450sxfv2013"},
    {"350sxf(2013)", "250f", "350sxfv2013", "350sxfv2013"},
    {"crf450(2011)", "450f", "crf450", "crf450"},
    {"kx450f(2011)", "450f", "kx450f", "kx450f"},
    {"rmz450(2011)", "450f", "rmz450", "rmz450"},
    {"yz450f(2011)", "450f", "yz450f", "yz450f"},
    {"450sxf(2011)", "450f", "450sxf", "450sxf"},
    {"350sxf(2011)", "450f", "350sxf", "350sxf"},
    {"250sx(2012)", "250", "250sx", "250sx"},
    {"cr250(2007)", "250", "cr250", "cr250"},
    {"kx250(2006)", "250", "kx250", "kx250"},
    {"rm250(2008)", "250", "rm250", "rm250"},
    {"yz250(2012)", "250", "yz250", "yz250"},
    {"crf250(2016)", "250f", "crf250v2014", "crf250v2014"},
    {"kx250f(2016)", "250f", "kx250fv2013", "kx250fv2013"},
    {"rmz250(2016)", "250f", "rmz250v2010", "rmz250v2010"},
    {"yz250f(2016)", "250f", "yz250fv2014", "yz250fv2014"},
    {"250sxf(2016)", "250f", "250sxfv2016", "250sxfv2016"},
    {"crf250(2013)", "250f", "crf250v2010", "crf250v2010"},
    {"kx250f(2013)", "250f", "kx250fv2013", "kx250fv2013"},
    {"rmz250(2013)", "250f", "rmz250v2010", "rmz250v2010"},
    {"yz250f(2013)", "250f", "yz250fv2010", "yz250fv2010"},
    {"250sxf(2013)", "250f", "250sxfv2013", "250sxfv2013"},
    {"crf250(2009)", "250f", "crf250", "crf250"},
    {"kx250f(2009)", "250f", "kx250f", "kx250f"},
    {"rmz250(2009)", "250f", "rmz250", "rmz250"},
    {"yz250f(2009)", "250f", "yz250f", "yz250f"},
    {"250sxf(2009)", "250f", "250sxf", "250sxf"},
    {"crf250(2008)", "250f", "crf250", "crf250"},
    {"kx250f(2008)", "250f", "kx250f", "kx250f"},
    {"rmz250(2008)", "250f", "rmz250", "rmz250"},
    {"yz250f(2008)", "250f", "yz250f", "yz250f"},
    {"cr125", "125", "cr125", "cr125"},
    {"kx125", "125", "kx125", "kx125"},
    {"rm125", "125", "rm125", "rm125"},
    {"yz125", "125", "yz125", "yz125"},
    {"125sx", "125", "125sx", "125sx"},
    {"crf250(2007)", "250f", "crf250", "crf250"},
    {"kx250f(2007)", "250f", "kx250f", "kx250f"},
    {"rmz250(2007)", "250f", "rmz250", "rmz250"},
    {"yz250f(2007)", "250f", "yz250f", "yz250f"},
    {"yz250f_se(2006)", "250f", "yz250f", "yz250f_se"},
    {"rs50cr", "50", "cr125", "cr125"},
    {"rs50kx", "50", "kx125", "kx125"},
    {"rs50rm", "50", "rm125", "rm125"},
    {"rs50yz", "50", "yz125", "yz125"},
};
static_assert(sizeof EXPECTED / sizeof EXPECTED[0] == BIKE_CATALOGUE_COUNT);

std::string last_message() { return message_history_line(message_history, 0); }

float torque_at(const float* table, float rpm) {
  float x = std::fmin(std::fmax(rpm / TORQUE_SAMPLE_RPM, 0.0f), (float)(TORQUE_SAMPLES - 1));
  int i = (int)x;
  int j = std::min(i + 1, TORQUE_SAMPLES - 1);
  return table[i] + (table[j] - table[i]) * (x - (float)i);
}

// ---------------------------------------------------------------- entries

TEST(CatalogueEntries, FiftyFiveInOrderWithClassesAndUniqueNames) {
  std::set<std::string> names;
  for (int i = 0; i < BIKE_CATALOGUE_COUNT; i++) {
    SCOPED_TRACE(EXPECTED[i].name);
    EXPECT_STREQ(bike_catalogue[i].name, EXPECTED[i].name);
    EXPECT_STREQ(bike_catalogue[i].bike_class, EXPECTED[i].bike_class);
    names.insert(bike_catalogue[i].name);
  }
  EXPECT_EQ(names.size(), (size_t)BIKE_CATALOGUE_COUNT);
}

TEST(CatalogueEntries, ConfigurationBikeChoiceListsTheCatalogue) {
  ASSERT_EQ(BIKE_NAME_COUNT, BIKE_CATALOGUE_COUNT);
  for (int i = 0; i < BIKE_CATALOGUE_COUNT; i++)
    EXPECT_STREQ(BIKE_NAMES[i], bike_catalogue[i].name) << "at " << i;
}

TEST(CatalogueEntries, FirstEntryTorqueTablesAsPublished) {
  const BikeInfo& b = bike_catalogue[0];
  const float open_head[] = {5,       5,       5,       5,       5,       8.4034,  11.8067,
                             15.2101, 18.6135, 22.0169, 25.4202, 30.7487, 32.9132, 34.4215,
                             35.0391, 36.2046, 35.8457, 34.9111, 33.9053, 31.0704, 28.9391,
                             26.7608, 24.2552, 12.1276, 0};
  for (int i = 0; i < 25; i++) EXPECT_FLOAT_EQ(b.open_torque[i], open_head[i]) << i;
  for (int i = 25; i < TORQUE_SAMPLES; i++) EXPECT_FLOAT_EQ(b.open_torque[i], -(i - 15)) << i;
  const float closed_head[] = {2, 2, 1, 0};
  for (int i = 0; i < 4; i++) EXPECT_FLOAT_EQ(b.closed_torque[i], closed_head[i]) << i;
  for (int i = 4; i < TORQUE_SAMPLES; i++)
    EXPECT_FLOAT_EQ(b.closed_torque[i], -(float)((i - 4) / 2 + 1)) << i;
  EXPECT_FLOAT_EQ(b.closed_torque[48], -23);
  EXPECT_FLOAT_EQ(b.closed_torque[49], -23);
}

TEST(CatalogueEntries, ValuesCommonToEveryEntry) {
  for (int i = 0; i < BIKE_CATALOGUE_COUNT; i++) {
    const BikeInfo& b = bike_catalogue[i];
    SCOPED_TRACE(b.name);
    EXPECT_FLOAT_EQ(b.front_wheel.pos[1], 1.09f);
    EXPECT_FLOAT_EQ(b.front_wheel.pos[2], 1.11f);
    EXPECT_FLOAT_EQ(b.front_wheel.ring_radius, 0.8333333f);
    EXPECT_FLOAT_EQ(b.front_wheel.hub_mass, 0.15625f);
    EXPECT_FLOAT_EQ(b.rear_wheel.pos[2], 6.0f);
    EXPECT_FLOAT_EQ(b.rear_wheel.ring_radius, 0.75f);
    EXPECT_FLOAT_EQ(b.rear_wheel.ring_mass, 0.46875f);
    EXPECT_FLOAT_EQ(b.rear_wheel.hub_mass, 0.3125f);
    EXPECT_FLOAT_EQ(b.steering_pos[1] - b.fork_lower_pos[1], 1.13f);
    EXPECT_FLOAT_EQ(b.steering_pos[2] - b.fork_lower_pos[2], 0.57f);
    EXPECT_FLOAT_EQ(b.swingarm_pivot[2], 4.08f);
    EXPECT_FLOAT_EQ(b.fork_air_min, 0.4166667f);
    EXPECT_FLOAT_EQ(b.fork_air_max, 0.25f);
    EXPECT_FLOAT_EQ(b.shock_hs_compression, 800);
    EXPECT_FLOAT_EQ(b.shock_ls_rebound, 150);
    const float linkage[] = {b.linkage_mid_travel,  b.linkage_full_travel, b.swingarm_max_angle,
                             b.linkage_break,       b.linkage_slope_start, b.linkage_slope_mid,
                             b.linkage_slope_end};
    const float expected_linkage[] = {0.283652f, 0.413386f, 0.530304f, 0.75f,
                                      0.315039f, 0.460479f, 0.607049f};
    for (int k = 0; k < 7; k++) EXPECT_FLOAT_EQ(linkage[k], expected_linkage[k]) << k;
    EXPECT_FLOAT_EQ(b.rider_slide_axis[1], 1.0f / 12);
    EXPECT_FLOAT_EQ(b.rider_slide_axis[2], 1.0f / 12);
    EXPECT_FLOAT_EQ(b.rider_slide_range[0], -2.0f / 3);
    EXPECT_FLOAT_EQ(b.rider_slide_range[1], 0.5f);
    EXPECT_FLOAT_EQ(b.rider_pos[1], 4.5f);
    EXPECT_FLOAT_EQ(b.shoulder_pos[0][0], -0.556f);
    EXPECT_FLOAT_EQ(b.hip_pos[1][2], 0.670607f);
    EXPECT_FLOAT_EQ(b.grip_pos[0][0], -1.097f);
    EXPECT_FLOAT_EQ(b.footpeg_pos[1][0], 0.6f);
    EXPECT_FLOAT_EQ(b.arm_lengths[0] + b.arm_lengths[1], 2.05f);
    EXPECT_FLOAT_EQ(b.leg_lengths[0] + b.leg_lengths[1], 3.029f);
    ASSERT_NE(b.pose_data, nullptr);
    EXPECT_FLOAT_EQ(b.pose_data->bone_centres[0][0], -1.456f);  // left forearm
    EXPECT_FLOAT_EQ(b.pose_data->bone_centres[8][1], -0.88f);   // torso
  }
}

// Class rows: (identifier, frame mass, fork spring max, shock spring min,
// engine inertia, shift down, shift up, redline, rider mass, clutch stiffness).
struct ClassCase {
  const char* name;
  float frame_mass, fork_spring_max, shock_spring_min, engine_inertia;
  float shift_down, shift_up, redline, rider_mass, clutch_stiffness, clutch_damping;
};

TEST(CatalogueEntries, ClassValuesIncludingTheExceptions) {
  const ClassCase cases[] = {
      {"450sxf(2016)", 4.735f, 913.878f, 2486.29f, 0.0088501f, 6000, 10500, 12000, 5.46875f, 7500,
       0.75f},
      {"350sxf(2013)", 4.735f, 913.878f, 2486.29f, 0.0068359f, 6000, 10500, 12000, 5.46875f, 7500,
       0.75f},
      {"350sxf(2011)", 4.735f, 913.878f, 2486.29f, 0.0068359f, 6000, 10500, 12000, 5.46875f, 7500,
       0.75f},
      {"cr250(2007)", 4.365625f, 860.12f, 2083.1f, 0.0068359f, 6000, 9000, 10500, 5.46875f, 7500,
       0.75f},
      {"yz250f_se(2006)", 4.24f, 873.56f, 2217.5f, 0.0048828f, 8000, 12500, 13250, 4.6875f, 7500,
       0.75f},
      {"cr125", 3.65375f, 860.12f, 1814.32f, 0.0048828f, 9400, 12000, 12750, 4.6875f, 7500, 0.75f},
      {"rm125", 3.65375f, 860.12f, 1814.32f, 0.0048828f, 9400, 12000, 13750, 4.6875f, 7500, 0.75f},
      {"rs50yz", 3.34125f, 846.681f, 1814.32f, 0.0011936f, 9400, 12000, 12750, 4.6875f, 1200, 1.0f},
      {"rs50rm", 3.34125f, 846.681f, 1814.32f, 0.0011936f, 9400, 12000, 13750, 4.6875f, 1200, 1.0f},
  };
  for (const ClassCase& c : cases) {
    SCOPED_TRACE(c.name);
    int i = bike_catalogue_index(c.name);
    ASSERT_GE(i, 0);
    const BikeInfo& b = bike_catalogue[i];
    EXPECT_FLOAT_EQ(b.frame_mass, c.frame_mass);
    EXPECT_FLOAT_EQ(b.fork_spring_max, c.fork_spring_max);
    EXPECT_FLOAT_EQ(b.shock_spring_min, c.shock_spring_min);
    EXPECT_FLOAT_EQ(b.engine_inertia, c.engine_inertia);
    EXPECT_FLOAT_EQ(b.shift_down_rpm, c.shift_down);
    EXPECT_FLOAT_EQ(b.shift_up_rpm, c.shift_up);
    EXPECT_FLOAT_EQ(b.redline_rpm, c.redline);
    EXPECT_FLOAT_EQ(b.rider_mass, c.rider_mass);
    EXPECT_FLOAT_EQ(b.clutch_stiffness, c.clutch_stiffness);
    EXPECT_FLOAT_EQ(b.clutch_damping, c.clutch_damping);
  }
  // Every "50" entry has the soft clutch, nobody else.
  for (int i = 0; i < BIKE_CATALOGUE_COUNT; i++) {
    bool mini = strcmp(bike_catalogue[i].bike_class, "50") == 0;
    EXPECT_FLOAT_EQ(bike_catalogue[i].clutch_stiffness, mini ? 1200.0f : 7500.0f)
        << bike_catalogue[i].name;
  }
}

struct DriveCase {
  const char* name;
  float primary, front, rear;
  float gears[6];
  int usable;
};

TEST(CatalogueEntries, DrivetrainsAndAbsentSixthGears) {
  const DriveCase cases[] = {
      {"450sxf(2016)", 2.45161f, 13, 48, {2, 1.6667f, 1.4f, 1.1818f, 1, -1}, 5},
      {"yz450f(2016)", 2.6087f, 13, 48, {1.9286f, 1.5333f, 1.3f, 1.0909f, 0.9524f, -1}, 5},
      {"yz450f(2011)", 2.65217f, 13, 48, {1.9286f, 1.5333f, 1.2778f, 1.0909f, 0.9524f, -1}, 5},
      {"rm250(2008)", 3, 13, 50, {1.8f, 1.4706f, 1.2105f, 1, 0.8696f, -1}, 5},
      {"rmz250(2007)", 3.21053f, 13, 48, {2.1538f, 1.7647f, 1.4706f, 1.2381f, 1.0909f, -1}, 5},
      {"250sxf(2016)", 3.04167f, 13, 50, {2.4615f, 2, 1.6471f, 1.3684f, 1.1905f, -1}, 5},
      {"250sxf(2013)", 3.04167f, 13, 50, {2.4615f, 2, 1.6471f, 1.3684f, 1.1905f, 1.0909f}, 6},
      {"250sxf(2009)", 3.09091f, 13, 48, {2.4615f, 2, 1.6471f, 1.3684f, 1.1905f, 1.0909f}, 6},
      {"yz250f_se(2006)", 3.35294f, 13, 48, {2.1429f, 1.75f, 1.45f, 1.2273f, 1.0417f, -1}, 5},
      {"rm125", 3.36842f, 12, 50, {2.0714f, 1.6875f, 1.4444f, 1.2f, 1.0526f, 0.95f}, 6},
      {"rs50kx", 3.71429f, 12, 55, {3.0909f, 2, 1.5f, 1.2f, 1.0455f, 0.9565f}, 6},
  };
  for (const DriveCase& c : cases) {
    SCOPED_TRACE(c.name);
    const BikeInfo* b = find_bike_info(c.name);
    EXPECT_FLOAT_EQ(b->primary_ratio, c.primary);
    EXPECT_FLOAT_EQ(b->countershaft_teeth, c.front);
    EXPECT_FLOAT_EQ(b->rear_sprocket_teeth, c.rear);
    int usable = 0;
    for (int g = 0; g < GEAR_COUNT; g++) {
      EXPECT_FLOAT_EQ(b->gear_ratio[g], c.gears[g]) << "gear " << g;
      usable += b->gear_ratio[g] > 0;
    }
    EXPECT_EQ(usable, c.usable);
  }
}

TEST(CatalogueEntries, PhysicallySaneEveryEntry) {
  for (int i = 0; i < BIKE_CATALOGUE_COUNT; i++) {
    const BikeInfo& b = bike_catalogue[i];
    SCOPED_TRACE(b.name);
    for (const WheelInfo* w : {&b.front_wheel, &b.rear_wheel}) {
      EXPECT_GT(w->ring_radius, w->tyre_radius);
      EXPECT_GT(w->tyre_radius, 0);
      EXPECT_GT(w->ring_mass, 0);
      EXPECT_GT(w->hub_mass, 0);
      EXPECT_GT(w->hub_radius, 0);
      // The tyre touches the ground below the axle.
      EXPECT_NEAR(w->pos[1], w->ring_radius + w->tyre_radius, 0.1f);
    }
    EXPECT_LT(b.front_wheel.pos[2], b.rear_wheel.pos[2]);
    for (float m : {b.frame_mass, b.fork_mass, b.swingarm_mass, b.rider_mass, b.engine_inertia})
      EXPECT_GT(m, 0);
    EXPECT_GT(b.fork_travel, 0);
    EXPECT_GT(b.swingarm_max_angle, 0);
    EXPECT_LT(b.fork_spring_min, b.fork_spring_max);
    EXPECT_LT(b.shock_spring_min, b.shock_spring_max);
    EXPECT_GT(b.primary_ratio, 1);
    EXPECT_GE(b.countershaft_teeth, 3);
    EXPECT_GT(b.rear_sprocket_teeth, b.countershaft_teeth);
    // Gears present from the first, ratios strictly descending, absent ones at the end.
    int usable = 0;
    while (usable < GEAR_COUNT && b.gear_ratio[usable] > 0) usable++;
    EXPECT_GE(usable, 5);
    for (int g = usable; g < GEAR_COUNT; g++) EXPECT_LE(b.gear_ratio[g], 0);
    for (int g = 1; g < usable; g++) EXPECT_LT(b.gear_ratio[g], b.gear_ratio[g - 1]) << g;
    EXPECT_LT(b.shift_down_rpm, b.shift_up_rpm);
    EXPECT_LT(b.shift_up_rpm, b.redline_rpm);
  }
}

// ---------------------------------------------------------------- torque tables

TEST(CatalogueTorque, EveryTableRisesToAPeakAndLimitsAboveTheRedline) {
  for (int i = 0; i < BIKE_CATALOGUE_COUNT; i++) {
    const BikeInfo& b = bike_catalogue[i];
    SCOPED_TRACE(b.name);
    int peak = 0;
    for (int k = 1; k < TORQUE_SAMPLES; k++)
      if (b.open_torque[k] > b.open_torque[peak]) peak = k;
    float peak_rpm = peak * TORQUE_SAMPLE_RPM;
    EXPECT_LT(peak_rpm, b.redline_rpm - 1000);
    EXPECT_GT(peak_rpm, b.redline_rpm * 0.5f);
    for (int k = 1; k <= peak; k++) EXPECT_GE(b.open_torque[k], b.open_torque[k - 1]) << k;
    for (int k = peak + 1; k < TORQUE_SAMPLES; k++)
      EXPECT_LE(b.open_torque[k], b.open_torque[k - 1]) << k;
    for (int k = 0; k < TORQUE_SAMPLES; k++) {
      float rpm = k * TORQUE_SAMPLE_RPM;
      if (rpm < b.redline_rpm) {
        EXPECT_GT(b.open_torque[k], 0) << k;
      } else if (rpm > b.redline_rpm) {
        EXPECT_LT(b.open_torque[k], 0) << k;
      }
    }
    // The full-throttle torque crosses zero at the redline.
    EXPECT_NEAR(torque_at(b.open_torque, b.redline_rpm), 0.0f, 1e-3f);
    EXPECT_GT(torque_at(b.open_torque, b.redline_rpm - 100), 0.0f);
    EXPECT_LT(torque_at(b.open_torque, b.redline_rpm + 100), 0.0f);
    // Engine braking grows with speed and never drives the engine at speed.
    for (int k = 1; k < TORQUE_SAMPLES; k++)
      EXPECT_LE(b.closed_torque[k], b.closed_torque[k - 1]) << k;
    EXPECT_LT(b.closed_torque[TORQUE_SAMPLES - 1], 0);
    for (int k = 0; k * TORQUE_SAMPLE_RPM < b.redline_rpm; k++)
      EXPECT_LT(b.closed_torque[k], b.open_torque[k]) << k;
  }
}

TEST(CatalogueTorque, PeaksPlausiblePerClassAndModelsDiffer) {
  struct Range {
    const char* bike_class;
    float low, high;
  };
  const Range ranges[] = {{"450f", 30, 40}, {"250", 24, 34}, {"250f", 16, 24},
                          {"125", 12, 20},  {"50", 3, 8}};
  for (int i = 0; i < BIKE_CATALOGUE_COUNT; i++) {
    const BikeInfo& b = bike_catalogue[i];
    SCOPED_TRACE(b.name);
    float peak = 0;
    for (float t : b.open_torque) peak = std::fmax(peak, t);
    bool is_350 = strncmp(b.name, "350", 3) == 0;
    for (const Range& r : ranges) {
      if (strcmp(r.bike_class, b.bike_class) != 0) continue;
      float low = is_350 ? 22 : r.low, high = is_350 ? 32 : r.high;
      EXPECT_GE(peak, low);
      EXPECT_LE(peak, high);
    }
    for (int j = 0; j < i; j++)
      EXPECT_NE(memcmp(b.open_torque, bike_catalogue[j].open_torque, sizeof b.open_torque), 0)
          << "same table as " << bike_catalogue[j].name;
  }
}

// ---------------------------------------------------------------- lookup

class CatalogueLookup : public ::testing::Test {
 protected:
  void SetUp() override { message_history_clear(message_history); }
};

TEST_F(CatalogueLookup, FindsEveryIdentifierSilently) {
  for (int i = 0; i < BIKE_CATALOGUE_COUNT; i++) {
    EXPECT_EQ(find_bike_info(bike_catalogue[i].name), &bike_catalogue[i]);
    EXPECT_EQ(bike_catalogue_index(bike_catalogue[i].name), i);
  }
  EXPECT_EQ(last_message(), "");
  EXPECT_STREQ(find_bike_info("cr250(2007)")->name, "cr250(2007)");
}

TEST_F(CatalogueLookup, UnknownIdentifiersFallBackWithOneMessage) {
  struct Case {
    const char* requested;
    const char* chosen;
  };
  const Case cases[] = {
      {"my125special", "cr125"},
      {"125", "cr125"},
      {"250", "kx250f(2016)"},
      {"crf250", "kx250f(2016)"},  // older names are mapped by the configuration, not here
      {"CR125", "cr125"},
      {"", "kx250f(2016)"},
      {"450sxf(2016) ", "kx250f(2016)"},
      {"an identifier much longer than twenty characters", "kx250f(2016)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.requested);
    EXPECT_EQ(bike_catalogue_index(c.requested), -1);
    const BikeInfo* b = find_bike_info(c.requested);
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(b->name, c.chosen);
    char expected[200];
    snprintf(expected, sizeof expected, "bike info for '%.20s' not found using '%.20s' instead",
             c.requested, c.chosen);
    EXPECT_EQ(last_message(), expected);
  }
  EXPECT_STREQ(find_bike_info(nullptr)->name, "kx250f(2016)");
}

// ---------------------------------------------------------------- assets

TEST(CatalogueAssets, NamesFromTheBases) {
  for (int i = 0; i < BIKE_CATALOGUE_COUNT; i++) {
    const BikeInfo* b = &bike_catalogue[i];
    SCOPED_TRACE(b->name);
    std::string base = std::string("@") + EXPECTED[i].base;
    const char* suffixes[] = {"_frame.jm",       "_fork_upper.jm",  "_fork_lower.jm",
                              "_swingarm.jm",    "_side_plates.jm", "_front_plate.jm"};
    for (int m = 0; m < 6; m++)
      EXPECT_EQ(bike_model_name(b, (BikeModelRole)m), base + suffixes[m]);
    EXPECT_EQ(std::string(b->default_bike_texture),
              std::string("@") + EXPECTED[i].texture + ".png");
    const char* shared[] = {"@front_wheel.jm", "@rear_wheel.jm",  "@rider_body.jm",
                            "@rider_body_fp.jm", "@rider_plate.jm", "@rider_head.jm"};
    for (int m = MODEL_FRONT_WHEEL; m < BIKE_MODEL_COUNT; m++)
      EXPECT_STREQ(bike_model_name(b, (BikeModelRole)m), shared[m - MODEL_FRONT_WHEEL]);
    EXPECT_STREQ(b->default_wheel_texture, "@wheels.png");
    EXPECT_STREQ(b->default_head_texture, "@rider_head.png");
    EXPECT_STREQ(b->default_rider_texture, "@rider_body.png");
    const char* shapes[] = {"@generic_frame.shp",    "@generic_fork_upper.shp",
                            "@generic_fork_lower.shp", "@generic_swingarm.shp",
                            "@front_wheel.shp",      "@rear_wheel.shp",
                            "@generic_rider.shp"};
    for (int s = 0; s < BIKE_SHAPE_COUNT; s++) EXPECT_STREQ(bike_shape_name(b, s), shapes[s]);
    EXPECT_EQ(bike_shape_name(b, BIKE_SHAPE_COUNT), nullptr);
    EXPECT_EQ(bike_model_name(b, BIKE_MODEL_COUNT), nullptr);
    char model_base[64];
    ASSERT_TRUE(bike_model_base(b, model_base, sizeof model_base));
    EXPECT_STREQ(model_base, EXPECTED[i].base);
    EXPECT_FALSE(bike_model_base(b, model_base, 4));
  }
}

// ---------------------------------------------------------------- skins

TEST(CatalogueSkins, VariantNames) {
  struct Case {
    const char* model;
    const char* skin;
    const char* variant;  // nullptr: no variant
  };
  const Case cases[] = {
      {"@450sxfv2016_frame.jm", "skins/450sxfv2016-blue-x.png", "@450sxfv2016_frame-blue.jm"},
      {"@450sxfv2016_frame.jm", "@450sxfv2016-red-black-x.png", "@450sxfv2016_frame-red.jm"},
      {"@models/kx_frame-old.jm", "kx-new-y.png", "@models/kx_frame-new.jm"},
      {"@a.b/frame.jm", "x-c-d.png", "@a.b/frame-c.jm"},
      {"@450sxfv2016_frame.jm", "skins/450sxfv2016-blue.png", nullptr},
      {"@450sxfv2016_frame.jm", "skins-a-b/450sxfv2016.png", nullptr},
      {"@450sxfv2016_frame.jm", "plain.png", nullptr},
      {"@a.b/frame", "x-c-d.png", nullptr},
      {"frame", "x-c-d.png", nullptr},
      {"@450sxfv2016_frame.jm", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " + " + (c.skin ? c.skin : "(none)"));
    char* v = skin_variant_name(c.model, c.skin);
    if (c.variant) {
      ASSERT_NE(v, nullptr);
      EXPECT_STREQ(v, c.variant);
    } else {
      EXPECT_EQ(v, nullptr);
    }
    mem_free(v);
  }
}

TEST(CatalogueSkins, VariantInTheSkinsDirectory) {
  char* a = skin_variant_in_skin_dir("@450sxfv2016_frame-blue.jm", "skins/450sxfv2016-blue-x.png");
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a, "skins/450sxfv2016_frame-blue.jm");
  mem_free(a);
  char* b = skin_variant_in_skin_dir("@models/kx_frame-new.jm", "@my/skins/kx-new-y.png");
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b, "@my/skins/kx_frame-new.jm");
  mem_free(b);
  EXPECT_EQ(skin_variant_in_skin_dir("@kx_frame-new.jm", "kx-new-y.png"), nullptr);
}

// A model loader over a set of existing names that records every attempt.
struct FakeModels {
  std::set<std::string> present;
  std::vector<std::string> tried;
};

void* fake_load(const char* name, void* context) {
  FakeModels* models = (FakeModels*)context;
  models->tried.push_back(name);
  auto it = models->present.find(name);
  return it == models->present.end() ? nullptr : (void*)&*it;
}

class CatalogueSkinLoad : public ::testing::Test {
 protected:
  FakeModels models;
  void SetUp() override { message_history_clear(message_history); }
  std::string loaded_name(void* model) { return model ? *(const std::string*)model : ""; }
};

TEST_F(CatalogueSkinLoad, VariantFromAssetsThenFromTheSkinDirectory) {
  models.present = {"@450sxfv2016_frame-blue.jm", "skins/450sxfv2016_frame-red.jm",
                    "@450sxfv2016_frame.jm"};
  void* m = load_skinned_model("@450sxfv2016_frame.jm", "skins/450sxfv2016-blue-x.png", false,
                               fake_load, &models);
  EXPECT_EQ(loaded_name(m), "@450sxfv2016_frame-blue.jm");
  EXPECT_EQ(models.tried.size(), 1u);

  models.tried.clear();
  m = load_skinned_model("@450sxfv2016_frame.jm", "skins/450sxfv2016-red-x.png", false, fake_load,
                         &models);
  EXPECT_EQ(loaded_name(m), "skins/450sxfv2016_frame-red.jm");
  const std::vector<std::string> tried = {"@450sxfv2016_frame-red.jm",
                                          "skins/450sxfv2016_frame-red.jm"};
  EXPECT_EQ(models.tried, tried);
  EXPECT_EQ(last_message(), "");
}

TEST_F(CatalogueSkinLoad, MissingModelsWarnUnlessQuiet) {
  models.present = {"@450sxfv2016_frame.jm"};
  // A variant that exists nowhere: the model is missing (no silent stock model).
  EXPECT_EQ(load_skinned_model("@450sxfv2016_frame.jm", "skins/450sxfv2016-green-x.png", false,
                               fake_load, &models),
            nullptr);
  EXPECT_EQ(last_message(),
            "Warning: Can't load @450sxfv2016_frame-green.jm or skins/450sxfv2016_frame-green.jm");
  EXPECT_EQ(load_skinned_model("@450sxfv2016_frame.jm", "450sxfv2016-green-x.png", false,
                               fake_load, &models),
            nullptr);
  EXPECT_EQ(last_message(), "Warning: Can't load @450sxfv2016_frame-green.jm");
  // No variant: the model itself.
  void* m =
      load_skinned_model("@450sxfv2016_frame.jm", "skins/450sxfv2016-blue.png", false, fake_load,
                         &models);
  EXPECT_EQ(loaded_name(m), "@450sxfv2016_frame.jm");
  m = load_skinned_model("@450sxfv2016_frame.jm", nullptr, false, fake_load, &models);
  EXPECT_EQ(loaded_name(m), "@450sxfv2016_frame.jm");
  EXPECT_EQ(load_skinned_model("@gone.jm", nullptr, false, fake_load, &models), nullptr);
  EXPECT_EQ(last_message(), "Warning: Can't load @gone.jm");

  message_history_clear(message_history);
  EXPECT_EQ(load_skinned_model("@gone.jm", nullptr, true, fake_load, &models), nullptr);
  EXPECT_EQ(load_skinned_model("@rider_body_fp.jm", "skins/rider-x-y.png", true, fake_load,
                               &models),
            nullptr);
  EXPECT_EQ(last_message(), "");
}

// ---------------------------------------------------------------- number plates

struct PlateCase {
  const char* comment;
  uint8_t bg[3], fg[3];
};

TEST(CatalogueNumberPlate, ColoursFromComments) {
  const PlateCase cases[] = {
      {"[numberbackground:1,0,0][numberforeground:0,0,1]", {255, 0, 0}, {0, 0, 255}},
      {"x [numberbackground:2,-1,0.5] y", {255, 0, 127}, {0, 0, 0}},
      {"[numberbackground:1,0]", {255, 255, 255}, {0, 0, 0}},
      {"[numberforeground:0.5, 0.25,1]", {255, 255, 255}, {127, 63, 255}},
      {"[numberforeground:nan,1,1]", {255, 255, 255}, {0, 255, 255}},
      {"[numberbackground: 1,1,x]", {255, 255, 255}, {0, 0, 0}},
      {"", {255, 255, 255}, {0, 0, 0}},
      {nullptr, {255, 255, 255}, {0, 0, 0}},
  };
  for (const PlateCase& c : cases) {
    SCOPED_TRACE(c.comment ? c.comment : "(null)");
    PlateColours p = plate_colours_from_comment(c.comment);
    for (int k = 0; k < 3; k++) {
      EXPECT_EQ(p.background[k], c.bg[k]) << k;
      EXPECT_EQ(p.foreground[k], c.fg[k]) << k;
    }
  }
}

std::string png_with_comment(const std::string& comment) {
  return png_bytes(2, 2, 3, {10, 20, 30, 40, 50, 60, 10, 20, 30, 40, 50, 60}, {comment});
}

class CatalogueNumberPlateTexture : public ::testing::Test {
 protected:
  TempDir root;
  ScopedEnv env_xdg{"XDG_DATA_HOME", (root.path + "/xdg").c_str()};
  ScopedEnv env_rt{"RT_HOME", (root.path + "/game").c_str()};

  void SetUp() override {
    textures_purge(true);
    mkdir((root.path + "/game").c_str(), 0777);
    file_list_free();
    texture_set_upload_ops(nullptr);
  }
  void TearDown() override {
    textures_purge(true);
    file_list_free();
  }
};

TEST_F(CatalogueNumberPlateTexture, ColoursFromTheBikeTextureComment) {
  write_file(root.file("game/red_plate.png"),
             png_with_comment("[numberbackground:1,0,0] [numberforeground:0,0,1]"));
  write_file(root.file("game/plain.png"), png_with_comment("made by hand"));
  uint32_t red = texture_load("@red_plate.png");
  uint32_t plain = texture_load("@plain.png");
  ASSERT_NE(red, 0u);
  ASSERT_NE(plain, 0u);
  PlateColours p = plate_colours_for_texture(red);
  EXPECT_EQ(p.background[0], 255);
  EXPECT_EQ(p.background[1], 0);
  EXPECT_EQ(p.background[2], 0);
  EXPECT_EQ(p.foreground[0], 0);
  EXPECT_EQ(p.foreground[2], 255);
  PlateColours d = plate_colours_for_texture(plain);
  EXPECT_EQ(d.background[1], 255);
  EXPECT_EQ(d.foreground[1], 0);
  PlateColours unknown = plate_colours_for_texture(red + plain + 1000);
  EXPECT_EQ(unknown.background[0], 255);
  EXPECT_EQ(unknown.foreground[0], 0);
  EXPECT_EQ(plate_colours_for_texture(0).background[2], 255);
}

TEST(CatalogueNumberPlate, RiderNumberCutToSevenCharacters) {
  const std::pair<const char*, const char*> cases[] = {
      {"12345678", "1234567"}, {"1234567", "1234567"}, {"7", "7"}, {"", ""}, {nullptr, ""}};
  for (const auto& c : cases) {
    char out[RIDER_NUMBER_CHARS + 1];
    memset(out, 'z', sizeof out);
    rider_number_text(c.first, out);
    EXPECT_STREQ(out, c.second);
  }
}

TEST(CatalogueNumberPlate, RecolourMapsChannelsAndKeepsAlpha) {
  PlateColours c = {{255, 0, 100}, {0, 200, 100}};
  uint8_t px[] = {255, 255, 255, 0, 0, 0, 0, 255, 51, 51, 51, 128};
  plate_recolour(px, 3, c);
  const uint8_t expected[] = {255, 0, 100, 0, 0, 200, 100, 255, 51, 160, 100, 128};
  for (int i = 0; i < 12; i++) EXPECT_EQ(px[i], expected[i]) << i;
}

}  // namespace
