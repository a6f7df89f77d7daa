#include "support/truth_table.h"

#include <map>
#include <stdexcept>

#include "kzuBdd/kzuBddInt.h"

TruthTable::TruthTable(int n, bool value) : nvars(n), w(n > 6 ? (1u << (n - 6)) : 1, value ? ~0ull : 0ull) {
  mask();
}

void TruthTable::mask() {
  if (nvars < 6) w[0] &= (1ull << (1u << nvars)) - 1;
}

TruthTable TruthTable::var(int n, int i) {
  TruthTable t(n);
  for (uint32_t a = 0; a < t.size(); a++) t.set(a, (a >> i) & 1);
  return t;
}

void TruthTable::set(uint32_t a, bool v) {
  if (v)
    w[a >> 6] |= 1ull << (a & 63);
  else
    w[a >> 6] &= ~(1ull << (a & 63));
}

long TruthTable::count() const {
  long c = 0;
  for (uint64_t x : w) c += __builtin_popcountll(x);
  return c;
}

TruthTable TruthTable::operator~() const {
  TruthTable t = *this;
  for (auto &x : t.w) x = ~x;
  t.mask();
  return t;
}

TruthTable TruthTable::operator&(const TruthTable &o) const {
  TruthTable t = *this;
  for (size_t k = 0; k < w.size(); k++) t.w[k] &= o.w[k];
  return t;
}

TruthTable TruthTable::operator|(const TruthTable &o) const {
  TruthTable t = *this;
  for (size_t k = 0; k < w.size(); k++) t.w[k] |= o.w[k];
  return t;
}

TruthTable TruthTable::operator^(const TruthTable &o) const {
  TruthTable t = *this;
  for (size_t k = 0; k < w.size(); k++) t.w[k] ^= o.w[k];
  return t;
}

TruthTable TruthTable::cofactor(int i, bool v) const {
  TruthTable t(nvars);
  for (uint32_t a = 0; a < size(); a++) t.set(a, get(v ? (a | (1u << i)) : (a & ~(1u << i))));
  return t;
}

TruthTable TruthTable::compose(int i, const TruthTable &g) const {
  return tt_ite(g, cofactor(i, true), cofactor(i, false));
}

std::string TruthTable::str() const {
  std::string s;
  for (uint32_t a = 0; a < size(); a++) s += get(a) ? '1' : '0';
  return s;
}

TruthTable tt_ite(const TruthTable &f, const TruthTable &g, const TruthTable &h) { return (f & g) | (~f & h); }

static TruthTable tt_of_node(kzu_bdd_manager m, bdd f, int n, std::map<bdd, TruthTable> &memo) {
  auto it = memo.find(f);
  if (it != memo.end()) return it->second;
  TruthTable r(n);
  if (f == kzu_bdd_one(m)) {
    r = TruthTable(n, true);
  } else if (f == kzu_bdd_zero(m)) {
    r = TruthTable(n, false);
  } else {
    long id = bdd_regular(f)->indexindex;
    if (id < 1 || id > n) throw std::runtime_error("variable outside the truth table");
    r = tt_ite(TruthTable::var(n, (int)id - 1), tt_of_node(m, bdd_then_of(f), n, memo),
               tt_of_node(m, bdd_else_of(f), n, memo));
  }
  memo.emplace(f, r);
  return r;
}

TruthTable tt_of_edge(kzu_bdd_manager m, bdd f, int n) {
  std::map<bdd, TruthTable> memo;
  return tt_of_node(m, f, n, memo);
}

TruthTable tt_of_handle(bdd_t *f, int n) { return tt_of_edge((kzu_bdd_manager)bdd_get_manager(f), f->node, n); }
