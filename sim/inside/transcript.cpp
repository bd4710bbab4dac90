#include "transcript.h"

#include <stdio.h>

#include <atomic>

#include "kvn_trace.h"
#include "osd_service.h"
#include "smpoutd_api.h"

namespace kvn_sim {
namespace {
std::atomic<bool> g_quiet{false};
std::mutex g_print_mutex;
}  // namespace

void set_quiet(bool quiet) { g_quiet = quiet; }

void say(const std::string &text) {
    if (g_quiet) return;
    std::lock_guard<std::mutex> lock(g_print_mutex);
    fprintf(stdout, "%s\n", text.c_str());
    fflush(stdout);
}

void TraceLog::add(const std::string &line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
    if (lines_.size() > capacity_) lines_.pop_front();
}

bool TraceLog::search(const std::regex &pattern, std::string &found) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string &line : lines_) {
        if (std::regex_search(line, pattern)) {
            found = line;
            return true;
        }
    }
    return false;
}

size_t TraceLog::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_.size();
}

void bound_platform_records(size_t limit) {
    if (kvn_trace_count() > limit) kvn_trace_clear();
    if (static_cast<size_t>(osd_service_count()) > limit) osd_service_clear();
    if (static_cast<size_t>(smpoutd_stub_count()) > limit) smpoutd_stub_clear();
}

}  // namespace kvn_sim
