#include "util/util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void util_assert_fail(const char *file, int line, const char *msg) {
  fprintf(stderr, "Fatal error: file %s, line %d\n%s\n", file, line, msg);
  fflush(stdout);
  fflush(stderr);
  abort();
}

void (*util_exit_hook)(int status) = exit;

void util_exit(int status) {
  util_exit_hook(status);
  exit(status);
}

void MMout_of_memory(size_t size) {
  fflush(stdout);
  fprintf(stderr, "\nout of memory allocating %lu bytes\n", (unsigned long)size);
  util_exit(1);
}

void (*MMoutOfMemory)(size_t size) = MMout_of_memory;

void *MMalloc(size_t size) {
  if (size == 0) size = 4;
  void *p = malloc(size);
  if (p == nullptr && MMoutOfMemory != nullptr) MMoutOfMemory(size);
  return p;
}

void *MMrealloc(void *ptr, size_t size) {
  if (ptr == nullptr) return MMalloc(size);
  if (size == 0) size = 4;
  void *p = realloc(ptr, size);
  if (p == nullptr && MMoutOfMemory != nullptr) MMoutOfMemory(size);
  return p;
}

void MMfree(void *ptr) {
  if (ptr != nullptr) free(ptr);
}

char *util_copy_string(const char *s) {
  size_t length = strlen(s);
  char *copy = (char *)MMalloc(length + 1);
  if (copy != nullptr) memcpy(copy, s, length + 1);
  return copy;
}
