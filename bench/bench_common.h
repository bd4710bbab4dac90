// Pieces shared by the benchmark and the bare baseline program, which must
// not link the library.
#ifndef KVN_BENCH_COMMON_H
#define KVN_BENCH_COMMON_H

#include <string>
#include <vector>

// Median and spread of the pair ratios (quartiles by linear interpolation).
struct Spread {
    double median = 0, q1 = 0, q3 = 0, min = 0, max = 0;
};
Spread bench_spread(std::vector<double> values);

// "met", "not met", or undecided when the interquartile range is wider than
// the median's distance from the goal.
std::string bench_verdict(const Spread &ratio, double goal);

// The start-up the library does, made directly: DirectFB, the screen, the
// primary layer with its background, the three FIFOs, and the read of the
// mode file that bench_fixed_tvmode left (so that neither side seeds it).
// bench_fixed_tvmode writes the fixed mode 5 once and lets it settle.
void bench_bare_start();
void bench_fixed_tvmode();

// Resident kB of the process (mapping null), or of the mappings whose path
// contains `mapping`.
long bench_resident_kb(const char *mapping);

#endif
