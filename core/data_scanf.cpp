// Formatted reading from a DataFile with the scanf family's rules, reading the
// stream one character at a time with one character of push-back. A failed
// match leaves the offending character pushed back (characters already taken
// into a field, such as the "e+" of "1e+x", stay consumed).
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/files.h"
#include "core/mem.h"

namespace {

enum SizeKind { SIZE_INT, SIZE_CHAR, SIZE_SHORT, SIZE_LONG, SIZE_LLONG };

bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_xdigit(int c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int to_lower(int c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }
int digit_value(int c) { return is_digit(c) ? c - '0' : to_lower(c) - 'a' + 10; }

struct Reader {
  DataFile* file;
  int64_t read_in;  // characters consumed by this call (%n)
};

int inchar(Reader* r) {
  int c = data_getc(r->file);
  if (c != EOF) r->read_in++;
  return c;
}

void unget(Reader* r, int c) {
  if (c == EOF) return;
  data_ungetc(r->file, c);
  r->read_in--;
}

// Text of a floating-point field: a small inline buffer that grows on the heap.
struct FieldText {
  char inline_buf[128];
  char* data = inline_buf;
  size_t len = 0;
  size_t cap = sizeof inline_buf;
  bool failed = false;

  void add(int c) {
    if (len + 1 >= cap) {
      size_t bigger = cap * 2;
      char* grown = (char*)mem_alloc(bigger);
      if (!grown) {
        failed = true;
        return;
      }
      memcpy(grown, data, len);
      if (data != inline_buf) mem_free(data);
      data = grown;
      cap = bigger;
    }
    data[len++] = (char)c;
  }
  char last() const { return len ? data[len - 1] : 0; }
  ~FieldText() {
    if (data != inline_buf) mem_free(data);
  }
};

void store_integer(va_list* args, SizeKind size, uint64_t bits) {
  switch (size) {
    case SIZE_CHAR: *va_arg(*args, unsigned char*) = (unsigned char)bits; break;
    case SIZE_SHORT: *va_arg(*args, unsigned short*) = (unsigned short)bits; break;
    case SIZE_LONG: *va_arg(*args, unsigned long*) = (unsigned long)bits; break;
    case SIZE_LLONG: *va_arg(*args, unsigned long long*) = (unsigned long long)bits; break;
    default: *va_arg(*args, unsigned int*) = (unsigned int)bits; break;
  }
}

// Outcome of one conversion.
enum Step { STEP_OK, STEP_MATCH_FAIL, STEP_INPUT_FAIL };

// %d %i %o %u %x: sign, optional "0"/"0x" prefix, digits of the base; the
// value saturates like strtol/strtoul on 64 bits, then is cut to the size.
Step scan_integer(Reader* r, int base, bool is_signed, int width, bool suppress, SizeKind size,
                  va_list* args, int* done) {
  int c = inchar(r);
  if (c == EOF) return STEP_INPUT_FAIL;
  int taken = 0;  // characters of the field, sign included
  bool negative = false, got_sign = false;
  if (c == '-' || c == '+') {
    negative = c == '-';
    got_sign = true;
    taken++;
    if (width > 0) --width;
    c = inchar(r);
  }
  uint64_t magnitude = 0;
  bool overflow = false;
  if (width != 0 && c == '0') {
    if (width > 0) --width;
    taken++;
    c = inchar(r);
    if (width != 0 && to_lower(c) == 'x') {
      if (base == 0) base = 16;
      if (base == 16) {
        if (width > 0) --width;
        c = inchar(r);
      }
    } else if (base == 0) {
      base = 8;
    }
  }
  if (base == 0) base = 10;
  while (c != EOF && width != 0) {
    if (base == 16 ? !is_xdigit(c) : (!is_digit(c) || c - '0' >= base)) break;
    uint64_t d = (uint64_t)digit_value(c);
    if (magnitude > (UINT64_MAX - d) / (uint64_t)base)
      overflow = true;
    else
      magnitude = magnitude * (uint64_t)base + d;
    taken++;
    if (width > 0) --width;
    c = inchar(r);
  }
  unget(r, c);
  if (taken == 0 || (taken == 1 && got_sign)) return STEP_MATCH_FAIL;
  uint64_t bits;
  if (is_signed) {
    uint64_t limit = negative ? (uint64_t)INT64_MAX + 1 : (uint64_t)INT64_MAX;
    if (overflow || magnitude > limit)
      bits = negative ? (uint64_t)INT64_MIN : (uint64_t)INT64_MAX;
    else
      bits = negative ? 0 - magnitude : magnitude;
  } else {
    bits = overflow ? UINT64_MAX : negative ? 0 - magnitude : magnitude;
  }
  if (!suppress) {
    store_integer(args, size, bits);
    ++*done;
  }
  return STEP_OK;
}

// Reads the rest of a fixed word ("an", "nity") case-insensitively into text.
bool expect_word(Reader* r, FieldText* text, const char* rest, int* width) {
  for (const char* p = rest; *p; p++) {
    if (*width == 0) return false;
    int c = inchar(r);
    if (c == EOF) return false;
    if (to_lower(c) != *p) {
      unget(r, c);
      return false;
    }
    if (*width > 0) --*width;
    text->add(c);
  }
  return true;
}

// %f %e %g %a: decimal or hexadecimal numbers, "inf", "infinity", "nan". The
// longest valid prefix of the characters taken is converted.
Step scan_float(Reader* r, int width, bool suppress, SizeKind size, bool long_double, va_list* args,
                int* done) {
  int c = inchar(r);
  if (width > 0) --width;
  if (c == EOF) return STEP_INPUT_FAIL;
  FieldText text;
  bool got_sign = false, got_digit = false, got_dot = false, got_e = false, hexa = false;
  if (c == '-' || c == '+') {
    got_sign = true;
    text.add(c);
    if (width == 0) return STEP_MATCH_FAIL;
    c = inchar(r);
    if (c == EOF) return STEP_MATCH_FAIL;
    if (width > 0) --width;
  }
  if (to_lower(c) == 'n') {
    text.add(c);
    if (!expect_word(r, &text, "an", &width)) return STEP_MATCH_FAIL;
  } else if (to_lower(c) == 'i') {
    text.add(c);
    if (!expect_word(r, &text, "nf", &width)) return STEP_MATCH_FAIL;
    if (width != 0) {
      c = inchar(r);
      if (to_lower(c) == 'i') {
        if (width > 0) --width;
        text.add(c);
        if (!expect_word(r, &text, "nity", &width)) return STEP_MATCH_FAIL;
      } else {
        unget(r, c);
      }
    }
  } else {
    int exp_char = 'e';
    if (width != 0 && c == '0') {
      text.add(c);
      c = inchar(r);
      if (width > 0) --width;
      if (width != 0 && to_lower(c) == 'x') {
        text.add(c);
        hexa = true;
        exp_char = 'p';
        c = inchar(r);
        if (width > 0) --width;
      } else {
        got_digit = true;
      }
    }
    for (;;) {
      if (is_digit(c)) {
        text.add(c);
        got_digit = true;
      } else if (!got_e && hexa && is_xdigit(c)) {
        text.add(c);
        got_digit = true;
      } else if (got_e && text.last() == exp_char && (c == '-' || c == '+')) {
        text.add(c);
      } else if (got_digit && !got_e && to_lower(c) == exp_char) {
        text.add(exp_char);
        got_e = got_dot = true;
      } else if (!got_dot && c == '.') {
        text.add(c);
        got_dot = true;
      } else {
        unget(r, c);
        break;
      }
      if (width == 0) break;
      c = inchar(r);
      if (c == EOF) break;
      if (width > 0) --width;
    }
    size_t sign = got_sign ? 1 : 0;
    if (text.len == sign || (hexa && text.len == 2 + sign)) return STEP_MATCH_FAIL;
  }
  if (text.failed) return STEP_MATCH_FAIL;
  text.add(0);
  if (text.failed) return STEP_MATCH_FAIL;
  char* end = nullptr;
  if (long_double) {
    long double v = strtold(text.data, &end);
    if (end == text.data) return STEP_MATCH_FAIL;
    if (!suppress) *va_arg(*args, long double*) = v;
  } else if (size == SIZE_LONG) {
    double v = strtod(text.data, &end);
    if (end == text.data) return STEP_MATCH_FAIL;
    if (!suppress) *va_arg(*args, double*) = v;
  } else {
    float v = strtof(text.data, &end);
    if (end == text.data) return STEP_MATCH_FAIL;
    if (!suppress) *va_arg(*args, float*) = v;
  }
  if (!suppress) ++*done;
  return STEP_OK;
}

// Parses the scan set after "%[" into set; returns the format past the closing
// ']' or nullptr when it is missing.
const unsigned char* parse_scan_set(const unsigned char* f, bool set[256], bool* negate) {
  *negate = false;
  if (*f == '^') {
    *negate = true;
    f++;
  }
  memset(set, 0, 256 * sizeof(bool));
  if (*f == ']' || *f == '-') set[*f++] = true;  // a leading ']' or '-' is a member
  int fc;
  while ((fc = *f++) != 0 && fc != ']') {
    if (fc == '-' && *f != 0 && *f != ']' && f[-2] <= *f) {
      for (int ch = f[-2]; ch < *f; ch++) set[ch] = true;  // range; *f is added next
    } else {
      set[fc] = true;
    }
  }
  return fc == 0 ? nullptr : f;
}

}  // namespace

int data_vscanf(DataFile* file, const char* format, va_list args_in) {
  if (!file || !format) return EOF;
  va_list args;
  va_copy(args, args_in);
  Reader r{file, 0};
  int done = 0;
  bool input_failed = false;
  bool stopped = false;  // a directive failed
  bool skip_space = false;
  const unsigned char* f = (const unsigned char*)format;
  while (*f) {
    int fc = *f++;
    if (fc != '%') {
      if (is_space(fc)) {
        skip_space = true;  // taken care of by the next directive
        continue;
      }
      int c = inchar(&r);
      if (skip_space) {
        while (is_space(c)) c = inchar(&r);
        skip_space = false;
      }
      if (c == EOF) {
        input_failed = stopped = true;
        break;
      }
      if (c != fc) {
        unget(&r, c);
        stopped = true;
        break;
      }
      continue;
    }

    bool suppress = false;
    while (*f == '*') {
      suppress = true;
      f++;
    }
    int width = 0;
    while (is_digit(*f)) {
      int d = *f++ - '0';
      width = width > (INT_MAX - d) / 10 ? INT_MAX : width * 10 + d;
    }
    if (width == 0) width = -1;  // no limit
    SizeKind size = SIZE_INT;
    bool long_double = false;
    switch (*f) {
      case 'h':
        f++;
        if (*f == 'h') {
          f++;
          size = SIZE_CHAR;
        } else {
          size = SIZE_SHORT;
        }
        break;
      case 'l':
        f++;
        if (*f == 'l') {
          f++;
          size = SIZE_LLONG;
          long_double = true;
        } else {
          size = SIZE_LONG;
        }
        break;
      case 'L':
      case 'q':
      case 'j':
        f++;
        size = SIZE_LLONG;
        long_double = true;
        break;
      case 'z':
      case 't':
        f++;
        size = SIZE_LONG;
        break;
      default: break;
    }
    if (!*f) {
      stopped = true;
      break;
    }
    fc = *f++;

    if (skip_space || (fc != '[' && fc != 'c' && fc != 'n')) {
      int c;
      do c = inchar(&r);
      while (is_space(c));
      unget(&r, c);
      skip_space = false;
    }

    Step step = STEP_OK;
    switch (fc) {
      case '%': {
        int c = inchar(&r);
        if (c == EOF)
          step = STEP_INPUT_FAIL;
        else if (c != '%') {
          unget(&r, c);
          step = STEP_MATCH_FAIL;
        }
        break;
      }
      case 'n':
        if (!suppress) store_integer(&args, size, (uint64_t)r.read_in);
        break;
      case 'c': {
        if (size == SIZE_LONG || size == SIZE_LLONG) {  // wide characters are not supported
          step = STEP_MATCH_FAIL;
          break;
        }
        if (width < 0) width = 1;
        char* out = suppress ? nullptr : va_arg(args, char*);
        int c = inchar(&r);
        if (c == EOF) {
          step = STEP_INPUT_FAIL;
          break;
        }
        do {
          if (out) *out++ = (char)c;
        } while (--width > 0 && (c = inchar(&r)) != EOF);
        if (!suppress) done++;
        break;
      }
      case 's': {
        if (size == SIZE_LONG || size == SIZE_LLONG) {
          step = STEP_MATCH_FAIL;
          break;
        }
        char* out = suppress ? nullptr : va_arg(args, char*);
        int c = inchar(&r);
        if (c == EOF) {
          step = STEP_INPUT_FAIL;
          break;
        }
        do {
          if (is_space(c)) {
            unget(&r, c);
            break;
          }
          if (out) *out++ = (char)c;
        } while ((width <= 0 || --width > 0) && (c = inchar(&r)) != EOF);
        if (out) {
          *out = 0;
          done++;
        }
        break;
      }
      case '[': {
        bool set[256];
        bool negate;
        f = parse_scan_set(f, set, &negate);
        if (!f || size == SIZE_LONG || size == SIZE_LLONG) {
          step = STEP_MATCH_FAIL;
          break;
        }
        if (width < 0) width = INT_MAX;
        char* out = suppress ? nullptr : va_arg(args, char*);
        int64_t before = r.read_in;
        int c = inchar(&r);
        if (c == EOF) {
          step = STEP_INPUT_FAIL;
          break;
        }
        do {
          if (set[c] == negate) {
            unget(&r, c);
            break;
          }
          if (out) *out++ = (char)c;
        } while (--width > 0 && (c = inchar(&r)) != EOF);
        if (r.read_in == before) {
          step = STEP_MATCH_FAIL;
          break;
        }
        if (out) {
          *out = 0;
          done++;
        }
        break;
      }
      case 'd': step = scan_integer(&r, 10, true, width, suppress, size, &args, &done); break;
      case 'i': step = scan_integer(&r, 0, true, width, suppress, size, &args, &done); break;
      case 'o': step = scan_integer(&r, 8, false, width, suppress, size, &args, &done); break;
      case 'u': step = scan_integer(&r, 10, false, width, suppress, size, &args, &done); break;
      case 'x':
      case 'X': step = scan_integer(&r, 16, false, width, suppress, size, &args, &done); break;
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A': step = scan_float(&r, width, suppress, size, long_double, &args, &done); break;
      default: step = STEP_MATCH_FAIL; break;  // unknown conversion
    }
    if (step == STEP_INPUT_FAIL) input_failed = true;
    if (step != STEP_OK) {
      stopped = true;
      break;
    }
  }
  if (!stopped && skip_space) {
    // Trailing white space in the format consumes white space.
    int c;
    do c = inchar(&r);
    while (is_space(c));
    unget(&r, c);
  }
  va_end(args);
  if (input_failed && done == 0) return EOF;
  return done;
}

int data_scanf(DataFile* file, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int r = data_vscanf(file, format, args);
  va_end(args);
  return r;
}

void data_skip_comments(DataFile* file) {
  // The same as reading " #%*[^\n]%n" until it no longer matches, except that
  // a line holding only "#" is a comment too.
  if (!file) return;
  for (;;) {
    int c;
    do c = data_getc(file);
    while (is_space(c));
    if (c != '#') {
      data_ungetc(file, c);
      return;
    }
    while ((c = data_peek(file)) != EOF && c != '\n') data_getc(file);
  }
}

int32_t data_read_int(DataFile* file) {
  int value;
  if (data_scanf(file, "%d", &value) == 1) return value;
  return INT32_MIN;
}
