// Points series: the ".series" and "_standings" files, round and
// championship scoring, the standings texts and the start of a series moto.
#include "race/series.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "core/files.h"
#include "core/program.h"
#include "core/session.h"
#include "core/startup.h"
#include "core/subsystems.h"
#include "physics/bike.h"
#include "platform/log.h"
#include "race/race.h"
#include "track/timing.h"
#include "track/track.h"

GrowArray<Series> series_list;
int32_t series_chosen = -1;
int32_t series_chosen_moto = 0;

namespace {

constexpr int32_t WORD_CHARS = 1023;
// Longest "_standings" line read (160 numbers need far less).
constexpr int32_t STANDINGS_LINE_CHARS = 8192;

// Grid slots of later motos with more than 14 robots, worst of the previous
// moto first; from entry 20 on the slot is the entry number itself.
const int32_t WIDE_GRID[20] = {10, 9, 11, 8, 12, 7, 13, 6, 14, 5,
                               15, 4, 16, 3, 17, 2, 18, 1, 19, 0};
constexpr int32_t NARROW_GRID_ROBOTS = 14;

// Line-up code of a robot rider: LINEUP_ROBOT_NUMBER + its number; numbers
// that cannot form such a code (negative, or past the int range) ride as an
// unnamed robot on the default bike.
int32_t robot_code(int32_t number) {
  if (number < 0 || number > INT32_MAX - LINEUP_ROBOT_NUMBER) return LINEUP_ROBOT_NUMBER - 1;
  return LINEUP_ROBOT_NUMBER + number;
}

int32_t clamp_position(int32_t position, int32_t riders) {
  if (position < 0) return 0;
  return position > riders ? riders : position;
}

// A word: a text in double quotes (quotes not kept) or one whitespace-delimited
// word, up to WORD_CHARS characters. False at the end of the input, on an
// unterminated quote or on a longer word.
bool read_word(DataFile* file, char* out) {
  int c;
  do c = data_getc(file);
  while (c != EOF && isspace(c));
  if (c == EOF) return false;
  int32_t n = 0;
  if (c == '"') {
    while ((c = data_getc(file)) != '"') {
      if (c == EOF || n >= WORD_CHARS) return false;
      out[n++] = (char)c;
    }
  } else {
    while (c != EOF && !isspace(c)) {
      if (n >= WORD_CHARS) return false;
      out[n++] = (char)c;
      c = data_getc(file);
    }
  }
  out[n] = 0;
  return true;
}

bool read_int(DataFile* file, int32_t* value) {
  int v = 0;
  if (data_scanf(file, "%d", &v) != 1) return false;
  *value = v;
  return true;
}

int32_t skill_from_name(const char* name) {
  if (strcmp(name, "Novice") == 0) return SERIES_NOVICE;
  if (strcmp(name, "Amateur") == 0) return SERIES_AMATEUR;
  return SERIES_EXPERT;
}

bool read_moto(DataFile* file, char* word, SeriesMoto* moto) {
  memset(moto, 0, sizeof *moto);
  if (!read_word(file, word)) return false;
  char* name = mem_strdup(word);
  if (!name) fatal_out_of_memory();
  moto->name = name;
  if (!read_word(file, word)) return false;
  if (debug_level >= 1) log_printf("  event %s (%s)\n", word, name);
  moto->track = track_list_find(word);
  if (moto->track < 0) return false;
  if (!read_int(file, &moto->minutes) || !read_int(file, &moto->laps)) return false;
  for (int32_t i = 0; i < SERIES_POINTS_GIVEN; i++)
    if (!read_int(file, &moto->moto_points[i])) return false;
  for (int32_t i = 0; i < SERIES_POINTS_GIVEN; i++)
    if (!read_int(file, &moto->round_points[i])) return false;
  return true;
}

bool ends_round(const Series* s, int32_t moto) {
  return moto == s->motos.count - 1 || s->motos.data[moto].round_points[0] != 0;
}

// The completed round ending last, or -1.
int32_t latest_completed_round(const Series* s) {
  int32_t latest = -1;
  for (int32_t r = 0, first, last; series_round_motos(s, r, &first, &last); r++)
    if (last < s->completed) latest = r;
  return latest;
}

int32_t position_points(const int32_t* table, int32_t position) {
  return position >= 0 && position < MAX_BIKES ? table[position] : 0;
}

int32_t read_standings_line(DataFile* file, char* line) {
  int32_t n = 0;
  int c;
  while ((c = data_getc(file)) != EOF && c != '\n') {
    if (n >= STANDINGS_LINE_CHARS - 1) return -1;  // overlong: not a standings line
    line[n++] = (char)c;
  }
  line[n] = 0;
  return c == '\n' ? n : (n > 0 ? -2 : -3);  // -2 last line without '\n', -3 end of input
}

// Starts moto `moto` of series s: line-up, track, slow-rider values, session.
bool start_moto(const Series* s, int32_t moto) {
  if (moto < 0 || moto >= s->motos.count) return false;
  const SeriesMoto& m = s->motos.data[moto];
  if (m.track < 0 || m.track >= program.track_list.count) return false;
  int32_t lineup[MAX_BIKES];
  series_lineup(s, moto, lineup);
  program.selected_track = m.track;
  config_set_selected_track(program.track_list.data[m.track].name);
  net_disconnect();
  race_session.slow_rider_seconds = 10.0f;
  race_session.slow_rider_factor = 1.5f;
  int64_t ticks = (int64_t)m.minutes * 60 * TICKS_PER_SECOND;
  if (ticks < 0) ticks = 0;
  if (ticks > INT32_MAX) ticks = INT32_MAX;
  return session_start(program.track_list.data[m.track].name, lineup, false,
                       settings.record.index == 1, (int32_t)ticks, m.laps, s->skill);
}

}  // namespace

// ---------------------------------------------------------------- files

void series_free(Series* series) {
  if (!series) return;
  for (int32_t m = 0; m < series->motos.count; m++) mem_free(series->motos.data[m].name);
  grow_free(series->motos);
  mem_free(series->standings_path);
  series->standings_path = nullptr;
  series->completed = 0;
}

bool series_read(DataFile* file, const char* asset_path, Series* out) {
  if (!file || !out) return false;
  Series s{};
  char* word = (char*)mem_alloc(WORD_CHARS + 1);
  if (!word) fatal_out_of_memory();
  bool ok = false;
  int32_t moto_count = 0;
  if (!read_word(file, word)) goto done;
  s.name = intern_string(word);
  if (debug_level >= 1) {
    const char* shown = asset_path ? asset_path : "";
    log_printf("series %s (%s)\n", shown[0] == '@' ? shown + 1 : shown, s.name);
  }
  if (data_scanf(file, "%d %1023s", &s.rider_count, word) != 2) goto done;
  if (s.rider_count < 0 || s.rider_count > SERIES_MAX_ROBOTS) goto done;
  s.skill = skill_from_name(word);
  for (int32_t i = 0; i < s.rider_count; i++)
    if (!read_int(file, &s.rider_numbers[i])) goto done;
  if (!read_int(file, &moto_count) || moto_count < 0) goto done;
  for (int32_t m = 0; m < moto_count; m++) {
    SeriesMoto moto;
    bool read = read_moto(file, word, &moto);
    if (moto.name && !grow_push(s.motos, moto)) fatal_out_of_memory();
    if (!read) goto done;
  }
  s.standings_path = join(asset_path ? asset_path : "", "_standings");
  if (!s.standings_path) fatal_out_of_memory();
  ok = true;
done:
  mem_free(word);
  if (!ok) {
    series_free(&s);
    return false;
  }
  *out = s;
  return true;
}

int32_t standings_read(Series* series, DataFile* file) {
  if (!series) return 0;
  series->completed = 0;
  char* line = file ? (char*)mem_alloc(STANDINGS_LINE_CHARS) : nullptr;
  if (file && !line) fatal_out_of_memory();
  int32_t riders = series->rider_count + 1;
  while (line && series->completed < series->motos.count) {
    if (read_standings_line(file, line) < 0) break;
    int32_t positions[MAX_BIKES];
    int32_t n = 0;
    const char* p = line;
    while (n < riders) {
      char* end = nullptr;
      long v = strtol(p, &end, 10);
      if (end == p || v < 1 || v > riders) break;
      positions[n++] = (int32_t)v - 1;
      p = end;
    }
    if (n < riders) break;
    memcpy(series->motos.data[series->completed].positions, positions,
           sizeof(int32_t) * (size_t)riders);
    series->completed++;
  }
  mem_free(line);
  series_overall_positions_update(series);
  return series->completed;
}

bool standings_write(const Series* series, DataFile* file) {
  if (!series || !file) return false;
  bool ok = true;
  for (int32_t m = 0; m < series->completed && m < series->motos.count; m++) {
    for (int32_t r = 0; r <= series->rider_count; r++)
      ok &= data_printf(file, "%d ", series->motos.data[m].positions[r] + 1) >= 0;
    ok &= data_puts(file, "\n") >= 0;
  }
  return ok;
}

void series_list_load() {
  if (!grow_init(series_list)) fatal_out_of_memory();
  static const char SUFFIX[] = ".series";
  const size_t suffix_length = sizeof SUFFIX - 1;
  for (const char* const* names = file_list(); names && *names; names++) {
    size_t n = strlen(*names);
    if (n < suffix_length || strcmp(*names + n - suffix_length, SUFFIX) != 0) continue;
    char* asset = join("@", *names);
    if (!asset) fatal_out_of_memory();
    DataFile* file = data_open(asset, "rb");
    Series s;
    bool ok = file && series_read(file, asset, &s);
    data_close(file);
    mem_free(asset);
    if (!ok) continue;
    DataFile* standings = data_open(s.standings_path, "rb");
    standings_read(&s, standings);
    data_close(standings);
    if (!grow_push(series_list, s)) fatal_out_of_memory();
  }
  series_chosen = -1;
}

void series_list_free() {
  for (int32_t i = 0; i < series_list.count; i++) series_free(&series_list.data[i]);
  grow_free(series_list);
  series_chosen = -1;
  series_chosen_moto = 0;
}

// ---------------------------------------------------------------- scoring

int32_t series_round_count(const Series* series) {
  if (!series) return 0;
  int32_t rounds = 0;
  for (int32_t m = 0; m < series->motos.count; m++)
    if (ends_round(series, m)) rounds++;
  return rounds;
}

bool series_round_motos(const Series* series, int32_t round, int32_t* first, int32_t* last) {
  if (!series || round < 0) return false;
  int32_t start = 0, r = 0;
  for (int32_t m = 0; m < series->motos.count; m++) {
    if (!ends_round(series, m)) continue;
    if (r == round) {
      if (first) *first = start;
      if (last) *last = m;
      return true;
    }
    r++;
    start = m + 1;
  }
  return false;
}

void series_overall_positions_update(Series* series) {
  if (!series) return;
  int32_t riders = series->rider_count + 1;
  for (int32_t r = 0, first, last; series_round_motos(series, r, &first, &last); r++) {
    if (last >= series->completed) break;
    int32_t points[MAX_BIKES] = {};
    for (int32_t m = first; m <= last; m++)
      for (int32_t i = 0; i < riders; i++)
        points[i] +=
            position_points(series->motos.data[m].moto_points, series->motos.data[m].positions[i]);
    const int32_t* final_positions = series->motos.data[last].positions;
    int32_t order[MAX_BIKES];
    for (int32_t i = 0; i < riders; i++) {  // insertion sort: stable, riders <= 160
      int32_t j = i;
      while (j > 0) {
        int32_t a = order[j - 1];
        bool after = points[a] < points[i] ||
                     (points[a] == points[i] && final_positions[a] > final_positions[i]);
        if (!after) break;
        order[j] = a;
        j--;
      }
      order[j] = i;
    }
    for (int32_t k = 0; k < riders; k++) series->motos.data[last].overall_positions[order[k]] = k;
  }
}

int32_t series_rider_total(const Series* series, int32_t rider) {
  if (!series || rider < 0 || rider > series->rider_count) return 0;
  int32_t total = 0;
  for (int32_t r = 0, first, last; series_round_motos(series, r, &first, &last); r++) {
    if (last >= series->completed) break;
    const SeriesMoto& m = series->motos.data[last];
    total += position_points(m.round_points, m.overall_positions[rider]);
  }
  return total;
}

int32_t series_standings_order(const Series* series, int32_t* order) {
  if (!series || !order) return 0;
  int32_t riders = series->rider_count + 1;
  int32_t totals[MAX_BIKES], latest[MAX_BIKES];
  int32_t round = latest_completed_round(series);
  int32_t last = -1;
  if (round >= 0) series_round_motos(series, round, nullptr, &last);
  for (int32_t i = 0; i < riders; i++) {
    totals[i] = series_rider_total(series, i);
    latest[i] = last >= 0 ? series->motos.data[last].overall_positions[i] : 0;
  }
  for (int32_t i = 0; i < riders; i++) {
    int32_t j = i;
    while (j > 0) {
      int32_t a = order[j - 1];
      bool after = totals[a] < totals[i] || (totals[a] == totals[i] && latest[a] > latest[i]);
      if (!after) break;
      order[j] = a;
      j--;
    }
    order[j] = i;
  }
  return riders;
}

// ---------------------------------------------------------------- standings texts

void series_standings_title(const Series* series, char* out, size_t size) {
  if (!out || size == 0) return;
  out[0] = 0;
  if (!series) return;
  if (series->completed < series->motos.count)
    snprintf(out, size, "Next Event: %.900s", series->motos.data[series->completed].name);
  else
    snprintf(out, size, "%.900s Final Standings", series->name ? series->name : "");
}

void series_rider_number_text(const Series* series, int32_t rider, char* out, size_t size) {
  if (!out || size == 0) return;
  out[0] = 0;
  if (!series || rider < 0 || rider > series->rider_count) return;
  if (rider == series->rider_count)
    snprintf(out, size, "%s", SERIES_USER_NUMBER);
  else
    snprintf(out, size, "%d", series->rider_numbers[rider]);
}

void series_round_cell(const Series* series, int32_t round, int32_t rider, char* out, size_t size) {
  if (!out || size == 0) return;
  snprintf(out, size, "-");
  int32_t first, last;
  if (!series || rider < 0 || rider > series->rider_count ||
      !series_round_motos(series, round, &first, &last) || first >= series->completed)
    return;
  const SeriesMoto& end = series->motos.data[last];
  bool complete = last < series->completed;
  int32_t points = position_points(end.round_points, end.overall_positions[rider]);
  if (complete && first == last) {
    snprintf(out, size, "%d (%d)", points, end.overall_positions[rider] + 1);
    return;
  }
  // "%d (a-b-c)" for a finished round, "- (a-b-)" while it runs.
  char text[MAX_BIKES * 12 + 32];
  int32_t n =
      complete ? snprintf(text, sizeof text, "%d (", points) : snprintf(text, sizeof text, "- (");
  int32_t done = complete ? last : series->completed - 1;
  for (int32_t m = first; m <= done && n < (int32_t)sizeof text; m++)
    n += snprintf(text + n, sizeof text - (size_t)n, m == first ? "%d" : "-%d",
                  series->motos.data[m].positions[rider] + 1);
  if (n < (int32_t)sizeof text) snprintf(text + n, sizeof text - (size_t)n, complete ? ")" : "-)");
  snprintf(out, size, "%s", text);
}

// ---------------------------------------------------------------- events

void series_lineup(const Series* series, int32_t moto, int32_t lineup[MAX_BIKES]) {
  if (!lineup) return;
  for (int32_t i = 0; i < MAX_BIKES; i++) lineup[i] = LINEUP_EMPTY;
  if (!series) return;
  int32_t robots = series->rider_count;
  if (robots < 0 || robots > SERIES_MAX_ROBOTS) return;
  if (moto <= 0 || moto - 1 >= series->motos.count) {
    for (int32_t k = 0; k < robots; k++) lineup[k] = robot_code(series->rider_numbers[k]);
    lineup[robots] = LINEUP_HUMAN;
    return;
  }
  const int32_t* previous = series->motos.data[moto - 1].positions;
  int32_t placed = 0;
  auto grid_slot = [&](int32_t j) {
    if (robots <= NARROW_GRID_ROBOTS) return 6 + 2 * j;
    return j < 20 ? WIDE_GRID[j] : j;
  };
  for (int32_t p = robots; p >= 0; p--) {
    for (int32_t k = 0; k < robots; k++)
      if (clamp_position(previous[k], robots) == p)
        lineup[grid_slot(placed++)] = robot_code(series->rider_numbers[k]);
    if (clamp_position(previous[robots], robots) == p) lineup[grid_slot(placed++)] = LINEUP_HUMAN;
  }
}

void series_select(int32_t index) {
  if (index < 0 || index >= series_list.count) {
    series_chosen = -1;
    series_chosen_moto = 0;
    return;
  }
  series_chosen = index;
  series_chosen_moto = series_list.data[index].completed;
}

void series_reset_points(int32_t index) {
  if (index >= 0 && index < series_list.count) series_list.data[index].completed = 0;
}

void series_standings_save() {
  Series* s = series_chosen >= 0 && series_chosen < series_list.count
                  ? &series_list.data[series_chosen]
                  : nullptr;
  int32_t moto = series_chosen_moto;
  series_select(-1);
  if (!s || moto != s->completed || moto < 0 || moto >= s->motos.count) return;

  int32_t riders = s->rider_count;
  int32_t* positions = s->motos.data[moto].positions;
  for (int32_t i = 0; i <= riders; i++) positions[i] = riders;

  bool final = race_session.results_final;
  const PositionEntry* table = final ? race_session.results : race_session.positions;
  int32_t count = final ? race_session.result_count : race_session.position_count;
  if (count > MAX_BIKES) count = MAX_BIKES;
  const BikeTiming* bikes[MAX_BIKES];
  int32_t bike_count = 0;
  for (int32_t i = 0; i < race_session.position_count && i < MAX_BIKES; i++) {
    int32_t slot = race_session.positions[i].slot;
    if (slot >= 0 && slot < MAX_BIKES && program.slots[slot].bike)
      bikes[bike_count++] = &program.slots[slot].bike->timing;
  }
  int32_t next = 0;
  for (int32_t i = 0; i < count; i++) {
    int32_t slot = table[i].slot;
    const Bike* bike = slot >= 0 && slot < MAX_BIKES ? program.slots[slot].bike : nullptr;
    if (!bike) continue;
    if (slot == race_session.local_slot) {
      bool counts = final || (bike->timing.finished && cutting_penalty(&track.timing, &bike->timing,
                                                                       bikes, bike_count) <= 0);
      if (counts) positions[riders] = next++;
      continue;
    }
    for (int32_t k = 0; k < riders; k++) {
      char number[16];
      snprintf(number, sizeof number, "%d", s->rider_numbers[k]);
      if (strcmp(number, bike->number_text) == 0) positions[k] = next++;
    }
  }

  s->completed++;
  series_overall_positions_update(s);
  DataFile* file = data_open(s->standings_path, "wb");
  if (!file) return;
  standings_write(s, file);
  data_close(file);
}

void series_event_start() {
  if (series_chosen < 0 || series_chosen >= series_list.count) return;
  const Series* s = &series_list.data[series_chosen];
  if (s->completed >= s->motos.count) return;
  series_chosen_moto = s->completed;
  start_moto(s, s->completed);
}

bool series_moto_start(int32_t index) {
  if (index < 0 || index >= series_list.count) return false;
  const Series* s = &series_list.data[index];
  return start_moto(s, s->completed);
}
