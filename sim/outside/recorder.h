// A session at the live window or the web page written down as a script
// that replays it.
#ifndef KVN_SIM_RECORDER_H
#define KVN_SIM_RECORDER_H

#include <directfb.h>
#include <stdio.h>

#include <chrono>
#include <string>
#include <vector>

namespace kvn_sim {

// The waits, in milliseconds rounded to a tenth of a second, that stand for
// `real_ms` of desk time; a gap longer than a wait may be is split over
// several.  A session is recorded at the player's own timing (a person
// must be able to answer its menus), so desk time is player time.
std::vector<long> recorded_waits(long long real_ms);

// Opens the caller's output file at `path` (the record, the trace) for
// writing, made when missing.  Never through a link, never waiting for a
// FIFO's reader; a regular file is emptied only when it is the caller's
// own with a single name, and anything but such a file or a FIFO that a
// process reads is refused.  -1 with `error` saying why.
int open_output(const std::string &path, std::string &error);

class Recorder {
  public:
    using Clock = std::chrono::steady_clock;
    ~Recorder();
    // Opens the file with open_output; false with `error` when it cannot.
    bool open(const std::string &path, std::string &error);
    // Records into memory instead (a web page's recording, which the page
    // downloads), up to the longest script there may be.
    void open_in_memory();
    bool active() const { return file_ != nullptr || in_memory_; }
    void key(DFBInputDeviceKeySymbol key, Clock::time_point at);
    void shot(const std::string &name, Clock::time_point at);
    // Writes the wait up to the end of the session and closes the file.
    void close(Clock::time_point at);
    // What was recorded in memory.
    const std::string &text() const { return text_; }

  private:
    void start();
    void line(const std::string &text, Clock::time_point at);
    void write(const std::string &text);
    FILE *file_ = nullptr;
    bool in_memory_ = false, full_ = false;
    std::string text_;
    Clock::time_point last_;
};

}  // namespace kvn_sim

#endif
