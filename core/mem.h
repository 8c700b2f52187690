// Checked allocator, growable arrays, string pool and joined strings.
//
// Every allocation of program data goes through mem_*. With the environment
// variable RT_CHECK_ALLOC set to an integer above 0 the allocator keeps a
// table of live blocks (in allocation order) and mem_report_leaks lists them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

void* mem_alloc(size_t size);
void* mem_alloc_zeroed(size_t count, size_t size);
void* mem_realloc(void* block, size_t size);
void mem_free(void* block);
void* mem_alloc_or_die(size_t size);
char* mem_strdup(const char* text);  // nullptr on failure

// Closes audio and window, shows "Error" / "Out of virtual memory", exits 1.
[[noreturn]] void fatal_out_of_memory();

// One "%p:%d\n" line per live block on standard error (checking on only).
void mem_report_leaks();

// Checker introspection, used by tests and the console.
bool mem_checking();
int mem_live_count();
// Forget the decision and the table (tests only; leaks the tracked blocks' records).
void mem_checker_reset_for_tests();

// Test hook: make the next N system allocations fail (0 = none).
void mem_fail_next_for_tests(int count);

// Pooled copy of a string; equal strings give the same pointer. Fatal on OOM.
const char* intern_string(const char* text);
// Releases the pool at the very end of the run, so the leak report lists
// only real leaks. No pooled string may be used afterwards.
void string_pool_free();

// Newly allocated concatenation of a nullptr-terminated list; nullptr on OOM.
char* join_strings(const char* const* list);
template <typename... Parts>
char* join(const Parts*... parts) {
  const char* list[] = {parts..., nullptr};
  return join_strings(list);
}

// ---------------------------------------------------------------- GrowArray
// Capacity starts at 16 and doubles; a failed growth drops the element.
template <typename T>
struct GrowArray {
  static_assert(std::is_trivially_copyable_v<T>, "GrowArray holds plain records");
  T* data = nullptr;
  int32_t capacity = 0;
  int32_t count = 0;
  int32_t elem_size = (int32_t)sizeof(T);
};

template <typename T>
bool grow_init(GrowArray<T>& a) {
  a.count = 0;
  a.elem_size = (int32_t)sizeof(T);
  a.data = (T*)mem_alloc(16 * sizeof(T));
  a.capacity = a.data ? 16 : 0;
  return a.data != nullptr;
}

// Appends a copy of item; returns a pointer to the stored element or nullptr.
template <typename T>
T* grow_push(GrowArray<T>& a, const T& item) {
  if (!a.data && !grow_init(a)) return nullptr;
  if (a.count >= a.capacity) {
    T* bigger = (T*)mem_realloc(a.data, (size_t)a.capacity * 2 * sizeof(T));
    if (!bigger) return nullptr;
    a.data = bigger;
    a.capacity *= 2;
  }
  memcpy((void*)&a.data[a.count], (const void*)&item, sizeof(T));
  return &a.data[a.count++];
}

template <typename T>
T* grow_at(const GrowArray<T>& a, int32_t index) {
  if (index < 0 || index >= a.count) return nullptr;
  return &a.data[index];
}

// Shrinks a finished list to exactly count elements (keeps the block on failure).
template <typename T>
void grow_shrink(GrowArray<T>& a) {
  if (!a.data || a.count == a.capacity || a.count == 0) return;
  T* smaller = (T*)mem_realloc(a.data, (size_t)a.count * sizeof(T));
  if (!smaller) return;
  a.data = smaller;
  a.capacity = a.count;
}

template <typename T>
void grow_free(GrowArray<T>& a) {
  mem_free(a.data);
  a.data = nullptr;
  a.capacity = 0;
  a.count = 0;
}
