/* Peak resident set of the calling process so far, in KiB (VmHWM), or 0
 * where /proc does not report it. Read at the end of a timed part, so that
 * the checks run afterwards do not count. Shared by both workers (C and C++). */
#ifndef KZBENCH_PEAK_RSS_H
#define KZBENCH_PEAK_RSS_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static inline long kzb_peak_kib(void) {
  char line[256];
  long kib = 0;
  FILE *fp = fopen("/proc/self/status", "r");
  if (fp == NULL) return 0;
  while (fgets(line, sizeof line, fp) != NULL) {
    if (strncmp(line, "VmHWM:", 6) == 0) {
      kib = atol(line + 6);
      break;
    }
  }
  fclose(fp);
  return kib;
}

#endif
