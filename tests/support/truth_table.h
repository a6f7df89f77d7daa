// Truth tables as an exact oracle for Boolean functions of up to 16
// variables. Bit a of a table is the function's value under assignment a,
// where bit i of a is the value of variable i (handle-layer id i, engine id
// i + 1).
#ifndef KZ_TESTS_TRUTH_TABLE_H
#define KZ_TESTS_TRUTH_TABLE_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kzuBdd/kzuBdd.h"
#include "kzuPort/bdd.h"

struct TruthTable {
  int nvars = 0;
  std::vector<uint64_t> w;

  explicit TruthTable(int n = 0, bool value = false);
  static TruthTable var(int n, int i);

  uint32_t size() const { return 1u << nvars; }
  bool get(uint32_t a) const { return (w[a >> 6] >> (a & 63)) & 1; }
  void set(uint32_t a, bool v);
  long count() const;
  bool is_const(bool v) const { return *this == TruthTable(nvars, v); }

  TruthTable operator~() const;
  TruthTable operator&(const TruthTable &o) const;
  TruthTable operator|(const TruthTable &o) const;
  TruthTable operator^(const TruthTable &o) const;
  bool operator==(const TruthTable &o) const { return nvars == o.nvars && w == o.w; }
  bool operator!=(const TruthTable &o) const { return !(*this == o); }

  // The function with variable i fixed to v (still over nvars variables).
  TruthTable cofactor(int i, bool v) const;
  TruthTable exists(int i) const { return cofactor(i, false) | cofactor(i, true); }
  TruthTable forall(int i) const { return cofactor(i, false) & cofactor(i, true); }
  // Variable i replaced by the function g.
  TruthTable compose(int i, const TruthTable &g) const;
  bool depends_on(int i) const { return cofactor(i, false) != cofactor(i, true); }
  std::string str() const;

 private:
  void mask();
};

TruthTable tt_ite(const TruthTable &f, const TruthTable &g, const TruthTable &h);

// Truth table of an engine edge whose variables have ids 1..n.
TruthTable tt_of_edge(kzu_bdd_manager m, bdd f, int n);
// Truth table of a handle whose variables have handle-layer ids 0..n-1.
TruthTable tt_of_handle(bdd_t *f, int n);

#endif
