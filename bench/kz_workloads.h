// Benchmark workloads on this project's library: on the handle layer (as a
// caller of bdd.h and mdd.h writes them) and the same ones on the engine
// (kzuBdd.h). Each function builds its own manager, runs the workload once,
// checks nothing itself and returns the measurements and the check values;
// the comparison peer runs the same operations in the same order in its own
// executable.
#ifndef KZBENCH_KZ_WORKLOADS_H
#define KZBENCH_KZ_WORKLOADS_H

#include <string>

struct kzb_result {
  double seconds = 0;       // CPU seconds of the timed part
  double count = 0;         // satisfying assignments of the result
  double onset = 0;         // the same by bdd_count_onset
  long iterations = 0;      // image steps (reachability)
  long nodes = 0;           // bdd_size of the result (terminal included)
  long peak_nodes = 0;      // most engine table entries seen after an operation
  long timed_kib = 0;       // peak resident set at the end of the timed part
  long cache_lookups = 0;   // computed-table counters of the engine (timed part)
  long cache_hits = 0;
  long gcs = 0;
  long finds = 0;
  // Text form only: seconds of each phase and the text length.
  double write_seconds = 0, read_seconds = 0, rename_seconds = 0;
  long text_bytes = 0;
  long reorderings = 0;     // dynamic reorderings (kzb_dynamic_sift) and their CPU time
  double reorder_seconds = 0;
  bool ok = true;           // internal consistency (text form round trip)
  std::string note;         // why ok is false
};

// Dynamic sifting on in every manager the workloads make (off by default).
extern bool kzb_dynamic_sift;
// The engine's own initial sizing instead of the peer's (off by default).
extern bool kzb_default_sizing;

// N-queens on an n x n board; count = number of solutions.
kzb_result kzb_queens(int n);
// Middle bit (bit n-1) of the n x n bit product; count over the 2n inputs.
kzb_result kzb_multiplier(int n);
// Milner's scheduler with n cyclers: monolithic relation, breadth-first
// reachability; fused = and-exists in one call, else AND then smooth.
kzb_result kzb_milner(int n, bool fused);
// A line of n processes, each owning a variable over the values 0..7 with a
// next-state copy (multi-valued layer, variables x0, x0', x1, x1', ...).
// Process 0 steps x0 up while x0 < 7, process j > 0 steps xj up while
// xj < x(j-1); the others keep their values. Pre-images from the state where
// every variable is 7 until a fixpoint: rename the set to the next-state
// copies, then AND and smooth the copies (fused: bdd_and_smooth; split:
// bdd_and, then mdd_smooth). count = states of the fixpoint (every state:
// 8^n), iterations = pre-images computed (7n + 1).
kzb_result kzb_line(int n, bool fused);
// Text form of the multiplier's middle bit built over even variable ids
// (odd ids are the next-state copies): write, read back, rename.
kzb_result kzb_textform(int n);

// N-queens, the multiplier and Milner's scheduler written directly against
// the engine: the same operations in the same order as above, the sizing
// through kzu_bdd_set_sizing.
kzb_result kzb_engine_queens(int n);
kzb_result kzb_engine_multiplier(int n);
kzb_result kzb_engine_milner(int n, bool fused);

// The middle bit of the product by brute force over all 2^(2n) inputs.
double kzb_multiplier_bruteforce(int n);
// The line of kzb_line by breadth-first search backwards over all 8^n
// states: the states that reach the all-7 state, and in *iterations the
// pre-images the fixpoint takes (the largest distance plus one).
double kzb_line_bruteforce(int n, long *iterations);

#endif
