// Helpers shared by the benchmark workloads on the handle and multi-valued
// layers: a manager with its variables' handles, the peak sampling, the
// counting and the multiplier builder.
#ifndef KZBENCH_KZ_COMMON_H
#define KZBENCH_KZ_COMMON_H

#include <vector>

#include "kz_workloads.h"
#include "peak_rss.h"
#include "kzuBdd/kzuBdd.h"
#include "kzuPort/bdd.h"
#include "mdd/mdd.h"

namespace kzb {

double cpuNow();

// The room the peer starts with (a million node records, 250000-entry caches
// per kind of operation): no collection below a million live nodes and a
// computed table that may grow to about a million entries. Given to every
// manager unless kzb_default_sizing.
constexpr long kRoomNodes = 1000000;
constexpr long kRoomCacheBins = 524269;

// One manager with its variables' handles and the peak sampling.
struct Ctx {
  bdd_manager *mgr;
  bool isMdd;  // made by mdd_init, closed by mdd_quit
  std::vector<bdd_t *> var;
  long peak = 0;

  explicit Ctx(int nvars) : Ctx(bdd_start(nvars), false) {}
  // Takes over a manager made by mdd_init.
  explicit Ctx(mdd_manager *m) : Ctx(m, true) {}
  Ctx(bdd_manager *m, bool mdd) : mgr(m), isMdd(mdd) {
    int nvars = (int)bdd_num_vars(mgr);
    for (int i = 0; i < nvars; i++) var.push_back(bdd_get_variable(mgr, (bdd_variableId)i));
    if (!kzb_default_sizing) bdd_set_sizing(mgr, kRoomNodes, kRoomCacheBins);
    if (kzb_dynamic_sift) bdd_dynamic_reordering(mgr, BDD_REORDER_SIFT, BDD_REORDER_VERBOSITY_DEFAULT);
  }
  ~Ctx() {
    for (bdd_t *v : var) bdd_free(v);
    if (isMdd)
      mdd_quit(mgr);
    else
      bdd_end(mgr);
  }
  Ctx(const Ctx &) = delete;
  Ctx &operator=(const Ctx &) = delete;

  // Records the node count after an operation and passes its result on.
  bdd_t *seen(bdd_t *r) {
    long n = kzu_bdd_total_size((kzu_bdd_manager)mgr);
    if (n > peak) peak = n;
    return r;
  }
  // acc := v, freeing the old value.
  void set(bdd_t **acc, bdd_t *v) {
    bdd_free(*acc);
    *acc = seen(v);
  }
  bdd_t *AND(bdd_t *f, bdd_t *g, int fp = 1, int gp = 1) { return seen(bdd_and(f, g, fp, gp)); }
  bdd_t *OR(bdd_t *f, bdd_t *g, int fp = 1, int gp = 1) { return seen(bdd_or(f, g, fp, gp)); }
  bdd_t *XOR(bdd_t *f, bdd_t *g) { return seen(bdd_xor(f, g)); }
  bdd_t *XNOR(bdd_t *f, bdd_t *g) { return seen(bdd_xnor(f, g)); }
  // acc := acc AND g (g is not consumed).
  void andInto(bdd_t **acc, bdd_t *g, int gp = 1) { set(acc, bdd_and(*acc, g, 1, gp)); }

  array_t *varArray(const std::vector<int> &ids) {
    array_t *a = array_alloc(bdd_t *, (int)ids.size());
    for (int id : ids) array_insert_last(bdd_t *, a, var[(size_t)id]);
    return a;
  }
  // The handle layer's own count over every variable of the manager.
  double countOnset(bdd_t *f) {
    array_t *a = array_alloc(bdd_t *, (int)var.size());
    for (bdd_t *v : var) array_insert_last(bdd_t *, a, v);
    double c = bdd_count_onset(f, a);
    array_free(a);
    return c;
  }
};

// Satisfying assignments of f over the variables `ids` (which must cover
// f's support). Counts both polarities of every node, so that no
// subtraction from a power of two swallows a small count. Not timed.
// The first form counts over a manager of nvars variables of any layer (the
// engine-level workloads count their results through it, untimed).
double countOver(bdd_manager *mgr, int nvars, bdd_t *f, const std::vector<int> &ids);
double countOver(Ctx &ctx, bdd_t *f, const std::vector<int> &ids);
double countAll(Ctx &ctx, bdd_t *f);

// Fills the engine counters of r from the manager's statistics lines and
// the reordering counters; peak is the sampled node count.
void readStats(bdd_manager *mgr, long peak, kzb_result &r);
void readStats(Ctx &ctx, kzb_result &r);

// The middle bit of the n x n bit product, a_j at id a0 + stride*j and b_j
// at b0 + stride*j. Returns a new handle.
bdd_t *buildMultiplier(Ctx &ctx, int n, int a0, int b0, int stride);

}  // namespace kzb

#endif
