// Checked allocator, string pool and joined strings.
#include "core/mem.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace {

constexpr int32_t MAX_CHECKED = 0x100000;

struct CheckedBlock {
  void* address;
  int32_t size;
  int32_t serial;
};

// Allocation checker: decided once, on the first allocation or free.
struct AllocChecker {
  bool decided;
  bool on;
  CheckedBlock* table;  // system heap, not tracked itself
  int32_t count;
  int32_t serial;
};

AllocChecker checker;
int fail_next = 0;

void checker_decide() {
  if (checker.decided) return;
  checker.decided = true;
  const char* value = getenv("RT_CHECK_ALLOC");
  checker.on = value && atoi(value) > 0;
  if (checker.on) {
    checker.table = (CheckedBlock*)malloc(sizeof(CheckedBlock) * MAX_CHECKED);
    if (!checker.table) checker.on = false;
  }
}

int32_t checker_find(void* block) {
  for (int32_t i = checker.count - 1; i >= 0; i--)
    if (checker.table[i].address == block) return i;
  return -1;
}

void checker_add(void* block, size_t size) {
  if (checker.count >= MAX_CHECKED) {
    fputs("Too many allocations to check!\n", stderr);
    checker.on = false;
    return;
  }
  checker.table[checker.count++] = {block, (int32_t)size, checker.serial++};
}

bool should_fail() {
  if (fail_next <= 0) return false;
  fail_next--;
  return true;
}

// The string pool lives until exit.
GrowArray<const char*> string_pool;

}  // namespace

void* mem_alloc(size_t size) {
  checker_decide();
  if (should_fail()) return nullptr;
  void* block = malloc(size ? size : 1);
  if (block && checker.on) checker_add(block, size);
  return block;
}

void* mem_alloc_zeroed(size_t count, size_t size) {
  checker_decide();
  if (should_fail()) return nullptr;
  if (size && count > SIZE_MAX / size) return nullptr;
  void* block = calloc(count ? count : 1, size ? size : 1);
  if (block && checker.on) checker_add(block, count * size);
  return block;
}

void* mem_realloc(void* block, size_t size) {
  checker_decide();
  if (should_fail()) return nullptr;
  if (!checker.on) return realloc(block, size ? size : 1);
  int32_t index = block ? checker_find(block) : -1;
  char old_address[32];
  snprintf(old_address, sizeof old_address, "%p", block);
  void* bigger = realloc(block, size ? size : 1);
  if (!bigger) return nullptr;
  if (index >= 0) {
    checker.table[index].address = bigger;
    checker.table[index].size = (int32_t)size;
  } else {
    if (block) fprintf(stderr, "Allocation not found for %s!\n", old_address);
    checker_add(bigger, size);
  }
  return bigger;
}

void mem_free(void* block) {
  checker_decide();
  if (!block) return;
  if (checker.on) {
    int32_t index = checker_find(block);
    if (index < 0) {
      fprintf(stderr, "Allocation not found for %p!\n", block);
      return;
    }
    memset(block, 0, (size_t)checker.table[index].size);
    memmove(&checker.table[index], &checker.table[index + 1],
            sizeof(CheckedBlock) * (size_t)(checker.count - index - 1));
    checker.count--;
  }
  free(block);
}

void* mem_alloc_or_die(size_t size) {
  void* block = mem_alloc(size);
  if (!block) fatal_out_of_memory();
  return block;
}

char* mem_strdup(const char* text) {
  size_t n = strlen(text) + 1;
  char* copy = (char*)mem_alloc(n);
  if (copy) memcpy(copy, text, n);
  return copy;
}

void fatal_out_of_memory() {
  platform_emergency_close();
  message_box("Error", "Out of virtual memory");
  exit(1);
}

void mem_report_leaks() {
  checker_decide();
  if (!checker.on) return;
  for (int32_t i = 0; i < checker.count; i++)
    fprintf(stderr, "%p:%d\n", checker.table[i].address, checker.table[i].serial);
}

bool mem_checking() {
  checker_decide();
  return checker.on;
}

int mem_live_count() { return checker.on ? checker.count : 0; }

void mem_checker_reset_for_tests() {
  free(checker.table);
  checker = AllocChecker{};
}

void mem_fail_next_for_tests(int count) { fail_next = count; }

const char* intern_string(const char* text) {
  for (int32_t i = 0; i < string_pool.count; i++)
    if (strcmp(string_pool.data[i], text) == 0) return string_pool.data[i];
  char* copy = mem_strdup(text);
  if (!copy) fatal_out_of_memory();
  if (!grow_push(string_pool, (const char*)copy)) fatal_out_of_memory();
  return copy;
}

void string_pool_free() {
  for (int32_t i = 0; i < string_pool.count; i++) mem_free((void*)string_pool.data[i]);
  grow_free(string_pool);
}

char* join_strings(const char* const* list) {
  size_t total = 1;
  for (const char* const* p = list; *p; p++) total += strlen(*p);
  char* out = (char*)mem_alloc(total);
  if (!out) return nullptr;
  char* w = out;
  for (const char* const* p = list; *p; p++) {
    size_t n = strlen(*p);
    memcpy(w, *p, n);
    w += n;
  }
  *w = 0;
  return out;
}
