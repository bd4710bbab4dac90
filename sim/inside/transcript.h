// What the simulator tells: its transcript on standard output, and the
// trace lines it keeps in memory for expectations.
#ifndef KVN_SIM_TRANSCRIPT_H
#define KVN_SIM_TRANSCRIPT_H

#include <stddef.h>

#include <deque>
#include <mutex>
#include <regex>
#include <string>

namespace kvn_sim {

// A line of the transcript (nothing with --quiet).
void say(const std::string &text);
void set_quiet(bool quiet);

// The most recent trace lines, at most `capacity` of them: a long run keeps
// its memory, and the trace file keeps everything.
class TraceLog {
  public:
    explicit TraceLog(size_t capacity) : capacity_(capacity) {}
    void add(const std::string &line);
    // True when a kept line matches; `found` is the first such line.
    bool search(const std::regex &pattern, std::string &found) const;
    size_t size() const;

  private:
    mutable std::mutex mutex_;
    std::deque<std::string> lines_;
    size_t capacity_;
};

// The stand-ins keep every trace line, dialog command and daemon code they
// saw; throws away those records once one holds more than `limit` entries.
// (The simulator reads them only through the trace as they happen.)
void bound_platform_records(size_t limit);

}  // namespace kvn_sim

#endif
