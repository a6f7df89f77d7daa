// The benchmark workloads on the handle layer. Every intermediate handle is
// freed as soon as it is replaced, as a careful caller would; after each
// operation the engine's node count is sampled for the peak.
#include "kz_workloads.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unordered_map>
#include <vector>

#include "kz_common.h"

bool kzb_dynamic_sift = false;
bool kzb_default_sizing = false;

namespace kzb {

namespace {

long statValue(const char *text, const char *key) {
  const char *p = strstr(text, key);
  return p != nullptr ? atol(p + strlen(key)) : 0;
}

// Counts of the on-set and the off-set of a function over the counted
// variables at or below its top level.
struct OnOff {
  double on, off;
};

struct Counter {
  bdd_manager *mgr;
  int nvars;
  std::vector<int> fromLevel;  // counted variables at levels >= l
  std::unordered_map<bdd_node *, OnOff> memo;  // per regular node

  int level(bdd_t *g) {
    return bdd_is_tautology(g, 1) || bdd_is_tautology(g, 0) ? nvars : (int)bdd_top_var_level(mgr, g);
  }
  // Counted variables strictly between level a and level b (a < b).
  int between(int a, int b) { return fromLevel[(size_t)a + 1] - fromLevel[(size_t)b]; }

  OnOff visit(bdd_t *g) {
    if (bdd_is_tautology(g, 1)) return {1, 0};
    if (bdd_is_tautology(g, 0)) return {0, 1};
    boolean c = 0;
    bdd_node *n = bdd_get_node(g, &c);
    auto it = memo.find(n);
    OnOff r;
    if (it != memo.end()) {
      r = c ? OnOff{it->second.off, it->second.on} : it->second;
    } else {
      int l = level(g);
      bdd_t *t = bdd_then(g), *e = bdd_else(g);
      OnOff a = visit(t), b = visit(e);
      double wt = std::ldexp(1.0, between(l, level(t))), we = std::ldexp(1.0, between(l, level(e)));
      r = {a.on * wt + b.on * we, a.off * wt + b.off * we};
      bdd_free(t);
      bdd_free(e);
      memo[n] = c ? OnOff{r.off, r.on} : r;
    }
    return r;
  }
};

}  // namespace

double countOver(bdd_manager *mgr, int nvars, bdd_t *f, const std::vector<int> &ids) {
  Counter k;
  k.mgr = mgr;
  k.nvars = nvars;
  k.fromLevel.assign((size_t)k.nvars + 2, 0);
  std::vector<char> counted((size_t)k.nvars, 0);
  for (int id : ids) counted[(size_t)id] = 1;
  for (int l = k.nvars - 1; l >= 0; l--)
    k.fromLevel[(size_t)l] = k.fromLevel[(size_t)l + 1] + counted[bdd_get_id_from_level(mgr, l)];
  return k.visit(f).on * std::ldexp(1.0, k.fromLevel[0] - k.fromLevel[(size_t)k.level(f)]);
}

double countOver(Ctx &ctx, bdd_t *f, const std::vector<int> &ids) {
  return countOver(ctx.mgr, (int)ctx.var.size(), f, ids);
}

double countAll(Ctx &ctx, bdd_t *f) {
  std::vector<int> ids;
  for (int i = 0; i < (int)ctx.var.size(); i++) ids.push_back(i);
  return countOver(ctx, f, ids);
}

double cpuNow() {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

void readStats(bdd_manager *mgr, long peak, kzb_result &r) {
  r.peak_nodes = peak;
  r.reorderings = kzu_bdd_reorderings((kzu_bdd_manager)mgr);
  r.reorder_seconds = kzu_bdd_reorder_seconds((kzu_bdd_manager)mgr);
  char *buf = nullptr;
  size_t len = 0;
  FILE *fp = open_memstream(&buf, &len);
  if (fp == nullptr) return;
  bdd_print_stats(mgr, fp);
  fclose(fp);
  r.cache_lookups = statValue(buf, "Cache look ups: ");
  r.cache_hits = statValue(buf, "Cache hits: ");
  r.gcs = statValue(buf, "Number of garbage collections: ");
  r.finds = statValue(buf, "Number of find operations: ");
  free(buf);
}

void readStats(Ctx &ctx, kzb_result &r) { readStats(ctx.mgr, ctx.peak, r); }

bdd_t *buildMultiplier(Ctx &ctx, int n, int a0, int b0, int stride) {
  auto A = [&](int j) { return ctx.var[(size_t)(a0 + stride * j)]; };
  auto B = [&](int j) { return ctx.var[(size_t)(b0 + stride * j)]; };
  std::vector<bdd_t *> s((size_t)n);
  for (int k = 0; k < n; k++) s[(size_t)k] = ctx.AND(A(k), B(0));
  for (int i = 1; i < n; i++) {
    bdd_t *c = bdd_zero(ctx.mgr);
    for (int k = i; k < n; k++) {
      bdd_t *p = ctx.AND(A(k - i), B(i));
      bdd_t *x = ctx.XOR(s[(size_t)k], p);
      bdd_t *sum = ctx.XOR(x, c);
      if (k < n - 1) {
        bdd_t *t1 = ctx.AND(s[(size_t)k], p);
        bdd_t *t2 = ctx.AND(c, x);
        ctx.set(&c, ctx.OR(t1, t2));
        bdd_free(t1);
        bdd_free(t2);
      }
      bdd_free(p);
      bdd_free(x);
      ctx.set(&s[(size_t)k], sum);
    }
    bdd_free(c);
  }
  for (int k = 0; k < n - 1; k++) bdd_free(s[(size_t)k]);
  return s[(size_t)(n - 1)];
}

}  // namespace kzb

using namespace kzb;

kzb_result kzb_queens(int n) {
  kzb_result r;
  Ctx ctx(n * n);
  auto X = [&](int i, int j) { return ctx.var[(size_t)(i * n + j)]; };
  double t0 = cpuNow();
  bdd_t *q = bdd_one(ctx.mgr);
  for (int i = 0; i < n; i++) {
    bdd_t *e = bdd_zero(ctx.mgr);
    for (int j = 0; j < n; j++) ctx.set(&e, bdd_or(e, X(i, j), 1, 1));
    ctx.andInto(&q, e);
    bdd_free(e);
  }
  // acc := acc AND (not x(i,j) or not x(r,c)).
  auto clause = [&](bdd_t **acc, int i, int j, int row, int col) {
    bdd_t *cl = ctx.OR(X(i, j), X(row, col), 0, 0);
    ctx.andInto(acc, cl);
    bdd_free(cl);
  };
  for (int i = 0; i < n; i++) {
    for (int j = 0; j < n; j++) {
      bdd_t *a = bdd_one(ctx.mgr), *b = bdd_one(ctx.mgr), *c = bdd_one(ctx.mgr), *d = bdd_one(ctx.mgr);
      for (int k = 0; k < n; k++)
        if (k != j) clause(&a, i, j, i, k);
      for (int k = 0; k < n; k++)
        if (k != i) clause(&b, i, j, k, j);
      for (int k = 0; k < n; k++) {
        int col = k - i + j;
        if (k != i && col >= 0 && col < n) clause(&c, i, j, k, col);
      }
      for (int k = 0; k < n; k++) {
        int col = i + j - k;
        if (k != i && col >= 0 && col < n) clause(&d, i, j, k, col);
      }
      bdd_t *ab = ctx.AND(a, b);
      bdd_t *abc = ctx.AND(ab, c);
      bdd_t *abcd = ctx.AND(abc, d);
      ctx.andInto(&q, abcd);
      bdd_free(a);
      bdd_free(b);
      bdd_free(c);
      bdd_free(d);
      bdd_free(ab);
      bdd_free(abc);
      bdd_free(abcd);
    }
  }
  r.seconds = cpuNow() - t0;
  r.timed_kib = kzb_peak_kib();
  readStats(ctx, r);
  r.count = countAll(ctx, q);
  r.onset = ctx.countOnset(q);
  r.nodes = bdd_size(q);
  bdd_free(q);
  return r;
}

kzb_result kzb_multiplier(int n) {
  kzb_result r;
  Ctx ctx(2 * n);
  double t0 = cpuNow();
  bdd_t *out = buildMultiplier(ctx, n, 0, 1, 2);
  r.seconds = cpuNow() - t0;
  r.timed_kib = kzb_peak_kib();
  readStats(ctx, r);
  r.count = countAll(ctx, out);
  r.onset = ctx.countOnset(out);
  r.nodes = bdd_size(out);
  bdd_free(out);
  return r;
}

double kzb_multiplier_bruteforce(int n) {
  double count = 0;
  unsigned long lim = 1UL << n;
  for (unsigned long a = 0; a < lim; a++)
    for (unsigned long b = 0; b < lim; b++) count += (double)(((a * b) >> (n - 1)) & 1UL);
  return count;
}

kzb_result kzb_milner(int n, bool fused) {
  kzb_result r;
  Ctx ctx(6 * n);
  auto c = [&](int i) { return ctx.var[(size_t)(6 * i)]; };
  auto cp = [&](int i) { return ctx.var[(size_t)(6 * i + 1)]; };
  auto t = [&](int i) { return ctx.var[(size_t)(6 * i + 2)]; };
  auto tp = [&](int i) { return ctx.var[(size_t)(6 * i + 3)]; };
  auto h = [&](int i) { return ctx.var[(size_t)(6 * i + 4)]; };
  auto hp = [&](int i) { return ctx.var[(size_t)(6 * i + 5)]; };
  // Conjunction, ascending, of (x_j <-> x'_j) for j != z; base selects the
  // family (0 = c, 2 = t, 4 = h); z = -1 excludes nothing.
  auto eq = [&](int base, int z) {
    bdd_t *acc = bdd_one(ctx.mgr);
    for (int j = 0; j < n; j++) {
      if (j == z) continue;
      bdd_t *e = ctx.XNOR(ctx.var[(size_t)(6 * j + base)], ctx.var[(size_t)(6 * j + base + 1)]);
      ctx.andInto(&acc, e);
      bdd_free(e);
    }
    return acc;
  };

  double t0 = cpuNow();
  bdd_t *eqcAll = eq(0, -1), *eqtAll = eq(2, -1), *eqhAll = eq(4, -1);
  bdd_t *T = bdd_zero(ctx.mgr);
  for (int i = 0; i < n; i++) {
    int i1 = (i + 1) % n;
    bdd_t *eqc = eq(0, i), *eqt = eq(2, i), *eqh = eq(4, i), *eqc1 = eq(0, i1);
    bdd_t *a1 = ctx.AND(c(i), cp(i), 1, 0);
    bdd_t *a2 = ctx.AND(tp(i), t(i), 1, 0);
    bdd_t *p1 = ctx.AND(a1, a2);
    ctx.andInto(&p1, hp(i));
    ctx.andInto(&p1, eqc);
    ctx.andInto(&p1, eqt);
    ctx.andInto(&p1, eqh);
    bdd_t *p2 = ctx.AND(h(i), hp(i), 1, 0);
    ctx.andInto(&p2, cp(i1));
    ctx.andInto(&p2, eqc1);
    ctx.andInto(&p2, eqh);
    ctx.andInto(&p2, eqtAll);
    bdd_t *e = ctx.AND(t(i), tp(i), 1, 0);
    ctx.andInto(&e, eqt);
    ctx.andInto(&e, eqhAll);
    ctx.andInto(&e, eqcAll);
    bdd_t *tr = ctx.OR(p1, p2);
    ctx.set(&tr, ctx.OR(tr, e));
    ctx.set(&T, ctx.OR(T, tr));
    for (bdd_t *g : {eqc, eqt, eqh, eqc1, a1, a2, p1, p2, e, tr}) bdd_free(g);
  }
  bdd_free(eqcAll);
  bdd_free(eqtAll);
  bdd_free(eqhAll);

  bdd_t *I = bdd_dup(c(0));
  for (int i = 0; i < n; i++) {
    bdd_t *ht = ctx.AND(h(i), t(i), 0, 0);
    ctx.andInto(&I, ht);
    bdd_free(ht);
  }
  for (int i = 1; i < n; i++) ctx.andInto(&I, c(i), 0);

  std::vector<int> cur, nxt;
  for (int i = 0; i < n; i++)
    for (int k = 0; k < 6; k += 2) {
      cur.push_back(6 * i + k);
      nxt.push_back(6 * i + k + 1);
    }
  array_t *X = ctx.varArray(cur), *Xp = ctx.varArray(nxt);

  bdd_t *R = bdd_dup(I);
  long iters = 0;
  for (;;) {
    iters++;
    bdd_t *img;
    if (fused) {
      img = ctx.seen(bdd_and_smooth(R, T, X));
    } else {
      bdd_t *rt = ctx.AND(R, T);
      img = ctx.seen(bdd_smooth(rt, X));
      bdd_free(rt);
    }
    bdd_t *ren = ctx.seen(bdd_substitute(img, Xp, X));
    bdd_t *next = ctx.OR(R, ren);
    bdd_free(img);
    bdd_free(ren);
    bool same = bdd_equal(next, R);
    ctx.set(&R, next);
    if (same) break;
  }
  r.seconds = cpuNow() - t0;
  r.timed_kib = kzb_peak_kib();
  readStats(ctx, r);
  r.iterations = iters;
  r.count = countOver(ctx, R, cur);
  r.onset = bdd_count_onset(R, X);
  r.nodes = bdd_size(R);
  array_free(X);
  array_free(Xp);
  bdd_free(R);
  bdd_free(I);
  bdd_free(T);
  return r;
}

