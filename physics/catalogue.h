// The built-in bike catalogue: 55 ordered models with their geometry, masses,
// suspension ranges, drivetrain, torque tables, rider geometry and asset
// names; the lookup by identifier with its fallback; skin variant names of
// models; number plate colours and the rider number text.
//
// Units: feet, slugs, pounds-force, pound-force feet, seconds, radians. In a
// bike's own frame x is lateral, y is up and z points to the rear.
#pragma once

#include <cstdint>

constexpr int32_t BIKE_CATALOGUE_COUNT = 55;
constexpr int32_t TORQUE_SAMPLES = 50;       // one per 500 rpm from 0
constexpr float TORQUE_SAMPLE_RPM = 500.0f;  // engine speed between samples
constexpr int32_t GEAR_COUNT = 6;
constexpr int32_t RIDER_POSE_BONES = 9;
constexpr int32_t RIDER_NUMBER_CHARS = 7;  // longest rider number text
constexpr int32_t NUMBER_PLATE_SIZE = 128;  // plate image side in pixels

struct WheelInfo {
  float pos[3];       // centre in the reset pose
  float ring_radius;  // hub to the centre of the tyre section
  float tyre_radius;  // radius of the tyre section
  float ring_mass;    // rim and tyre
  float hub_radius;
  float hub_mass;
};

// Rest-pose bone centres of the rider meshes, in the rider model's own
// coordinates, in rider bone order (forearms, upper arms, shins, thighs, torso).
struct RiderPoseData {
  float bone_centres[RIDER_POSE_BONES][3];
};

struct BikeInfo {
  const char* name;        // identifier shown in the bike menu
  const char* bike_class;  // "450f", "250f", "250", "125" or "50"
  WheelInfo front_wheel;
  WheelInfo rear_wheel;
  float frame_pos[3];
  float frame_mass;  // without the rider
  float frame_box[3];
  float steering_pos[3];  // also the steering-head hinge anchor
  float swingarm_pos[3];
  float swingarm_pivot[3];
  float fork_lower_pos[3];  // steering_pos - fork_lower_pos is the steering axis
  float fork_leg_spacing;
  float fork_leg_length;
  float fork_mass;  // each of the two fork bodies
  float fork_spring_min, fork_spring_max;    // lbf/ft at setting 0 and 100
  float fork_preload_min, fork_preload_max;  // ft
  float fork_air_min, fork_air_max;          // air column at oil level 0 and 100
  float fork_hs_compression, fork_ls_compression, fork_hs_rebound, fork_ls_rebound;
  float fork_travel;
  float swingarm_mass;  // each of the swingarm's two mass boxes
  float shock_spring_min, shock_spring_max;
  float shock_preload_min, shock_preload_max;
  float shock_hs_compression, shock_ls_compression, shock_hs_rebound, shock_ls_rebound;
  float linkage_mid_travel;   // shock travel at the spline break point
  float linkage_full_travel;  // shock travel at full swingarm angle
  float swingarm_max_angle;
  float linkage_break;  // fraction of swingarm_max_angle
  float linkage_slope_start, linkage_slope_mid, linkage_slope_end;
  float primary_ratio;
  float countershaft_teeth;
  float rear_sprocket_teeth;
  float gear_ratio[GEAR_COUNT];  // <= 0 marks an absent gear
  float engine_inertia;          // slug ft^2
  float clutch_stiffness;
  float clutch_damping;
  float closed_torque[TORQUE_SAMPLES];  // crank torque, throttle closed
  float open_torque[TORQUE_SAMPLES];    // crank torque, full throttle
  float shift_down_rpm;
  float shift_up_rpm;
  float redline_rpm;
  float rider_slide_axis[3];  // frame coordinates, normalised when used
  float rider_pos[3];
  float rider_slide_range[2];
  float rider_mass;
  const char* frame_model;
  const char* frame_shape;
  const char* default_bike_texture;
  const char* fork_upper_model;
  const char* fork_upper_shape;
  const char* fork_lower_model;
  const char* fork_lower_shape;
  const char* swingarm_model;
  const char* swingarm_shape;
  const char* front_wheel_model;
  const char* front_wheel_shape;
  const char* rear_wheel_model;
  const char* rear_wheel_shape;
  const char* default_wheel_texture;
  const char* rider_head_model;
  const char* default_head_texture;
  const char* rider_body_model;
  const char* rider_body_fp_model;  // first-person rider body
  const char* rider_shape;
  const char* default_rider_texture;
  const char* side_plates_model;
  const char* front_plate_model;
  const char* rider_plate_model;
  float head_pos[3];           // rider body coordinates
  float shoulder_pos[2][3];    // left, right; rider body coordinates
  float hip_pos[2][3];         // left, right; rider body coordinates
  float grip_pos[2][3];        // left, right; steering body coordinates
  float footpeg_pos[2][3];     // left, right; frame coordinates
  float arm_lengths[2];        // the two segments of an arm
  float leg_lengths[2];        // the two segments of a leg
  const RiderPoseData* pose_data;
};

// The catalogue in menu order (BIKE_CATALOGUE_COUNT entries).
extern const BikeInfo* const bike_catalogue;

// ---------------------------------------------------------------- lookup

// Entry with this identifier. Unknown identifiers fall back to the first
// entry containing "125" (when the identifier does) or "250f" (otherwise),
// else to the first entry, with a message. Never nullptr.
const BikeInfo* find_bike_info(const char* name);
// The current name of a bike model: the older names "crf250", "kx250f",
// "rmz250" and "yz250f" become "<name>(2008)"; others are returned as given.
// The result is interned (nullptr stays nullptr).
const char* bike_model_current_name(const char* name);
// Index of an exact identifier, -1 when unknown (no fallback, no message).
int32_t bike_catalogue_index(const char* name);

// ---------------------------------------------------------------- assets

// The eleven models and three default textures besides the bike texture, by
// role; the shapes in the order the stock-shape digest reads them.
enum BikeModelRole : int32_t {
  MODEL_FRAME = 0,
  MODEL_FORK_UPPER,
  MODEL_FORK_LOWER,
  MODEL_SWINGARM,
  MODEL_SIDE_PLATES,
  MODEL_FRONT_PLATE,
  MODEL_FRONT_WHEEL,
  MODEL_REAR_WHEEL,
  MODEL_RIDER_BODY,
  MODEL_RIDER_BODY_FP,
  MODEL_RIDER_PLATE,
  MODEL_RIDER_HEAD,
  BIKE_MODEL_COUNT,
};
constexpr int32_t BIKE_SHAPE_COUNT = 7;

const char* bike_model_name(const BikeInfo* info, BikeModelRole role);
// Frame, fork upper, fork lower, swingarm, front wheel, rear wheel, rider.
const char* bike_shape_name(const BikeInfo* info, int32_t index);
// Asset base of the bike's own models (for example "450sxfv2016"), the prefix
// of its graphics skins before "-". Writes at most size bytes; false when the
// frame model name has no recognisable base.
bool bike_model_base(const BikeInfo* info, char* out, int32_t size);

// ---------------------------------------------------------------- skins

// Variant of model path `model` for skin path `skin`: the model path up to its
// first "-" after its last "/" (else up to its last "."), then the skin file
// name's part from its first "-" up to its second "-", then ".jm". nullptr
// when there is no variant (or out of memory); free with mem_free.
char* skin_variant_name(const char* model, const char* skin);
// The variant's file name placed in the skin's directory (the skin path up to
// and including its last "/"); nullptr when the skin has no "/". mem_free it.
char* skin_variant_in_skin_dir(const char* variant, const char* skin);

// Loads a model by name; nullptr when it cannot.
typedef void* (*ModelLoadFn)(const char* name, void* context);
// Loads `model` for `skin` (nullptr = the default texture): the skin's
// variant of it when there is one (from the asset path, then from the skin's
// directory), else the model itself. Failures report a warning unless quiet.
void* load_skinned_model(const char* model, const char* skin, bool quiet, ModelLoadFn load,
                         void* context);

// ---------------------------------------------------------------- number plates

struct PlateColours {
  uint8_t background[3];  // plate, default white
  uint8_t foreground[3];  // digits, default black
};

// Colours from a texture comment ("[numberbackground:r,g,b]" and
// "[numberforeground:r,g,b]", 0..1 each); defaults where absent or incomplete.
PlateColours plate_colours_from_comment(const char* comment);
// The same for a loaded texture's comment (defaults for unknown ids).
PlateColours plate_colours_for_texture(uint32_t texture_id);
// The rider number as shown on the plates: its first RIDER_NUMBER_CHARS
// characters ("" for nullptr).
void rider_number_text(const char* number, char out[RIDER_NUMBER_CHARS + 1]);
// Maps the colour channels of a drawn plate mask (RGBA, alpha untouched):
// each channel value v becomes fg + (bg - fg) * v / 255.
void plate_recolour(uint8_t* rgba, int32_t pixel_count, const PlateColours& colours);
