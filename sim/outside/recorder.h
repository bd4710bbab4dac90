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

class Recorder {
  public:
    using Clock = std::chrono::steady_clock;
    ~Recorder();
    // Creates the file; false with `error` when it cannot be written.  A
    // FIFO is written only while a process reads it: never waited on.
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
