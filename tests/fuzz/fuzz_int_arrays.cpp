// The integer-array readers: arbitrary arrays, counts and record lengths to
// Util::UnSerializeMDD and Util::getPrimedUnSerializedMDD. The result is
// checked state by state against the union of the complete records, and a
// fatal exit must come exactly when an id outside the manager's mvars is
// met.
#include <array>
#include <set>
#include <vector>

#include "Util.h"
#include "fuzz_support.h"

namespace {

const int kMvars = 6;  // x1, x1p, x2, x2p, x3, x3p over 0..3

// A state gives every mvar a value: 2 bits each, mvar k at bits 2k, 2k+1.
int valueIn(int state, int mvar) { return (state >> (2 * mvar)) & 3; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::setUp();
  fuzz::Input in(data, size);
  uint8_t head = in.byte();
  bool primed = head & 1;
  int n = (int8_t)in.byte();
  std::vector<int> ints;
  while (in.left() >= 1 && ints.size() < 512) {
    // Small numbers are likelier than arbitrary 32-bit ones: a byte below
    // 0xf0 is a value in -8..231, otherwise the next four bytes are one.
    uint8_t b = in.byte();
    ints.push_back(b < 0xf0 ? (int)b - 8 : (int)in.u32());
  }
  int count = (int)ints.size();
  if (head & 2) count -= (head >> 2) % (count + 1);  // a count short of the array
  int shift = primed ? 1 : 0;

  // What the readers must do: stop at the first pair whose (shifted) id is
  // no mvar, else the union of the complete records of n pairs.
  bool fatal = false;
  for (int j = 0; j < count && !fatal; j += 2) {
    long long id = (long long)ints[(size_t)j] + shift;
    fatal = id < 0 || id >= kMvars;
  }
  std::vector<char> expected(1 << (2 * kMvars), 0);
  if (!fatal && n > 0) {
    // Each complete record fixes some mvars (kFree: not fixed; kNone: no
    // state meets it).
    const int kFree = -1, kNone = -2;
    std::set<std::array<int, kMvars>> records;
    for (int r = 0; (long long)(r + 1) * 2 * n <= count; r++) {
      std::array<int, kMvars> fixed;
      fixed.fill(kFree);
      for (int k = 0; k < n; k++) {
        int id = ints[(size_t)(2 * (r * n + k))] + shift;
        int value = ints[(size_t)(2 * (r * n + k) + 1)];
        int &f = fixed[(size_t)id];
        if (value < 0 || value > 3)
          f = kNone;
        else if (f == kFree)
          f = value;
        else if (f != value)
          f = kNone;
      }
      records.insert(fixed);
    }
    for (const auto &fixed : records) {
      for (int s = 0; s < (int)expected.size(); s++) {
        bool meets = true;
        for (int k = 0; k < kMvars && meets; k++) meets = fixed[(size_t)k] == kFree || fixed[(size_t)k] == valueIn(s, k);
        if (meets) expected[(size_t)s] = 1;
      }
    }
  }

  fuzz::Model model;
  // The reader gets exactly `count` ints, so any read beyond is caught.
  std::vector<int> array(ints.begin(), ints.begin() + count);
  bdd_t *f = nullptr;
  int status = 0;
  bool exited = fuzz::exitsFatally(
      [&] {
        f = primed ? Util::getPrimedUnSerializedMDD(model.mgr, array.data(), count, n)
                   : Util::UnSerializeMDD(model.mgr, array.data(), count, n);
      },
      &status);
  if (exited != fatal) fuzz::finding(fatal ? "an illegal id was accepted" : "a legal array ended the process");
  if (exited) {
    if (status != 1) fuzz::finding("an illegal id ends with a status other than 1");
    return 0;
  }
  // Compare state by state: the result's minterms over all six mvars.
  std::vector<char> got(expected.size(), 0);
  fuzz::forEachMinterm(f, kMvars, [&](const std::vector<int> &values) {
    int s = 0;
    for (int k = 0; k < kMvars; k++) s |= values[(size_t)k] << (2 * k);
    got[(size_t)s] = 1;
  });
  bdd_free(f);
  if (got != expected) fuzz::finding("the rebuilt set differs from the union of the records");
  return 0;
}
