// Key names: the fixed table of keyboard names (set-1 scan codes, 0x100 for
// extended keys), the special codes, and the name <-> code conversions.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/mem.h"
#include "platform/input.h"
#include "platform/platform.h"

namespace {

struct FixedKey {
  const char* name;
  int32_t code;
};

// Keyboard names by scan code; the first name of a code is the one key_name
// gives.
constexpr FixedKey KEYBOARD_KEYS[] = {
    {"Esc", 0x01},         {"1", 0x02},           {"2", 0x03},          {"3", 0x04},
    {"4", 0x05},           {"5", 0x06},           {"6", 0x07},          {"7", 0x08},
    {"8", 0x09},           {"9", 0x0A},           {"0", 0x0B},          {"-", 0x0C},
    {"=", 0x0D},           {"Backspace", 0x0E},   {"Tab", 0x0F},        {"Q", 0x10},
    {"W", 0x11},           {"E", 0x12},           {"R", 0x13},          {"T", 0x14},
    {"Y", 0x15},           {"U", 0x16},           {"I", 0x17},          {"O", 0x18},
    {"P", 0x19},           {"[", 0x1A},           {"]", 0x1B},          {"Enter", 0x1C},
    {"Left Ctrl", 0x1D},   {"A", 0x1E},           {"S", 0x1F},          {"D", 0x20},
    {"F", 0x21},           {"G", 0x22},           {"H", 0x23},          {"J", 0x24},
    {"K", 0x25},           {"L", 0x26},           {";", 0x27},          {"'", 0x28},
    {"`", 0x29},           {"Left Shift", 0x2A},  {"\\", 0x2B},         {"Z", 0x2C},
    {"X", 0x2D},           {"C", 0x2E},           {"V", 0x2F},          {"B", 0x30},
    {"N", 0x31},           {"M", 0x32},           {",", 0x33},          {".", 0x34},
    {"/", 0x35},           {"Right Shift", 0x36}, {"Keypad *", 0x37},   {"Space", 0x39},
    {"Caps Lock", 0x3A},   {"F1", 0x3B},          {"F2", 0x3C},         {"F3", 0x3D},
    {"F4", 0x3E},          {"F5", 0x3F},          {"F6", 0x40},         {"F7", 0x41},
    {"F8", 0x42},          {"F9", 0x43},          {"F10", 0x44},        {"Pause", 0x45},
    {"Keypad 7", 0x47},    {"Keypad 8", 0x48},    {"Keypad 9", 0x49},   {"Keypad -", 0x4A},
    {"Keypad 4", 0x4B},    {"Keypad 5", 0x4C},    {"Keypad 6", 0x4D},   {"Keypad +", 0x4E},
    {"Keypad 1", 0x4F},    {"Keypad 2", 0x50},    {"Keypad 3", 0x51},   {"Keypad 0", 0x52},
    {"Keypad .", 0x53},    {"F11", 0x57},         {"F12", 0x58},        {"Keypad Enter", 0x11C},
    {"Right Ctrl", 0x11D}, {"Keypad /", 0x135},   {"Num Lock", 0x145},  {"Home", 0x147},
    {"Up", 0x148},         {"Page Up", 0x149},    {"Left", 0x14B},      {"Right", 0x14D},
    {"End", 0x14F},        {"Down", 0x150},       {"Page Down", 0x151}, {"Insert", 0x152},
    {"Delete", 0x153},
};
constexpr int32_t KEYBOARD_KEY_COUNT = (int32_t)(sizeof(KEYBOARD_KEYS) / sizeof(KEYBOARD_KEYS[0]));

// A single space also names the space bar (never given back by key_name).
constexpr FixedKey SPACE_ALIAS = {" ", 0x39};

constexpr FixedKey SPECIAL_KEYS[] = {
    {"Close", KEY_CLOSE},
    {"Mouse Left", KEY_MOUSE_LEFT},
    {"Mouse Middle", KEY_MOUSE_MIDDLE},
    {"Mouse Right", KEY_MOUSE_RIGHT},
};
constexpr int32_t SPECIAL_KEY_COUNT = (int32_t)(sizeof(SPECIAL_KEYS) / sizeof(SPECIAL_KEYS[0]));

using NameCompare = bool (*)(const char* a, const char* b);

bool names_match_exactly(const char* a, const char* b) { return strcmp(a, b) == 0; }

// The platform's own label for a scan code, or nullptr.
const char* platform_scan_name(int32_t scan) {
  if (!platform.input || !platform.input->scan_name) return nullptr;
  const char* name = platform.input->scan_name(scan);
  return name && *name ? name : nullptr;
}

// Looks a name up in the special, platform and fixed tables with one compare.
int32_t lookup_name(const char* name, NameCompare same) {
  for (int32_t i = 0; i < SPECIAL_KEY_COUNT; i++)
    if (same(name, SPECIAL_KEYS[i].name)) return SPECIAL_KEYS[i].code;
  if (platform.input && platform.input->scan_name) {
    for (int32_t scan = 0; scan < KEY_SCAN_COUNT; scan++) {
      const char* label = platform_scan_name(scan);
      if (label && same(name, label)) return KEY_SCAN_BASE + scan;
    }
  }
  for (int32_t i = 0; i < KEYBOARD_KEY_COUNT; i++)
    if (same(name, KEYBOARD_KEYS[i].name)) return KEY_SCAN_BASE + KEYBOARD_KEYS[i].code;
  if (same(name, SPACE_ALIAS.name)) return KEY_SCAN_BASE + SPACE_ALIAS.code;
  return -1;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "0x" followed by hexadecimal digits (nothing else), at most 0x1FF.
int32_t parse_hex_scan_code(const char* name) {
  if (name[0] != '0' || (name[1] != 'x' && name[1] != 'X') || !name[2]) return -1;
  int32_t value = 0;
  for (const char* p = name + 2; *p; p++) {
    int digit = hex_digit(*p);
    if (digit < 0) return -1;
    value = value * 16 + digit;
    if (value >= KEY_SCAN_COUNT) return -1;
  }
  return KEY_SCAN_BASE + value;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool is_space_char(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads a non-negative decimal number (at most 9 digits) at *p.
bool parse_number(const char** p, int32_t* out) {
  const char* s = *p;
  int32_t value = 0;
  int digits = 0;
  while (*s >= '0' && *s <= '9') {
    if (++digits > 9) return false;
    value = value * 10 + (*s - '0');
    s++;
  }
  if (!digits) return false;
  *p = s;
  *out = value;
  return true;
}

bool match_word(const char** p, const char* word) {
  size_t n = strlen(word);
  if (strncasecmp(*p, word, n) != 0) return false;
  *p += n;
  return true;
}

// "Dev.axis[n]": device name without dots, 1..63 characters.
bool parse_dotted_ref(const char* name, const char* word, char* device, int32_t* number) {
  const char* dot = strchr(name, '.');
  if (!dot || dot == name || dot - name >= DEVICE_NAME_SIZE) return false;
  const char* p = dot + 1;
  if (!match_word(&p, word) || *p++ != '[') return false;
  while (is_blank(*p)) p++;
  if (*p == '+') p++;
  int32_t value;
  if (!parse_number(&p, &value) || *p++ != ']') return false;
  while (is_space_char(*p)) p++;
  if (*p) return false;
  memcpy(device, name, (size_t)(dot - name));
  device[dot - name] = 0;
  *number = value;
  return true;
}

// "Dev axis n": device name without blanks, 1..63 characters.
bool parse_spaced_ref(const char* name, const char* word, char* device, int32_t* number) {
  const char* p = name;
  while (is_space_char(*p)) p++;
  const char* start = p;
  while (*p && !is_space_char(*p)) p++;
  size_t length = (size_t)(p - start);
  if (!length || length >= (size_t)DEVICE_NAME_SIZE || !is_space_char(*p)) return false;
  while (is_space_char(*p)) p++;
  if (!match_word(&p, word) || !is_space_char(*p)) return false;
  while (is_space_char(*p)) p++;
  if (*p == '+') p++;
  int32_t value;
  if (!parse_number(&p, &value)) return false;
  while (is_space_char(*p)) p++;
  if (*p) return false;
  memcpy(device, start, length);
  device[length] = 0;
  *number = value;
  return true;
}

}  // namespace

bool key_names_match_loosely(const char* a, const char* b) {
  for (;; a++, b++) {
    char ca = *a, cb = *b;
    if (!ca || !cb) return ca == cb;
    if (is_space_char(ca) || ca == '_') ca = ' ';
    if (is_space_char(cb) || cb == '_') cb = ' ';
    if (tolower((unsigned char)ca) != tolower((unsigned char)cb)) return false;
  }
}

bool input_parse_device_ref(const char* name, bool axis, char* device, int32_t* number) {
  if (!name) return false;
  if (parse_dotted_ref(name, axis ? "axis" : "key", device, number)) return true;
  return parse_spaced_ref(name, axis ? "axis" : "button", device, number);
}

int32_t key_code(const char* name) {
  if (!name || !*name) return -1;
  const char* target = input_alias_target(name);
  if (target) name = target;

  int32_t code = lookup_name(name, names_match_exactly);
  if (code < 0) code = lookup_name(name, key_names_match_loosely);
  if (code >= 0) return code;

  code = parse_hex_scan_code(name);
  if (code >= 0) return code;

  char device_name[DEVICE_NAME_SIZE];
  int32_t button;
  if (!input_parse_device_ref(name, false, device_name, &button)) return -1;
  const InputDevice* device = input_device_find(device_name);
  if (!device || button >= KEY_DEVICE_BUTTONS || button >= device->buttons) return -1;
  int32_t id = device->id;
  if (!input_device_bind_buttons(id)) return -1;
  return key_device_button(id, button);
}

const char* key_name(int32_t code) {
  for (int32_t i = 0; i < SPECIAL_KEY_COUNT; i++)
    if (code == SPECIAL_KEYS[i].code) return SPECIAL_KEYS[i].name;
  if (code < 0) return nullptr;

  char text[1100];
  if (code < KEY_SCAN_BASE || code >= KEY_SCAN_BASE + KEY_SCAN_COUNT) {
    int32_t button = code & 0xFFFF;
    const InputDevice* device = input_device_by_id(code >> KEY_DEVICE_SHIFT);
    if (!device || button >= KEY_DEVICE_BUTTONS) return nullptr;
    snprintf(text, sizeof text, "%.1000s button %d", device->name, (int)button);
    return intern_string(text);
  }

  int32_t scan = code - KEY_SCAN_BASE;
  const char* label = platform_scan_name(scan);
  if (label) return label;
  for (int32_t i = 0; i < KEYBOARD_KEY_COUNT; i++)
    if (KEYBOARD_KEYS[i].code == scan) return KEYBOARD_KEYS[i].name;
  snprintf(text, sizeof text, "0x%x", (unsigned)scan);
  return intern_string(text);
}

int32_t key_fixed_name_count() { return KEYBOARD_KEY_COUNT + SPECIAL_KEY_COUNT; }

const char* key_fixed_name(int32_t index, int32_t* code) {
  if (index >= 0 && index < KEYBOARD_KEY_COUNT) {
    if (code) *code = KEY_SCAN_BASE + KEYBOARD_KEYS[index].code;
    return KEYBOARD_KEYS[index].name;
  }
  if (index >= KEYBOARD_KEY_COUNT && index < key_fixed_name_count()) {
    if (code) *code = SPECIAL_KEYS[index - KEYBOARD_KEY_COUNT].code;
    return SPECIAL_KEYS[index - KEYBOARD_KEY_COUNT].name;
  }
  return nullptr;
}
