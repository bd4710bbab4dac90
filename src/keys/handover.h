// A power key handed to the flash player, as one small object: offered when
// the key is posted, met when a handed key is read from the flash player's
// window, and taken exactly once by whoever runs the standby it asks for.
#ifndef KVN_KEYS_HANDOVER_H
#define KVN_KEYS_HANDOVER_H

#include <mutex>

#include "korvan_framework_lib.h"

namespace kvn {

// The flash player's window loop brings a handed key back to the power-key
// handling; until then the picture is off and the standby flag at 1.  The key
// can be slow (a busy loop) or never come (the flash player's thread in the
// TV-mode menu, which reads its window's keys, or a loop that has stopped), so
// the standby it asks for is taken by the first to find it, exactly once: the
// flash player, whatever key brings it there, or another application's power
// key once the flash player has had it for 3 s.  Those 3 s decide who runs
// the one standby, never what it does nor whether a second runs: the handed
// key is told from a fresh press by count, not by time.  The flash player's
// window is a queue, so the handed keys still in it come out as its next
// power keys; one that finds its hand-over taken does nothing, so that a slow
// loop never starts a second standby after the first one has woken.  (Power
// keys are alike: which of two queued presses counts as the handed one
// changes nothing the user sees.)
class Handover {
  public:
    // Before the key is posted into the flash player's event buffer `buffer`,
    // so that its arrival always finds it counted.
    void offer(IDirectFBEventBuffer *buffer);
    // For a key that could not be posted.
    void withdraw();
    // The flash player takes the pending hand-over: true when there was one.
    bool take();
    // Another application takes it, only once the flash player has had it
    // too long.
    bool take_if_overdue();
    // A DIKS_POWER key read from `window` (by its handler or its TV-mode
    // menu): true when it is one that was handed over, now counted as met.
    bool meet(const kvn_window *window);
    // The window's queued events were thrown away: no handed key is left in
    // them.
    void forget(const kvn_window *window);

  private:
    std::mutex mutex_;
    bool pending_ = false;
    long long since_ = 0;  // steady-clock milliseconds of the pending one
    // Handed keys posted into the flash player's event buffer `buffer_` and
    // not met since.
    IDirectFBEventBuffer *buffer_ = nullptr;
    int in_flight_ = 0;
};

// The process's one hand-over.
Handover &handover();

}  // namespace kvn

#endif
