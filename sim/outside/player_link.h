// korvan-sim's end of the channel to the player inside the sandbox, which
// the live window and the web page share: what the player sends (its
// screen, the frames, trace lines and the status) read in a thread of its
// own and handed to them; the keys and shots they send, in one order and
// written into the recordings.
#ifndef KVN_SIM_PLAYER_LINK_H
#define KVN_SIM_PLAYER_LINK_H

#include <directfb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "view_channel.h"

namespace kvn_sim {

class Recorder;

class PlayerLink {
  public:
    // What shows the player.  Called in the link's thread, which must not
    // wait for a view: a view hands the news on and returns.
    struct View {
        virtual ~View() = default;
        virtual void screen_came() {}
        virtual void frame_came() {}
        virtual void trace_line(const std::string &) {}
        virtual void status_came(const std::string &) {}
        virtual void channel_ended() {}
    };

    explicit PlayerLink(int fd) : fd_(fd) {}
    ~PlayerLink();
    void start();
    // A view added late hears at once of the screen and the end it missed.
    void add_view(View *view);
    void remove_view(View *view);
    // Waits up to `limit` for the player to end the channel; then stops
    // reading it (the channel itself stays open for a late stop request).
    bool wait_for_end(std::chrono::milliseconds limit);

    // The player's shared screen, null until it came.
    const SharedScreen *screen() const { return screen_ready_ ? &screen_ : nullptr; }

    // From any thread, in one order: a key to the player, and written into
    // every recording; a screenshot named `name` in the --shots folder.
    void press(DFBInputDeviceKeySymbol key);
    void shot(const std::string &name);
    void add_recorder(Recorder *recorder);
    void remove_recorder(Recorder *recorder);

  private:
    void read();
    template <typename Tell>
    void tell(Tell how);
    int fd_;
    std::thread reader_;
    SharedScreen screen_;
    std::atomic<bool> screen_ready_{false};
    // Held while the views are told, so that a view removed is told no more.
    std::mutex views_mutex_;
    std::vector<View *> views_;
    std::mutex mutex_;  // the recorders, the order of the keys and the end
    std::condition_variable ended_changed_;
    bool ended_ = false;
    std::vector<Recorder *> recorders_;
};

}  // namespace kvn_sim

#endif
