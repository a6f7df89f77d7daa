// The multi-valued workload: a synthesis node's step on a line of processes,
// written as a caller of mdd.h and bdd.h writes it.
#include <vector>

#include "kz_common.h"

using namespace kzb;

namespace {

constexpr int kValues = 8;

int plusOne2(int x, int y) { return x == y + 1; }

}  // namespace

kzb_result kzb_line(int n, bool fused) {
  kzb_result r;
  // x_j is mvar 2j, its next-state copy x_j' mvar 2j+1; stride 1, so each
  // takes three consecutive bits (most significant first) and the copy's
  // bits come right after the variable's.
  array_t *values = array_alloc(int, 2 * n);
  for (int i = 0; i < 2 * n; i++) array_insert_last(int, values, kValues);
  Ctx ctx(mdd_init(values, nullptr, nullptr));
  array_free(values);
  mdd_manager *mgr = ctx.mgr;
  array_t *curIds = array_alloc(int, n), *nextIds = array_alloc(int, n);
  for (int j = 0; j < n; j++) {
    array_insert_last(int, curIds, 2 * j);
    array_insert_last(int, nextIds, 2 * j + 1);
  }
  array_t *curBits = mdd_id_array_to_bdd_array(mgr, curIds);
  array_t *nextBits = mdd_id_array_to_bdd_array(mgr, nextIds);

  double t0 = cpuNow();
  // Framing: x_i' = x_i.
  std::vector<mdd_t *> same((size_t)n);
  for (int i = 0; i < n; i++) same[(size_t)i] = ctx.seen(mdd_func2(mgr, 2 * i + 1, 2 * i, eq2));
  mdd_t *T = bdd_zero(mgr);
  for (int j = 0; j < n; j++) {
    mdd_t *guard = ctx.seen(j == 0 ? mdd_func1c(mgr, 0, kValues - 1, lt2) : mdd_func2(mgr, 2 * j, 2 * j - 2, lt2));
    mdd_t *step = ctx.seen(mdd_func2(mgr, 2 * j + 1, 2 * j, plusOne2));
    mdd_t *tj = ctx.AND(guard, step);
    for (int i = 0; i < n; i++)
      if (i != j) ctx.andInto(&tj, same[(size_t)i]);
    ctx.set(&T, ctx.OR(T, tj));
    bdd_free(guard);
    bdd_free(step);
    bdd_free(tj);
  }
  for (mdd_t *g : same) bdd_free(g);

  mdd_t *S = bdd_one(mgr);
  for (int j = 0; j < n; j++) {
    mdd_t *top = ctx.seen(mdd_func1c(mgr, 2 * j, kValues - 1, eq2));
    ctx.andInto(&S, top);
    bdd_free(top);
  }
  long iters = 0;
  for (;;) {
    iters++;
    mdd_t *Sn = ctx.seen(bdd_substitute(S, curBits, nextBits));
    mdd_t *pre;
    if (fused) {
      pre = ctx.seen(bdd_and_smooth(T, Sn, nextBits));
    } else {
      mdd_t *tsn = ctx.AND(T, Sn);
      pre = ctx.seen(mdd_smooth(mgr, tsn, nextIds));
      bdd_free(tsn);
    }
    mdd_t *next = ctx.OR(S, pre);
    bdd_free(Sn);
    bdd_free(pre);
    bool done = bdd_equal(next, S);
    ctx.set(&S, next);
    if (done) break;
  }
  r.seconds = cpuNow() - t0;
  r.timed_kib = kzb_peak_kib();
  readStats(ctx, r);
  r.iterations = iters;
  std::vector<int> curBitIds;
  for (int j = 0; j < n; j++)
    for (int b = 0; b < 3; b++) curBitIds.push_back(6 * j + b);
  r.count = countOver(ctx, S, curBitIds);
  r.onset = mdd_count_onset(mgr, S, curIds);
  r.nodes = bdd_size(S);
  mdd_array_free(curBits);
  mdd_array_free(nextBits);
  array_free(curIds);
  array_free(nextIds);
  bdd_free(S);
  bdd_free(T);
  return r;
}

double kzb_line_bruteforce(int n, long *iterations) {
  // State index: x_j in bits 3j..3j+2.
  long states = 1L << (3 * n);
  auto value = [](long s, int j) { return (int)((s >> (3 * j)) & 7); };
  std::vector<long> dist((size_t)states, -1);
  std::vector<long> frontier = {states - 1};
  dist[(size_t)(states - 1)] = 0;
  long reached = 1, depth = 0;
  while (!frontier.empty()) {
    std::vector<long> next;
    for (long t : frontier)
      // Predecessors s of t: one process j took its step from s to t.
      for (int j = 0; j < n; j++) {
        int v = value(t, j);
        if (v == 0) continue;
        long s = t - (1L << (3 * j));
        bool enabled = j == 0 ? v - 1 < kValues - 1 : v - 1 < value(s, j - 1);
        if (enabled && dist[(size_t)s] < 0) {
          dist[(size_t)s] = depth + 1;
          next.push_back(s);
          reached++;
        }
      }
    if (!next.empty()) depth++;
    frontier.swap(next);
  }
  *iterations = depth + 1;
  return (double)reached;
}
