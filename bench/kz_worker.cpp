// One benchmark run on this project's library:
//   kzbench_kz WORKLOAD SIZE [engine] [sift] [default-sizing]
// (engine: the workload written against the engine instead of the handle
// layer; sift: dynamic sifting on; default-sizing: the engine's own initial
// sizing instead of the peer's room).
// Workloads: queens, mult, milner-fused, milner-split (both layers);
// line-fused, line-split, text (handle and multi-valued layers). The result
// is one line of key=value pairs on descriptor 3 when the driver opened it,
// else on standard output (the library's own lines go to standard output).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kz_workloads.h"

int main(int argc, char **argv) {
  bool badArgs = argc < 3;
  bool engine = false;
  for (int i = 3; i < argc; i++) {
    if (strcmp(argv[i], "engine") == 0)
      engine = true;
    else if (strcmp(argv[i], "sift") == 0)
      kzb_dynamic_sift = true;
    else if (strcmp(argv[i], "default-sizing") == 0)
      kzb_default_sizing = true;
    else
      badArgs = true;
  }
  if (badArgs) {
    fprintf(stderr,
            "usage: %s queens|mult|milner-fused|milner-split|line-fused|line-split|text SIZE [engine] [sift] "
            "[default-sizing]\n",
            argv[0]);
    return 2;
  }
  const char *w = argv[1];
  int n = atoi(argv[2]);
  if (n <= 0) {
    fprintf(stderr, "%s: size must be a positive number\n", argv[0]);
    return 2;
  }
  kzb_result r;
  if (strcmp(w, "queens") == 0)
    r = engine ? kzb_engine_queens(n) : kzb_queens(n);
  else if (strcmp(w, "mult") == 0)
    r = engine ? kzb_engine_multiplier(n) : kzb_multiplier(n);
  else if (strcmp(w, "milner-fused") == 0)
    r = engine ? kzb_engine_milner(n, true) : kzb_milner(n, true);
  else if (strcmp(w, "milner-split") == 0)
    r = engine ? kzb_engine_milner(n, false) : kzb_milner(n, false);
  else if (strcmp(w, "line-fused") == 0 && !engine)
    r = kzb_line(n, true);
  else if (strcmp(w, "line-split") == 0 && !engine)
    r = kzb_line(n, false);
  else if (strcmp(w, "text") == 0 && !engine)
    r = kzb_textform(n);
  else {
    fprintf(stderr, "%s: unknown workload %s%s\n", argv[0], w, engine ? " on the engine" : "");
    return 2;
  }
  fflush(stdout);
  FILE *out = fcntl(3, F_GETFD) != -1 ? fdopen(3, "w") : stdout;
  if (out == nullptr) out = stdout;
  fprintf(out,
          "seconds=%.6f count=%.17g onset=%.17g iterations=%ld nodes=%ld peak_nodes=%ld "
          "lookups=%ld hits=%ld gcs=%ld finds=%ld write=%.6f read=%.6f rename=%.6f text_bytes=%ld "
          "reorderings=%ld reorder_seconds=%.6f timed_kib=%ld ok=%d\n",
          r.seconds, r.count, r.onset, r.iterations, r.nodes, r.peak_nodes, r.cache_lookups,
          r.cache_hits, r.gcs, r.finds, r.write_seconds, r.read_seconds, r.rename_seconds, r.text_bytes,
          r.reorderings, r.reorder_seconds, r.timed_kib, r.ok ? 1 : 0);
  if (!r.ok) fprintf(stderr, "%s %d: %s\n", w, n, r.note.c_str());
  fclose(out);
  return r.ok ? 0 : 1;
}
