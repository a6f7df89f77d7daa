// A differential target for the library: a byte-coded sequence of operations
// on eight registers over eight Boolean variables (four mvars of four
// values, two bits each): ITE and the connectives with phases,
// quantification, substitution, cofactors, composition, the multi-valued
// operations, forced collections and reordering. Every result is compared
// with a truth-table oracle; after a collection or a reordering every
// register is compared again.
#include <algorithm>
#include <vector>

#include "fuzz_support.h"
#include "kzuBdd/kzuBdd.h"
#include "support/truth_table.h"

namespace {

const int kVars = 8;
const int kMvars = 4;
const int kRegs = 8;

struct Machine {
  mdd_manager *mgr;
  bdd_t *reg[kRegs];
  TruthTable tt[kRegs];
  int step = 0;

  explicit Machine(mdd_manager *m) : mgr(m) {
    for (int i = 0; i < kRegs; i++) {
      reg[i] = bdd_get_variable(mgr, (bdd_variableId)i);
      tt[i] = TruthTable::var(kVars, i);
    }
  }
  ~Machine() {
    for (bdd_t *h : reg) bdd_free(h);
  }

  void check(int r, const char *op) {
    TruthTable got = tt_of_handle(reg[r], kVars);
    if (got != tt[r])
      fuzz::finding(std::string(op) + " differs from the oracle at step " + std::to_string(step),
                    "got      " + got.str() + "\nexpected " + tt[r].str());
  }
  void put(int r, bdd_t *h, const TruthTable &t, const char *op) {
    if (h == nullptr) fuzz::finding(std::string(op) + " returned null");
    bdd_free(reg[r]);
    reg[r] = h;
    tt[r] = t;
    check(r, op);
  }
  void checkAll(const char *op) {
    for (int r = 0; r < kRegs; r++) check(r, op);
  }
};

// Value of mvar k under assignment a: its first bit is the high one.
int mvarValue(uint32_t a, int k) { return (int)(((a >> (2 * k)) & 1) << 1 | ((a >> (2 * k + 1)) & 1)); }

typedef int (*Relation)(int, int);
const Relation kRelations[] = {eq2, neq2, geq2, gt2, leq2, lt2};

template <class Pred>
TruthTable tabulate(Pred pred) {
  TruthTable t(kVars);
  for (uint32_t a = 0; a < t.size(); a++) t.set(a, pred(a));
  return t;
}

// The handles of the variables in `mask` (at least one), owned by the caller.
array_t *varArray(mdd_manager *mgr, uint8_t mask, std::vector<int> *ids) {
  if (mask == 0) mask = 1;
  array_t *a = array_alloc(bdd_t *, 0);
  for (int i = 0; i < kVars; i++) {
    if (mask >> i & 1) {
      array_insert_last(bdd_t *, a, bdd_get_variable(mgr, (bdd_variableId)i));
      ids->push_back(i);
    }
  }
  return a;
}

void freeVarArray(array_t *a) {
  for (int i = 0; i < array_n(a); i++) bdd_free(array_fetch(bdd_t *, a, i));
  array_free(a);
}

TruthTable quantified(TruthTable t, const std::vector<int> &ids, bool universal) {
  for (int i : ids) t = universal ? t.forall(i) : t.exists(i);
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::setUp();
  fuzz::Input in(data, size);
  array_t *values = array_alloc(int, 0);
  for (int k = 0; k < kMvars; k++) array_insert_last(int, values, 4);
  mdd_manager *mgr = mdd_init(values, nullptr, nullptr);
  array_free(values);
  // Inputs of odd length run with room given, through the sizing call's
  // paths (records, bucket chunks and cache pages made at once, growth by use).
  if (size % 2 == 1) bdd_set_sizing(mgr, 20000, 16369);
  kzu_bdd_manager engine = (kzu_bdd_manager)mgr;
  {
    Machine m(mgr);
    for (m.step = 0; in.left() > 0 && m.step < 64; m.step++) {
      uint8_t op = in.byte() % 22;
      int d = in.byte() % kRegs, a = in.byte() % kRegs, b = in.byte() % kRegs;
      uint8_t x = in.byte();
      bdd_t *A = m.reg[a], *B = m.reg[b];
      const TruthTable &ta = m.tt[a], &tb = m.tt[b];
      bool pa = x & 1, pb = x & 2, pc = x & 4;
      TruthTable fa = pa ? ta : ~ta, fb = pb ? tb : ~tb;
      switch (op) {
        case 0:
          m.put(d, bdd_get_variable(mgr, (bdd_variableId)(x % kVars)), TruthTable::var(kVars, x % kVars), "variable");
          break;
        case 1: m.put(d, bdd_not(A), ~ta, "not"); break;
        case 2: m.put(d, bdd_and(A, B, pa, pb), fa & fb, "and"); break;
        case 3: m.put(d, bdd_or(A, B, pa, pb), fa | fb, "or"); break;
        case 4: m.put(d, bdd_xor(A, B), ta ^ tb, "xor"); break;
        case 5: m.put(d, bdd_xnor(A, B), ~(ta ^ tb), "xnor"); break;
        case 6: {
          int c = in.byte() % kRegs;
          TruthTable tc = pc ? m.tt[c] : ~m.tt[c];
          m.put(d, bdd_ite(A, B, m.reg[c], pa, pb, pc), tt_ite(fa, fb, tc), "ite");
          break;
        }
        case 7:
        case 8: {
          std::vector<int> ids;
          array_t *vars = varArray(mgr, x, &ids);
          bdd_t *r = op == 7 ? bdd_smooth(A, vars) : bdd_consensus(A, vars);
          freeVarArray(vars);
          m.put(d, r, quantified(ta, ids, op == 8), op == 7 ? "smooth" : "consensus");
          break;
        }
        case 9: {
          std::vector<int> ids;
          array_t *vars = varArray(mgr, x, &ids);
          bdd_t *r = bdd_and_smooth(A, B, vars);
          freeVarArray(vars);
          m.put(d, r, quantified(ta & tb, ids, false), "and_smooth");
          break;
        }
        case 10: {
          // A rotation of the variables in the mask, all replaced at once.
          std::vector<int> ids;
          array_t *from = varArray(mgr, x, &ids);
          array_t *to = array_alloc(bdd_t *, 0);
          for (size_t i = 0; i < ids.size(); i++)
            array_insert_last(bdd_t *, to, bdd_get_variable(mgr, (bdd_variableId)ids[(i + 1) % ids.size()]));
          bdd_t *r = bdd_substitute(A, from, to);
          freeVarArray(from);
          freeVarArray(to);
          TruthTable t = tabulate([&](uint32_t v) {
            uint32_t y = v;
            for (size_t i = 0; i < ids.size(); i++) {
              int src = ids[(i + 1) % ids.size()];
              y = (y & ~(1u << ids[i])) | (((v >> src) & 1u) << ids[i]);
            }
            return ta.get(y);
          });
          m.put(d, r, t, "substitute");
          break;
        }
        case 11: {
          // Cofactor by a cube: the restriction to the cube's assignment.
          uint8_t phase = in.byte();
          bdd_t *cube = bdd_one(mgr);
          TruthTable t = ta;
          for (int i = 0; i < kVars; i++) {
            if (!(x >> i & 1)) continue;
            bdd_t *v = bdd_get_variable(mgr, (bdd_variableId)i);
            bdd_t *c = bdd_and(cube, v, 1, (phase >> i) & 1);
            bdd_free(v);
            bdd_free(cube);
            cube = c;
            t = t.cofactor(i, (phase >> i) & 1);
          }
          bdd_t *r = bdd_cofactor(A, cube);
          bdd_free(cube);
          m.put(d, r, t, "cofactor");
          break;
        }
        case 12: {
          bdd_t *v = bdd_get_variable(mgr, (bdd_variableId)(x % kVars));
          bdd_t *r = bdd_compose(A, v, B);
          bdd_free(v);
          m.put(d, r, ta.compose(x % kVars, tb), "compose");
          break;
        }
        case 13: {
          int k = x % kMvars, c = (x >> 2) % 6, rel = in.byte() % 6;
          TruthTable t = tabulate([&](uint32_t v) { return kRelations[rel](mvarValue(v, k), c) != 0; });
          m.put(d, mdd_func1c(mgr, k, c, kRelations[rel]), t, "mdd_func1c");
          break;
        }
        case 14: {
          int k1 = x % kMvars, k2 = (x >> 2) % kMvars, rel = (x >> 4) % 6;
          if (k1 == k2) break;
          TruthTable t = tabulate([&](uint32_t v) { return kRelations[rel](mvarValue(v, k1), mvarValue(v, k2)) != 0; });
          m.put(d, mdd_func2(mgr, k1, k2, kRelations[rel]), t, "mdd_func2");
          break;
        }
        case 15: {
          array_t *ids = array_alloc(int, 0);
          std::vector<int> bits;
          for (int k = 0; k < kMvars; k++) {
            if (x >> k & 1) {
              array_insert_last(int, ids, k);
              bits.push_back(2 * k);
              bits.push_back(2 * k + 1);
            }
          }
          bdd_t *r = mdd_smooth(mgr, A, ids);
          array_free(ids);
          m.put(d, r, quantified(ta, bits, false), "mdd_smooth");
          break;
        }
        case 16: {
          // Values 0..5: those beyond the domain add nothing.
          int k = x % kMvars;
          uint8_t chosen = in.byte();
          array_t *vals = array_alloc(int, 0);
          for (int v = 0; v < 6; v++)
            if (chosen >> v & 1) array_insert_last(int, vals, v);
          TruthTable t = tabulate([&](uint32_t v) { return (chosen >> mvarValue(v, k)) & 1; });
          m.put(d, mdd_literal(mgr, k, vals), t, "mdd_literal");
          array_free(vals);
          break;
        }
        case 17: {
          bdd_t *zero = bdd_zero(mgr);
          m.put(d, zero, TruthTable(kVars, false), "zero");
          kzu_bdd_gc(engine);
          m.checkAll("a collection");
          break;
        }
        case 18:
          kzu_bdd_dynamic_reordering(engine, x & 1 ? kzu_bdd_reorder_sift : kzu_bdd_reorder_stable_window3);
          kzu_bdd_reorder(engine);
          kzu_bdd_dynamic_reordering(engine, nullptr);
          m.checkAll("a reordering");
          break;
        case 19: {
          if (bdd_equal(A, B) != (ta == tb)) fuzz::finding("bdd_equal differs from the oracle");
          if (bdd_leq(A, B, pa, pb) != ((fa & ~fb).is_const(false))) fuzz::finding("bdd_leq differs from the oracle");
          if (bdd_intersects(A, B) != !(ta & tb).is_const(false)) fuzz::finding("bdd_intersects differs");
          array_t *all = array_alloc(bdd_t *, 0);
          for (int i = 0; i < kVars; i++) array_insert_last(bdd_t *, all, bdd_get_variable(mgr, (bdd_variableId)i));
          double count = bdd_count_onset(A, all);
          freeVarArray(all);
          if (count != (double)ta.count()) fuzz::finding("bdd_count_onset differs from the oracle");
          break;
        }
        case 20: {
          // Every minterm over the four mvars, each once, and nothing else.
          TruthTable seen(kVars);
          fuzz::forEachMinterm(A, kMvars, [&](const std::vector<int> &values) {
            uint32_t v = 0;
            for (int k = 0; k < kMvars; k++)
              v |= (uint32_t)((values[(size_t)k] >> 1) & 1) << (2 * k) | (uint32_t)(values[(size_t)k] & 1) << (2 * k + 1);
            if (seen.get(v)) fuzz::finding("a minterm came twice");
            seen.set(v, true);
          });
          if (seen != ta) fuzz::finding("the minterms differ from the oracle");
          break;
        }
        default: {
          // minimize(f, c) agrees with f on c; between(f & g, f | g) lies
          // between them.
          if (x & 1) {
            if ((tb).is_const(false)) break;
            bdd_t *r = bdd_minimize(A, B);
            TruthTable t = tt_of_handle(r, kVars);
            if ((t & tb) != (ta & tb)) fuzz::finding("bdd_minimize leaves the care set");
            bdd_free(r);
          } else {
            bdd_t *lo = bdd_and(A, B, 1, 1), *hi = bdd_or(A, B, 1, 1);
            bdd_t *r = bdd_between(lo, hi);
            TruthTable t = tt_of_handle(r, kVars);
            if (!(((ta & tb) & ~t).is_const(false)) || !((t & ~(ta | tb)).is_const(false)))
              fuzz::finding("bdd_between leaves its bounds");
            bdd_free(lo);
            bdd_free(hi);
            bdd_free(r);
          }
          break;
        }
      }
    }
  }
  mdd_quit(mgr);
  return 0;
}
