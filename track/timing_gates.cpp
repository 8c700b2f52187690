// The "timing_gates" file (starting grid, checkpoints, lap sequences), its
// writer, and the mapping of race sequence positions to checkpoints.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "core/messages.h"
#include "core/program.h"
#include "platform/log.h"
#include "track/timing.h"

const char* const STARTING_GATE_MODEL = "@startgate.jm";
const char* const STARTING_GATE_TEXTURE = "@startgate.ppm";
const char* const STARTING_GATE_SHAPE = "@startgate.shp";

namespace {

// Longest starting-gate line kept; the rest of a longer line is skipped.
constexpr int GATE_LINE_CHARS = 4096;

// Whether text (after leading blanks) starts with word followed by white
// space or the end of the line.
bool line_starts_with_word(const char* text, const char* word) {
  while (*text == ' ' || *text == '\t') text++;
  size_t n = strlen(word);
  if (strncmp(text, word, n) != 0) return false;
  char next = text[n];
  return next == '\0' || isspace((unsigned char)next);
}

// Reads one line into buf; a line longer than the buffer is cut and its
// remainder skipped. False at end of file.
bool read_whole_line(DataFile* file, char* buf, int size) {
  if (!data_read_line(file, buf, size)) return false;
  size_t n = strlen(buf);
  if (n > 0 && buf[n - 1] == '\n') return true;
  if ((int)n < size - 1) return true;  // end of file (or NUL byte) ended the line
  int c;
  do c = data_getc(file);
  while (c != EOF && c != '\n');
  return true;
}

bool all_finite(const float* values, int count) {
  for (int i = 0; i < count; i++)
    if (!std::isfinite(values[i])) return false;
  return true;
}

// A name as read from the file: "null" means none; others are pooled.
const char* gate_name(const char* text, int fields_read, int field, const char* fallback) {
  if (fields_read < field) return fallback;
  if (strcmp(text, "null") == 0) return nullptr;
  return intern_string(text);
}

// Reads the starting-gate lines. Returns true when the checkpoint section
// follows, false when reading of the file ends here.
bool read_starting_gates(TimingData* timing, TrackObjects* objects, const HeightField* hf,
                         DataFile* file) {
  char* line = (char*)mem_alloc(GATE_LINE_CHARS);
  char* names = (char*)mem_alloc(3 * 1024);
  if (!line || !names) {
    mem_free(line);
    mem_free(names);
    return false;
  }
  bool checkpoints = false;
  while (read_whole_line(file, line, GATE_LINE_CHARS)) {
    if (line_starts_with_word(line, "checkpoints:")) {
      checkpoints = true;
      break;
    }
    float v[4];
    char* model = names;
    char* texture = names + 1024;
    char* shape = names + 2048;
    model[0] = texture[0] = shape[0] = '\0';
    int n = sscanf(line, " [ %f %f %f ] %f %1023s %1023s %1023s", &v[0], &v[1], &v[2], &v[3], model,
                   texture, shape);
    if (n < 4 || !all_finite(v, 4)) break;
    starting_gate_add(timing, objects, hf, v[0], v[1], v[2], v[3],
                      gate_name(model, n, 5, STARTING_GATE_MODEL),
                      gate_name(texture, n, 6, STARTING_GATE_TEXTURE),
                      gate_name(shape, n, 7, STARTING_GATE_SHAPE));
    if (timing->starting_gate_count >= TIMING_MAX_STARTING_GATES) break;
  }
  mem_free(line);
  mem_free(names);
  return checkpoints;
}

// "%d" values until a non-number, at most TIMING_MAX_SEQUENCE.
int32_t read_sequence(DataFile* file, int32_t* entries) {
  int32_t count = 0;
  int value;
  while (count < TIMING_MAX_SEQUENCE && data_scanf(file, "%d", &value) == 1)
    entries[count++] = value;
  return count;
}

void read_course(TimingData* timing, DataFile* file) {
  while (timing->gate_count < TIMING_MAX_GATES) {
    float v[7];
    int n = data_scanf(file, "%f [ %f %f %f ] [ %f %f %f ] ", &v[0], &v[1], &v[2], &v[3], &v[4],
                       &v[5], &v[6]);
    if (n != 7 || !all_finite(v, 7)) break;
    TimingGate* gate = &timing->gates[timing->gate_count++];
    gate->radius = v[0];
    for (int i = 0; i < 3; i++) {
      gate->centre[i] = v[1 + i];
      gate->direction[i] = v[4 + i];
    }
    gate->marked = 0;
  }
  char word[81];
  if (data_scanf(file, " %80s", word) != 1 || strcmp(word, "firstlap:") != 0) return;
  timing->first_lap_count = read_sequence(file, timing->first_lap);
  if (data_scanf(file, " %80s", word) != 1 || strcmp(word, "normallap:") != 0) return;
  timing->normal_lap_count = read_sequence(file, timing->normal_lap);
}

int32_t clamp_entry(int32_t entry, int32_t gate_count) {
  if (entry < 0) entry = 0;
  int32_t marker = entry >= GATE_NO_SPLIT ? GATE_NO_SPLIT : 0;
  int32_t k = entry - marker;
  int32_t last = gate_count > 0 ? gate_count - 1 : 0;
  if (k > last) k = last;
  return marker + k;
}

int32_t clamp_sequence(int32_t* entries, int32_t count, int32_t gate_count) {
  int32_t required = 0;
  for (int32_t i = 0; i < count; i++) {
    entries[i] = clamp_entry(entries[i], gate_count);
    if (entries[i] < GATE_NO_SPLIT) required++;
  }
  return required;
}

bool default_names(const StartingGate* gate) {
  return gate->model && gate->texture && gate->shape &&
         strcmp(gate->model, STARTING_GATE_MODEL) == 0 &&
         strcmp(gate->texture, STARTING_GATE_TEXTURE) == 0 &&
         strcmp(gate->shape, STARTING_GATE_SHAPE) == 0;
}

const char* name_or_null(const char* name) { return name && name[0] ? name : "null"; }

void write_sequence(DataFile* file, const char* title, const int32_t* entries, int32_t count) {
  data_puts(file, title);
  for (int32_t i = 0; i < count; i++) data_printf(file, "%d ", entries[i]);
  data_puts(file, "\n");
}

}  // namespace

// ---------------------------------------------------------------- record

void timing_init(TimingData* timing) { memset(timing, 0, sizeof *timing); }

void timing_free(TimingData* timing) {
  // The record holds no blocks of its own; statues belong to the objects.
  timing_init(timing);
}

float timing_wrap_angle(float angle) {
  const double two_pi = 2.0 * M_PI;
  double turns = ((double)angle + M_PI) / two_pi;
  return (float)((turns - floor(turns)) * two_pi - M_PI);
}

void timing_finish(TimingData* timing) {
  if (timing->gate_count < 0) timing->gate_count = 0;
  if (timing->gate_count > TIMING_MAX_GATES) timing->gate_count = TIMING_MAX_GATES;
  if (timing->first_lap_count < 0) timing->first_lap_count = 0;
  if (timing->first_lap_count > TIMING_MAX_SEQUENCE) timing->first_lap_count = TIMING_MAX_SEQUENCE;
  if (timing->normal_lap_count < 0) timing->normal_lap_count = 0;
  if (timing->normal_lap_count > TIMING_MAX_SEQUENCE)
    timing->normal_lap_count = TIMING_MAX_SEQUENCE;
  if (timing->starting_gate_count < 0) timing->starting_gate_count = 0;
  if (timing->starting_gate_count > TIMING_MAX_STARTING_GATES)
    timing->starting_gate_count = TIMING_MAX_STARTING_GATES;
  timing->first_lap_required =
      clamp_sequence(timing->first_lap, timing->first_lap_count, timing->gate_count);
  timing->normal_lap_required =
      clamp_sequence(timing->normal_lap, timing->normal_lap_count, timing->gate_count);
  timing->active = timing->gate_count > 0 && timing->first_lap_count > 0 &&
                   timing->normal_lap_count > 0 && timing->first_lap_required > 0 &&
                   timing->normal_lap_required > 0;
}

// ---------------------------------------------------------------- reading

bool timing_read(TimingData* timing, TrackObjects* objects, const HeightField* hf, DataFile* file) {
  timing_init(timing);
  if (!file) return false;
  char word[81];
  if (data_scanf(file, " %80s ", word) != 1) return false;
  bool course;
  if (strcmp(word, "startinggate:") == 0)
    course = read_starting_gates(timing, objects, hf, file);
  else if (strcmp(word, "checkpoints:") == 0)
    course = true;
  else
    return false;
  if (course) read_course(timing, file);
  timing_finish(timing);
  if (debug_level >= 1)
    log_printf("Found %d timing gates, first lap has %d gates, normal lap has %d\n",
               timing->gate_count, timing->first_lap_count, timing->normal_lap_count);
  return true;
}

bool timing_load(TimingData* timing, TrackObjects* objects, const HeightField* hf,
                 const char* track_path) {
  timing_init(timing);
  char* name = join(track_path ? track_path : "", "timing_gates");
  if (!name) return true;
  DataFile* file = data_open(name, "r");
  mem_free(name);
  if (!file) return true;
  timing_read(timing, objects, hf, file);
  data_close(file);
  return true;
}

// ---------------------------------------------------------------- writing

bool timing_write(const TimingData* timing, DataFile* file) {
  if (!timing || !file) return false;
  data_puts(file, "startinggate:\n");
  int32_t starting = timing->starting_gate_count;
  if (starting > TIMING_MAX_STARTING_GATES) starting = TIMING_MAX_STARTING_GATES;
  for (int32_t i = 0; i < starting; i++) {
    const StartingGate* gate = &timing->starting_gates[i];
    data_printf(file, "[%f %f %f]", gate->x, gate->y, gate->z);
    data_printf(file, " %f", gate->angle);
    if (default_names(gate))
      data_puts(file, "\n");
    else
      data_printf(file, " %s %s %s\n", name_or_null(gate->model), name_or_null(gate->texture),
                  name_or_null(gate->shape));
  }
  data_puts(file, "checkpoints:\n");
  int32_t gates = timing->gate_count;
  if (gates > TIMING_MAX_GATES) gates = TIMING_MAX_GATES;
  for (int32_t i = 0; i < gates; i++) {
    const TimingGate* gate = &timing->gates[i];
    data_printf(file, "%f ", gate->radius);
    data_printf(file, "[%f %f %f]", gate->centre[0], gate->centre[1], gate->centre[2]);
    data_puts(file, " ");
    data_printf(file, "[%f %f %f]\n", gate->direction[0], gate->direction[1], gate->direction[2]);
  }
  int32_t first = timing->first_lap_count;
  if (first > TIMING_MAX_SEQUENCE) first = TIMING_MAX_SEQUENCE;
  int32_t normal = timing->normal_lap_count;
  if (normal > TIMING_MAX_SEQUENCE) normal = TIMING_MAX_SEQUENCE;
  write_sequence(file, "firstlap:\n", timing->first_lap, first);
  write_sequence(file, "normallap:\n", timing->normal_lap, normal);
  return data_flush(file);
}

bool timing_save(const TimingData* timing, const TrackObjects* objects, const char* track_path) {
  (void)objects;  // the grid keeps its own copy of what it wrote into the statues
  char* name = join(track_path ? track_path : "", "timing_gates");
  DataFile* file = name ? data_open(name, "w") : nullptr;
  mem_free(name);
  if (!file) {
    print_message("Can't open 'timing_gates'");
    return false;
  }
  bool ok = timing_write(timing, file);
  data_close(file);
  return ok;
}

// ---------------------------------------------------------------- sequence positions

int32_t timing_sequence_entry(const TimingData* timing, int32_t position) {
  if (!timing || position < 0) return -1;
  int32_t first = timing->first_lap_count;
  if (position < first) return timing->first_lap[position];
  int32_t normal = timing->normal_lap_count;
  if (normal <= 0) return -1;
  return timing->normal_lap[(position - first) % normal];
}

int32_t timing_gate_at(const TimingData* timing, int32_t position) {
  int32_t entry = timing_sequence_entry(timing, position);
  if (entry < 0) return -1;
  int32_t gate = entry >= GATE_NO_SPLIT ? entry - GATE_NO_SPLIT : entry;
  return gate < timing->gate_count ? gate : -1;
}

bool timing_position_splits(const TimingData* timing, int32_t position) {
  int32_t entry = timing_sequence_entry(timing, position);
  return entry >= 0 && entry < GATE_NO_SPLIT;
}

int32_t timing_laps_completed(const TimingData* timing, int32_t gate_position) {
  int32_t first = timing->first_lap_count, normal = timing->normal_lap_count;
  if (normal <= 0 || gate_position < first) return 0;
  return (gate_position - first) / normal + 1;
}

int32_t timing_gate_in_lap(const TimingData* timing, int32_t gate_position) {
  int32_t first = timing->first_lap_count, normal = timing->normal_lap_count;
  if (gate_position < first || normal <= 0) return gate_position;
  return (gate_position - first) % normal;
}

int32_t timing_lap_end_position(const TimingData* timing, int32_t lap) {
  if (!timing || lap < 1 || timing->normal_lap_count <= 0) return -1;
  int64_t position =
      (int64_t)timing->first_lap_count - 1 + (int64_t)timing->normal_lap_count * (lap - 1);
  if (position > INT32_MAX) return INT32_MAX;
  return (int32_t)position;
}

bool timing_is_lap_end(const TimingData* timing, int32_t position) {
  int32_t first = timing->first_lap_count, normal = timing->normal_lap_count;
  if (position < 0 || normal <= 0) return false;
  int64_t after = (int64_t)position + 1 - first;
  return after >= 0 && after % normal == 0;
}
