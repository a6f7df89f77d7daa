// Library-wide basics: the boolean type, the assertion channel and the
// checked heap wrappers used by every package of the decision-diagram library.
#ifndef KZ_UTIL_H
#define KZ_UTIL_H

#include <cstddef>

typedef int boolean;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Assertion channel: prints "Fatal error: file %s, line %d\n%s\n" on standard
// error, flushes standard output and aborts. Never returns.
[[noreturn]] void util_assert_fail(const char *file, int line, const char *msg);

// Always-on check that reports through the assertion channel.
#define util_assert(cond, msg)                                    \
  do {                                                            \
    if (!(cond)) util_assert_fail(__FILE__, __LINE__, (msg));     \
  } while (0)

// Internal consistency check that explains itself; compiled out with NDEBUG.
#ifdef NDEBUG
#define kz_debug_assert(cond, msg) ((void)0)
#else
#define kz_debug_assert(cond, msg) util_assert((cond), (msg))
#endif

// Fatal-exit hook. Every fatal exit of the library and of the programs built
// on it (a line on standard output or standard error, then a status) ends in
// util_exit, which calls the hook with the status. The hook is exit, and
// production code never changes it; a test or fuzzing harness may install
// one that unwinds instead (throws or jumps out), so that it can take a
// fatal exit as an outcome and go on. A hook that returns is followed by
// exit all the same.
extern void (*util_exit_hook)(int status);
[[noreturn]] void util_exit(int status);

// Out-of-memory hook of the checked heap. Called with the requested size when
// the standard allocator fails; the wrapper then returns null.
extern void (*MMoutOfMemory)(size_t size);

// Initial hook: flushes standard output, prints
// "\nout of memory allocating %lu bytes\n" on standard error and exits with 1
// (through util_exit).
void MMout_of_memory(size_t size);

// malloc/realloc with the hook above. MMalloc(0) allocates 4 bytes.
// MMrealloc(nullptr, n) behaves as MMalloc(n). MMfree ignores null.
void *MMalloc(size_t size);
void *MMrealloc(void *ptr, size_t size);
void MMfree(void *ptr);

// A copy of the NUL-terminated `s` in an MMalloc block of exactly its length
// plus the terminating byte; freed with MMfree.
char *util_copy_string(const char *s);

#define ALLOC(type, n) ((type *)MMalloc(sizeof(type) * (size_t)(n)))
#define REALLOC(type, p, n) ((type *)MMrealloc((p), sizeof(type) * (size_t)(n)))
#define FREE(p) (MMfree(p), (p) = 0)

#endif
