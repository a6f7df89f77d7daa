// The text-form workload: Util's writer, reader and renaming on a large
// diagram.
#include <string>
#include <utility>
#include <vector>

#include "ProgramStructure.h"
#include "Util.h"
#include "kz_common.h"

using namespace kzb;

kzb_result kzb_textform(int n) {
  kzb_result r;
  // a_j at 4j, b_j at 4j+2; each next-state copy right below its variable,
  // so the renaming keeps the order and every rebuilt node is one step.
  Ctx ctx(4 * n);
  ProgramStructure ps;
  for (int v = 0; v < 4 * n; v += 2) {
    ps.unPrimedToPrimedBvar[v] = v + 1;
    ps.primedToUnPrimedBvar[v + 1] = v;
  }
  bdd_t *f = buildMultiplier(ctx, n, 0, 2, 4);
  r.nodes = bdd_size(f);

  // The multiplier's garbage is collected first, so that no size's timed
  // part pays for a collection of what the construction left behind.
  kzu_bdd_gc((kzu_bdd_manager)ctx.mgr);
  std::string text;
  double t0 = cpuNow();
  Util::MDD2String(ctx.mgr, f, &text);
  double t1 = cpuNow();
  // Handed over as the link hands over a received text: moved, not copied.
  r.text_bytes = (long)text.size();
  bdd_t *back = ctx.seen(Util::String2MDD(ctx.mgr, std::move(text)));
  double t2 = cpuNow();
  bdd_t *primed = ctx.seen(Util::genPrimed(f, ctx.mgr, &ps));
  double t3 = cpuNow();
  r.write_seconds = t1 - t0;
  r.read_seconds = t2 - t1;
  r.rename_seconds = t3 - t2;
  r.seconds = t3 - t0;
  r.timed_kib = kzb_peak_kib();

  // The text must give back the same function, and the renaming the same
  // function over the next-state copies.
  std::vector<int> olds, news;
  for (int v = 0; v < 4 * n; v += 2) {
    olds.push_back(v);
    news.push_back(v + 1);
  }
  array_t *oa = ctx.varArray(olds), *na = ctx.varArray(news);
  bdd_t *expect = bdd_substitute(f, oa, na);
  if (!bdd_equal(back, f)) {
    r.ok = false;
    r.note = "text read back differs from the function written";
  } else if (!bdd_equal(primed, expect)) {
    r.ok = false;
    r.note = "genPrimed differs from bdd_substitute";
  }
  // Counted over the a and b variables: the copies are free in f.
  r.count = countOver(ctx, f, olds);
  r.onset = bdd_count_onset(f, oa);
  array_free(oa);
  array_free(na);
  readStats(ctx, r);
  for (bdd_t *g : {f, back, primed, expect}) bdd_free(g);
  return r;
}
