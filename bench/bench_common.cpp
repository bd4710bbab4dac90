#include "bench_common.h"

#include <directfb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <cmath>

namespace {

double quantile(const std::vector<double> &sorted, double q) {
    double pos = q * static_cast<double>(sorted.size() - 1);
    size_t below = static_cast<size_t>(pos);
    if (below + 1 >= sorted.size()) return sorted.back();
    return sorted[below] + (pos - static_cast<double>(below)) * (sorted[below + 1] - sorted[below]);
}

}  // namespace

Spread bench_spread(std::vector<double> values) {
    Spread s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    s.median = quantile(values, 0.5);
    s.q1 = quantile(values, 0.25);
    s.q3 = quantile(values, 0.75);
    s.min = values.front();
    s.max = values.back();
    return s;
}

std::string bench_verdict(const Spread &ratio, double goal) {
    double width = ratio.q3 - ratio.q1, distance = std::fabs(ratio.median - goal);
    char text[160];
    if (width > distance) {
        snprintf(text, sizeof text, "undecided (spread %.2f wider than the distance %.2f to the goal)", width,
                 distance);
        return text;
    }
    return ratio.median <= goal ? "met" : "not met";
}

void bench_bare_directfb_start() {
    static char arg0[] = "kvn-bench-bare";
    static char *argv_store[] = {arg0, nullptr};
    int argc = 1;
    char **argv = argv_store;
    IDirectFB *dfb = nullptr;
    IDirectFBDisplayLayer *layer = nullptr;
    if (DirectFBInit(&argc, &argv) != DFB_OK || DirectFBCreate(&dfb) != DFB_OK ||
        dfb->GetDisplayLayer(dfb, DLID_PRIMARY, &layer) != DFB_OK) {
        fprintf(stderr, "kvn_bench: DirectFB does not start\n");
        abort();
    }
}

long bench_resident_kb(const char *mapping) {
    FILE *f = fopen(mapping == nullptr ? "/proc/self/status" : "/proc/self/smaps", "r");
    if (f == nullptr) return -1;
    char line[512];
    long kb = 0;
    bool inside = false;
    while (fgets(line, sizeof line, f) != nullptr) {
        if (mapping == nullptr) {
            if (strncmp(line, "VmRSS:", 6) == 0) kb = strtol(line + 6, nullptr, 10);
        } else if ((line[0] >= '0' && line[0] <= '9') || (line[0] >= 'a' && line[0] <= 'f')) {
            inside = strstr(line, mapping) != nullptr;  // a mapping's header line: its address range
        } else if (inside && strncmp(line, "Rss:", 4) == 0) {
            kb += strtol(line + 4, nullptr, 10);
        }
    }
    fclose(f);
    return kb;
}
