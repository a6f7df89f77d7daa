// Helpers for death tests that check what the process printed on standard
// output: the death test captures standard error only.
#ifndef KELVAX_TESTS_OUTPUT_H
#define KELVAX_TESTS_OUTPUT_H

#include <string>

namespace output_test {

// A pattern matching exactly one line, `line` and its line end, and nothing
// else.
std::string onlyLine(const std::string &line);
// Sends standard output, unbuffered, to standard error, so that the death
// test sees both streams in the order they were written.
void stdoutToStderr();

}  // namespace output_test

// Tests that limit the address space skip under AddressSanitizer, whose
// runtime cannot live with the limit.
#if defined(__SANITIZE_ADDRESS__)
#define KZ_UNDER_ASAN 1
#else
#define KZ_UNDER_ASAN 0
#endif

// Death-test statement whose standard output is checked.
#define STDOUT_TO_STDERR(stmt)     \
  {                                \
    output_test::stdoutToStderr(); \
    stmt;                          \
  }

#endif
