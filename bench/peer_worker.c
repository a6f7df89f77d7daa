/* One benchmark run on the comparison peer: kzbench_peer WORKLOAD SIZE.
 * The same operations in the same order as kz_workloads.cpp and kz_line.cpp
 * (the multi-valued workload), through the
 * peer's public C interface only. Kept in C and in its own executable: both
 * packages export functions of the same names (bdd_and, bdd_init, ...).
 * The result line has the keys of kzbench_kz and goes to descriptor 3 when
 * it is open, else to standard output. */
#include <bdd.h>
#include <fcntl.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "peak_rss.h"

static int peak;

static double cpu_now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

/* Protects an operation's result and samples the live node count. */
static BDD seen(BDD r) {
  int live;
  bdd_addref(r);
  live = bdd_getnodenum();
  if (live > peak) peak = live;
  return r;
}

/* *acc := v, releasing the old value. */
static void set(BDD *acc, BDD v) {
  BDD nv = seen(v);
  bdd_delref(*acc);
  *acc = nv;
}

static void start(int nvars) {
  bdd_init(1000000, 250000);
  bdd_setcacheratio(4);
  bdd_setmaxincrease(INT_MAX / 2); /* the table simply doubles */
  bdd_gbc_hook(NULL);
  bdd_setvarnum(nvars);
  bdd_autoreorder(BDD_REORDER_NONE);
  bdd_disable_reorder();
}

static double seconds, count;
static long iterations, nodes;
static long timed_kib; /* peak resident set at the end of the timed part */

static void queens(int n) {
  int i, j, k;
  double t0;
  BDD q, e;
#define X(r, c) bdd_ithvar((r) * n + (c))
#define NX(r, c) bdd_nithvar((r) * n + (c))
  start(n * n);
  t0 = cpu_now();
  q = bdd_true();
  for (i = 0; i < n; i++) {
    e = bdd_false();
    for (j = 0; j < n; j++) set(&e, bdd_or(e, X(i, j)));
    set(&q, bdd_and(q, e));
    bdd_delref(e);
  }
  for (i = 0; i < n; i++) {
    for (j = 0; j < n; j++) {
      BDD a = bdd_true(), b = bdd_true(), c = bdd_true(), d = bdd_true(), cl, ab, abc, abcd;
      int col;
#define CLAUSE(acc, r, cc)                  \
  do {                                      \
    cl = seen(bdd_or(NX(i, j), NX(r, cc))); \
    set(&(acc), bdd_and(acc, cl));          \
    bdd_delref(cl);                         \
  } while (0)
      for (k = 0; k < n; k++)
        if (k != j) CLAUSE(a, i, k);
      for (k = 0; k < n; k++)
        if (k != i) CLAUSE(b, k, j);
      for (k = 0; k < n; k++) {
        col = k - i + j;
        if (k != i && col >= 0 && col < n) CLAUSE(c, k, col);
      }
      for (k = 0; k < n; k++) {
        col = i + j - k;
        if (k != i && col >= 0 && col < n) CLAUSE(d, k, col);
      }
      ab = seen(bdd_and(a, b));
      abc = seen(bdd_and(ab, c));
      abcd = seen(bdd_and(abc, d));
      set(&q, bdd_and(q, abcd));
      bdd_delref(a);
      bdd_delref(b);
      bdd_delref(c);
      bdd_delref(d);
      bdd_delref(ab);
      bdd_delref(abc);
      bdd_delref(abcd);
    }
  }
  seconds = cpu_now() - t0;
  timed_kib = kzb_peak_kib();
  count = bdd_satcount(q);
  nodes = bdd_nodecount(q);
  bdd_delref(q);
}

static void multiplier(int n) {
  int i, k;
  double t0;
  BDD *s = (BDD *)malloc(sizeof(BDD) * (size_t)n);
#define A(j) bdd_ithvar(2 * (j))
#define B(j) bdd_ithvar(2 * (j) + 1)
  start(2 * n);
  t0 = cpu_now();
  for (k = 0; k < n; k++) s[k] = seen(bdd_and(A(k), B(0)));
  for (i = 1; i < n; i++) {
    BDD c = bdd_false();
    for (k = i; k < n; k++) {
      BDD p = seen(bdd_and(A(k - i), B(i)));
      BDD x = seen(bdd_apply(s[k], p, bddop_xor));
      BDD sum = seen(bdd_apply(x, c, bddop_xor));
      if (k < n - 1) {
        BDD t1 = seen(bdd_and(s[k], p));
        BDD t2 = seen(bdd_and(c, x));
        set(&c, bdd_or(t1, t2));
        bdd_delref(t1);
        bdd_delref(t2);
      }
      bdd_delref(p);
      bdd_delref(x);
      bdd_delref(s[k]);
      s[k] = sum;
    }
    bdd_delref(c);
  }
  seconds = cpu_now() - t0;
  timed_kib = kzb_peak_kib();
  count = bdd_satcount(s[n - 1]);
  nodes = bdd_nodecount(s[n - 1]);
  for (k = 0; k < n; k++) bdd_delref(s[k]);
  free(s);
}

/* Conjunction, ascending, of (x_j <-> x'_j) for j != z over the family at
 * offset base (0 = c, 2 = t, 4 = h); z = -1 excludes nothing. */
static BDD eq(int n, int base, int z) {
  int j;
  BDD acc = bdd_true();
  for (j = 0; j < n; j++) {
    BDD e;
    if (j == z) continue;
    e = seen(bdd_biimp(bdd_ithvar(6 * j + base), bdd_ithvar(6 * j + base + 1)));
    set(&acc, bdd_and(acc, e));
    bdd_delref(e);
  }
  return acc;
}

static void milner(int n, int fused) {
  int i, k, m = 0;
  double t0;
  BDD T, I, R, Xset, eqcAll, eqtAll, eqhAll;
  int *cur = (int *)malloc(sizeof(int) * (size_t)(3 * n));
  bddPair *pair;
#define C(i) bdd_ithvar(6 * (i))
#define CP(i) bdd_ithvar(6 * (i) + 1)
#define NCP(i) bdd_nithvar(6 * (i) + 1)
#define NC(i) bdd_nithvar(6 * (i))
#define T_(i) bdd_ithvar(6 * (i) + 2)
#define NT(i) bdd_nithvar(6 * (i) + 2)
#define TP(i) bdd_ithvar(6 * (i) + 3)
#define NTP(i) bdd_nithvar(6 * (i) + 3)
#define H(i) bdd_ithvar(6 * (i) + 4)
#define NH(i) bdd_nithvar(6 * (i) + 4)
#define HP(i) bdd_ithvar(6 * (i) + 5)
#define NHP(i) bdd_nithvar(6 * (i) + 5)
  start(6 * n);
  for (i = 0; i < n; i++)
    for (k = 0; k < 6; k += 2) cur[m++] = 6 * i + k;
  Xset = bdd_addref(bdd_makeset(cur, 3 * n));
  pair = bdd_newpair();
  for (m = 0; m < 3 * n; m++) bdd_setpair(pair, cur[m] + 1, cur[m]);

  t0 = cpu_now();
  eqcAll = eq(n, 0, -1);
  eqtAll = eq(n, 2, -1);
  eqhAll = eq(n, 4, -1);
  T = bdd_false();
  for (i = 0; i < n; i++) {
    int i1 = (i + 1) % n;
    BDD eqc = eq(n, 0, i), eqt = eq(n, 2, i), eqh = eq(n, 4, i), eqc1 = eq(n, 0, i1);
    BDD a1 = seen(bdd_and(C(i), NCP(i)));
    BDD a2 = seen(bdd_and(TP(i), NT(i)));
    BDD p1 = seen(bdd_and(a1, a2)), p2, e, tr;
    set(&p1, bdd_and(p1, HP(i)));
    set(&p1, bdd_and(p1, eqc));
    set(&p1, bdd_and(p1, eqt));
    set(&p1, bdd_and(p1, eqh));
    p2 = seen(bdd_and(H(i), NHP(i)));
    set(&p2, bdd_and(p2, CP(i1)));
    set(&p2, bdd_and(p2, eqc1));
    set(&p2, bdd_and(p2, eqh));
    set(&p2, bdd_and(p2, eqtAll));
    e = seen(bdd_and(T_(i), NTP(i)));
    set(&e, bdd_and(e, eqt));
    set(&e, bdd_and(e, eqhAll));
    set(&e, bdd_and(e, eqcAll));
    tr = seen(bdd_or(p1, p2));
    set(&tr, bdd_or(tr, e));
    set(&T, bdd_or(T, tr));
    bdd_delref(eqc);
    bdd_delref(eqt);
    bdd_delref(eqh);
    bdd_delref(eqc1);
    bdd_delref(a1);
    bdd_delref(a2);
    bdd_delref(p1);
    bdd_delref(p2);
    bdd_delref(e);
    bdd_delref(tr);
  }
  bdd_delref(eqcAll);
  bdd_delref(eqtAll);
  bdd_delref(eqhAll);

  I = C(0);
  for (i = 0; i < n; i++) {
    BDD ht = seen(bdd_and(NH(i), NT(i)));
    set(&I, bdd_and(I, ht));
    bdd_delref(ht);
  }
  for (i = 1; i < n; i++) set(&I, bdd_and(I, NC(i)));

  R = bdd_addref(I);
  iterations = 0;
  for (;;) {
    BDD img, ren, next;
    int same;
    iterations++;
    if (fused) {
      img = seen(bdd_appex(R, T, bddop_and, Xset));
    } else {
      BDD rt = seen(bdd_and(R, T));
      img = seen(bdd_exist(rt, Xset));
      bdd_delref(rt);
    }
    ren = seen(bdd_replace(img, pair));
    next = seen(bdd_or(R, ren));
    bdd_delref(img);
    bdd_delref(ren);
    same = next == R;
    bdd_delref(R);
    R = next;
    if (same) break;
  }
  seconds = cpu_now() - t0;
  timed_kib = kzb_peak_kib();
  /* The plain count overflows a double once the manager has about a
   * thousand variables; the logarithm does not. */
  count = exp2(bdd_satcountlnset(R, Xset));
  nodes = bdd_nodecount(R);
  bdd_delref(R);
  bdd_delref(I);
  bdd_delref(T);
  bdd_delref(Xset);
  bdd_freepair(pair);
  free(cur);
}

/* The multi-valued layer's encoding, as mdd_init lays it out with stride 1:
 * mvar m (8 values) on the variables 3m (most significant bit) to 3m+2. */
#define MV_VALUES 8
#define MV_BITS 3

/* The function that equals child[v] where mvar m has value v, built as the
 * multi-valued layer builds it: pairs of children joined from the least
 * significant bit up, constant pairs without ITE. Takes over the children's
 * references. */
static BDD mv_case(int m, BDD *child) {
  BDD level[MV_VALUES];
  int count = MV_VALUES, index, p, k;
  memcpy(level, child, sizeof level);
  for (index = MV_BITS - 1; count > 1; index--) {
    int x = MV_BITS * m + index;
    for (p = 0, k = 0; p + 1 < count; p += 2) {
      BDD e = level[p], o = level[p + 1], r;
      if (e == bddfalse && o == bddfalse)
        r = bddfalse;
      else if (o == bddfalse && e == bddtrue)
        r = bdd_nithvar(x);
      else if (e == bddtrue && o == bddtrue)
        r = bddtrue;
      else if (o == bddtrue && e == bddfalse)
        r = bdd_ithvar(x);
      else
        r = bdd_ite(bdd_ithvar(x), o, e);
      level[k++] = bdd_addref(r);
      bdd_delref(e);
      bdd_delref(o);
    }
    count = k;
  }
  return level[0];
}

/* {values of mvar m | fn(value, c)}, as mdd_func1c builds it. */
static BDD mv_func1c(int m, int c, int (*fn)(int, int)) {
  BDD child[MV_VALUES];
  int v;
  for (v = 0; v < MV_VALUES; v++) child[v] = fn(v, c) ? bddtrue : bddfalse;
  return mv_case(m, child);
}

/* {(a, b) | fn(a, b)} over mvars m1 and m2, as mdd_func2 builds it: one row
 * over m2 per value of m1, then the rows joined over m1. */
static BDD mv_func2(int m1, int m2, int (*fn)(int, int)) {
  BDD row[MV_VALUES], child[MV_VALUES];
  int a, b;
  for (a = 0; a < MV_VALUES; a++) {
    for (b = 0; b < MV_VALUES; b++) child[b] = fn(a, b) ? bddtrue : bddfalse;
    row[a] = mv_case(m2, child);
  }
  return mv_case(m1, row);
}

static int eq2(int x, int y) { return x == y; }
static int lt2(int x, int y) { return x < y; }
static int plus_one2(int x, int y) { return x == y + 1; }

/* The line of processes of kzb_line: x_j is mvar 2j, x_j' mvar 2j+1. */
static void line(int n, int fused) {
  int i, j, b;
  double t0;
  int *cur = (int *)malloc(sizeof(int) * (size_t)(MV_BITS * n));
  int *nxt = (int *)malloc(sizeof(int) * (size_t)(MV_BITS * n));
  BDD *same = (BDD *)malloc(sizeof(BDD) * (size_t)n);
  BDD T, S, curSet, nextSet;
  bddPair *pair;
  start(2 * MV_BITS * n);
  for (j = 0; j < n; j++)
    for (b = 0; b < MV_BITS; b++) {
      cur[MV_BITS * j + b] = MV_BITS * (2 * j) + b;
      nxt[MV_BITS * j + b] = MV_BITS * (2 * j + 1) + b;
    }
  curSet = bdd_addref(bdd_makeset(cur, MV_BITS * n));
  nextSet = bdd_addref(bdd_makeset(nxt, MV_BITS * n));
  pair = bdd_newpair();
  for (i = 0; i < MV_BITS * n; i++) bdd_setpair(pair, cur[i], nxt[i]);

  t0 = cpu_now();
  for (i = 0; i < n; i++) same[i] = seen(mv_func2(2 * i + 1, 2 * i, eq2));
  T = bdd_false();
  for (j = 0; j < n; j++) {
    BDD guard = seen(j == 0 ? mv_func1c(0, MV_VALUES - 1, lt2) : mv_func2(2 * j, 2 * j - 2, lt2));
    BDD step = seen(mv_func2(2 * j + 1, 2 * j, plus_one2));
    BDD tj = seen(bdd_and(guard, step));
    for (i = 0; i < n; i++)
      if (i != j) set(&tj, bdd_and(tj, same[i]));
    set(&T, bdd_or(T, tj));
    bdd_delref(guard);
    bdd_delref(step);
    bdd_delref(tj);
  }
  for (i = 0; i < n; i++) bdd_delref(same[i]);

  S = bdd_true();
  for (j = 0; j < n; j++) {
    BDD top = seen(mv_func1c(2 * j, MV_VALUES - 1, eq2));
    set(&S, bdd_and(S, top));
    bdd_delref(top);
  }
  iterations = 0;
  for (;;) {
    BDD Sn, pre, next;
    int done;
    iterations++;
    Sn = seen(bdd_replace(S, pair));
    if (fused) {
      pre = seen(bdd_appex(T, Sn, bddop_and, nextSet));
    } else {
      BDD tsn = seen(bdd_and(T, Sn));
      pre = seen(bdd_exist(tsn, nextSet));
      bdd_delref(tsn);
    }
    next = seen(bdd_or(S, pre));
    bdd_delref(Sn);
    bdd_delref(pre);
    done = next == S;
    bdd_delref(S);
    S = next;
    if (done) break;
  }
  seconds = cpu_now() - t0;
  timed_kib = kzb_peak_kib();
  count = bdd_satcountset(S, curSet);
  nodes = bdd_nodecount(S);
  bdd_delref(S);
  bdd_delref(T);
  bdd_delref(curSet);
  bdd_delref(nextSet);
  bdd_freepair(pair);
  free(cur);
  free(nxt);
  free(same);
}

int main(int argc, char **argv) {
  const char *w;
  int n;
  FILE *out;
  if (argc != 3) {
    fprintf(stderr, "usage: %s queens|mult|milner-fused|milner-split|line-fused|line-split SIZE\n", argv[0]);
    return 2;
  }
  w = argv[1];
  n = atoi(argv[2]);
  if (n <= 0) {
    fprintf(stderr, "%s: size must be a positive number\n", argv[0]);
    return 2;
  }
  if (strcmp(w, "queens") == 0)
    queens(n);
  else if (strcmp(w, "mult") == 0)
    multiplier(n);
  else if (strcmp(w, "milner-fused") == 0)
    milner(n, 1);
  else if (strcmp(w, "milner-split") == 0)
    milner(n, 0);
  else if (strcmp(w, "line-fused") == 0)
    line(n, 1);
  else if (strcmp(w, "line-split") == 0)
    line(n, 0);
  else {
    fprintf(stderr, "%s: unknown workload %s\n", argv[0], w);
    return 2;
  }
  fflush(stdout);
  out = fcntl(3, F_GETFD) != -1 ? fdopen(3, "w") : stdout;
  if (out == NULL) out = stdout;
  fprintf(out, "seconds=%.6f count=%.17g iterations=%ld nodes=%ld peak_nodes=%d timed_kib=%ld ok=1\n", seconds,
          count, iterations, nodes, peak, timed_kib);
  fclose(out);
  bdd_done();
  return 0;
}
