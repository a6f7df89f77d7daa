// The benchmark workloads written directly against the engine (kzuBdd.h):
// the operations of kz_workloads.cpp in the same order, on edges instead of
// handles. An engine caller keeps the negated variables it needs (the handle
// layer flips a phase in place), builds its variable lists for the
// associations once and selects the temporary association before each
// quantification or renaming. The checks after the timed part count through
// the handle layer's functions, which work on any engine manager.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kz_common.h"

using namespace kzb;

namespace {

// One engine manager with its variables' projection edges (permanent), their
// negations and the peak sampling.
struct ECtx {
  kzu_bdd_manager m;
  std::vector<bdd> var, nvar;
  long peak = 0;

  explicit ECtx(int nvars) : m(kzu_bdd_init()) {
    for (int i = 0; i < nvars; i++) var.push_back(kzu_bdd_new_var_last(m));
    for (bdd v : var) nvar.push_back(kzu_bdd_not(m, v));
    if (!kzb_default_sizing) kzu_bdd_set_sizing(m, kRoomNodes, kRoomCacheBins);
    if (kzb_dynamic_sift) kzu_bdd_dynamic_reordering(m, kzu_bdd_reorder_sift);
  }
  ~ECtx() {
    for (bdd v : nvar) kzu_bdd_free(m, v);
    kzu_bdd_quit(m);
  }
  ECtx(const ECtx &) = delete;
  ECtx &operator=(const ECtx &) = delete;

  // Records the node count after an operation and passes its result on; a
  // failed operation ends the run.
  bdd seen(bdd r) {
    if (r == nullptr) {
      fprintf(stderr, "engine operation failed\n");
      exit(1);
    }
    long n = kzu_bdd_total_size(m);
    if (n > peak) peak = n;
    return r;
  }
  // acc := v, freeing the old value.
  void set(bdd *acc, bdd v) {
    kzu_bdd_free(m, *acc);
    *acc = seen(v);
  }
  bdd AND(bdd f, bdd g) { return seen(kzu_bdd_and(m, f, g)); }
  bdd OR(bdd f, bdd g) { return seen(kzu_bdd_or(m, f, g)); }
  bdd XOR(bdd f, bdd g) { return seen(kzu_bdd_xor(m, f, g)); }
  bdd XNOR(bdd f, bdd g) { return seen(kzu_bdd_xnor(m, f, g)); }
  // acc := acc AND g (g is not consumed).
  void andInto(bdd *acc, bdd g) { set(acc, kzu_bdd_and(m, *acc, g)); }
  void free(bdd f) { kzu_bdd_free(m, f); }

  // The counters, then the checks: count over the given variables, size.
  // Untimed.
  void finish(bdd f, const std::vector<int> &ids, kzb_result &r) {
    readStats(m, peak, r);
    bdd_t *h = bdd_construct_bdd_t(m, kzu_bdd_identity(m, f));
    r.count = countOver(m, (int)var.size(), h, ids);
    r.onset = r.count;
    r.nodes = kzu_bdd_size(m, f, 1);
    bdd_free(h);
  }
  void finish(bdd f, kzb_result &r) {
    std::vector<int> ids;
    for (int i = 0; i < (int)var.size(); i++) ids.push_back(i);
    finish(f, ids, r);
  }
};

}  // namespace

kzb_result kzb_engine_queens(int n) {
  kzb_result r;
  ECtx ctx(n * n);
  kzu_bdd_manager m = ctx.m;
  auto X = [&](int i, int j) { return ctx.var[(size_t)(i * n + j)]; };
  auto NX = [&](int i, int j) { return ctx.nvar[(size_t)(i * n + j)]; };
  double t0 = cpuNow();
  bdd q = kzu_bdd_one(m);
  for (int i = 0; i < n; i++) {
    bdd e = kzu_bdd_zero(m);
    for (int j = 0; j < n; j++) ctx.set(&e, kzu_bdd_or(m, e, X(i, j)));
    ctx.andInto(&q, e);
    ctx.free(e);
  }
  // acc := acc AND (not x(i,j) or not x(r,c)).
  auto clause = [&](bdd *acc, int i, int j, int row, int col) {
    bdd cl = ctx.OR(NX(i, j), NX(row, col));
    ctx.andInto(acc, cl);
    ctx.free(cl);
  };
  for (int i = 0; i < n; i++) {
    for (int j = 0; j < n; j++) {
      bdd a = kzu_bdd_one(m), b = kzu_bdd_one(m), c = kzu_bdd_one(m), d = kzu_bdd_one(m);
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
      bdd ab = ctx.AND(a, b);
      bdd abc = ctx.AND(ab, c);
      bdd abcd = ctx.AND(abc, d);
      ctx.andInto(&q, abcd);
      for (bdd g : {a, b, c, d, ab, abc, abcd}) ctx.free(g);
    }
  }
  r.seconds = cpuNow() - t0;
  r.timed_kib = kzb_peak_kib();
  ctx.finish(q, r);
  ctx.free(q);
  return r;
}

kzb_result kzb_engine_multiplier(int n) {
  kzb_result r;
  ECtx ctx(2 * n);
  kzu_bdd_manager m = ctx.m;
  auto A = [&](int j) { return ctx.var[(size_t)(2 * j)]; };
  auto B = [&](int j) { return ctx.var[(size_t)(2 * j + 1)]; };
  double t0 = cpuNow();
  std::vector<bdd> s((size_t)n);
  for (int k = 0; k < n; k++) s[(size_t)k] = ctx.AND(A(k), B(0));
  for (int i = 1; i < n; i++) {
    bdd c = kzu_bdd_zero(m);
    for (int k = i; k < n; k++) {
      bdd p = ctx.AND(A(k - i), B(i));
      bdd x = ctx.XOR(s[(size_t)k], p);
      bdd sum = ctx.XOR(x, c);
      if (k < n - 1) {
        bdd t1 = ctx.AND(s[(size_t)k], p);
        bdd t2 = ctx.AND(c, x);
        ctx.set(&c, ctx.OR(t1, t2));
        ctx.free(t1);
        ctx.free(t2);
      }
      ctx.free(p);
      ctx.free(x);
      ctx.set(&s[(size_t)k], sum);
    }
    ctx.free(c);
  }
  for (int k = 0; k < n - 1; k++) ctx.free(s[(size_t)k]);
  bdd out = s[(size_t)(n - 1)];
  r.seconds = cpuNow() - t0;
  r.timed_kib = kzb_peak_kib();
  ctx.finish(out, r);
  ctx.free(out);
  return r;
}

kzb_result kzb_engine_milner(int n, bool fused) {
  kzb_result r;
  ECtx ctx(6 * n);
  kzu_bdd_manager m = ctx.m;
  auto c = [&](int i) { return ctx.var[(size_t)(6 * i)]; };
  auto cp = [&](int i) { return ctx.var[(size_t)(6 * i + 1)]; };
  auto t = [&](int i) { return ctx.var[(size_t)(6 * i + 2)]; };
  auto tp = [&](int i) { return ctx.var[(size_t)(6 * i + 3)]; };
  auto h = [&](int i) { return ctx.var[(size_t)(6 * i + 4)]; };
  auto hp = [&](int i) { return ctx.var[(size_t)(6 * i + 5)]; };
  auto nc = [&](int i) { return ctx.nvar[(size_t)(6 * i)]; };
  auto ncp = [&](int i) { return ctx.nvar[(size_t)(6 * i + 1)]; };
  auto nt = [&](int i) { return ctx.nvar[(size_t)(6 * i + 2)]; };
  auto ntp = [&](int i) { return ctx.nvar[(size_t)(6 * i + 3)]; };
  auto nh = [&](int i) { return ctx.nvar[(size_t)(6 * i + 4)]; };
  auto nhp = [&](int i) { return ctx.nvar[(size_t)(6 * i + 5)]; };
  // Conjunction, ascending, of (x_j <-> x'_j) for j != z; base selects the
  // family (0 = c, 2 = t, 4 = h); z = -1 excludes nothing.
  auto eq = [&](int base, int z) {
    bdd acc = kzu_bdd_one(m);
    for (int j = 0; j < n; j++) {
      if (j == z) continue;
      bdd e = ctx.XNOR(ctx.var[(size_t)(6 * j + base)], ctx.var[(size_t)(6 * j + base + 1)]);
      ctx.andInto(&acc, e);
      ctx.free(e);
    }
    return acc;
  };
  // The current-state variables (quantified) and the (next, current) pairs
  // (renaming), null-terminated.
  std::vector<int> cur;
  std::vector<bdd> curVars, pairs;
  for (int i = 0; i < n; i++)
    for (int k = 0; k < 6; k += 2) {
      cur.push_back(6 * i + k);
      curVars.push_back(ctx.var[(size_t)(6 * i + k)]);
      pairs.push_back(ctx.var[(size_t)(6 * i + k + 1)]);
      pairs.push_back(ctx.var[(size_t)(6 * i + k)]);
    }
  curVars.push_back(nullptr);
  pairs.push_back(nullptr);

  double t0 = cpuNow();
  bdd eqcAll = eq(0, -1), eqtAll = eq(2, -1), eqhAll = eq(4, -1);
  bdd T = kzu_bdd_zero(m);
  for (int i = 0; i < n; i++) {
    int i1 = (i + 1) % n;
    bdd eqc = eq(0, i), eqt = eq(2, i), eqh = eq(4, i), eqc1 = eq(0, i1);
    bdd a1 = ctx.AND(c(i), ncp(i));
    bdd a2 = ctx.AND(tp(i), nt(i));
    bdd p1 = ctx.AND(a1, a2);
    ctx.andInto(&p1, hp(i));
    ctx.andInto(&p1, eqc);
    ctx.andInto(&p1, eqt);
    ctx.andInto(&p1, eqh);
    bdd p2 = ctx.AND(h(i), nhp(i));
    ctx.andInto(&p2, cp(i1));
    ctx.andInto(&p2, eqc1);
    ctx.andInto(&p2, eqh);
    ctx.andInto(&p2, eqtAll);
    bdd e = ctx.AND(t(i), ntp(i));
    ctx.andInto(&e, eqt);
    ctx.andInto(&e, eqhAll);
    ctx.andInto(&e, eqcAll);
    bdd tr = ctx.OR(p1, p2);
    ctx.set(&tr, ctx.OR(tr, e));
    ctx.set(&T, ctx.OR(T, tr));
    for (bdd g : {eqc, eqt, eqh, eqc1, a1, a2, p1, p2, e, tr}) ctx.free(g);
  }
  ctx.free(eqcAll);
  ctx.free(eqtAll);
  ctx.free(eqhAll);

  bdd I = kzu_bdd_identity(m, c(0));
  for (int i = 0; i < n; i++) {
    bdd ht = ctx.AND(nh(i), nt(i));
    ctx.andInto(&I, ht);
    ctx.free(ht);
  }
  for (int i = 1; i < n; i++) ctx.andInto(&I, nc(i));

  bdd R = kzu_bdd_identity(m, I);
  long iters = 0;
  for (;;) {
    iters++;
    bdd img;
    if (fused) {
      kzu_bdd_temp_assoc(m, curVars.data(), 0);
      kzu_bdd_assoc(m, -1);
      img = ctx.seen(kzu_bdd_rel_prod(m, R, T));
    } else {
      bdd rt = ctx.AND(R, T);
      kzu_bdd_temp_assoc(m, curVars.data(), 0);
      kzu_bdd_assoc(m, -1);
      img = ctx.seen(kzu_bdd_exists(m, rt));
      ctx.free(rt);
    }
    kzu_bdd_temp_assoc(m, pairs.data(), 1);
    kzu_bdd_assoc(m, -1);
    bdd ren = ctx.seen(kzu_bdd_substitute(m, img));
    bdd next = ctx.OR(R, ren);
    ctx.free(img);
    ctx.free(ren);
    bool same = next == R;
    ctx.set(&R, next);
    if (same) break;
  }
  r.seconds = cpuNow() - t0;
  r.timed_kib = kzb_peak_kib();
  r.iterations = iters;
  ctx.finish(R, cur, r);
  ctx.free(R);
  ctx.free(I);
  ctx.free(T);
  return r;
}
