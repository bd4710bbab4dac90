// The player's screen as the web page gets it: each new frame as the
// rectangle that changed since the one before, and the whole frame for a
// page that missed some, both as PNG.
#ifndef KVN_SIM_WEB_FRAMES_H
#define KVN_SIM_WEB_FRAMES_H

#include <stdint.h>

#include <memory>
#include <mutex>
#include <string>

#include "picture.h"
#include "png_image.h"
#include "view_channel.h"

namespace kvn_sim {

// A frame message: 'F', three bytes of nothing, then little-endian the
// version (32 bits) and x, y, width, height of the rectangle and the
// screen's width and height (16 bits each), then the rectangle's PNG.
constexpr size_t kFrameHeaderBytes = 20;

class WebFrames {
  public:
    using Message = std::shared_ptr<const std::string>;
    // Takes the newest frame of the screen, in one thread only; true when it
    // differs from the frame before.
    bool take(const SharedScreen &screen);
    uint32_t version() const;
    // The message that brings a page showing `version` to the newest one,
    // whose version `newest` gets; null when there is no frame yet.
    Message message_after(uint32_t version, uint32_t &newest);

  private:
    static Message message(const Picture &picture, Area area, uint32_t version);
    mutable std::mutex mutex_;
    Picture current_, next_;
    uint32_t version_ = 0;
    Message step_;   // from version_ - 1 to version_
    Message whole_;  // all of whole_version_
    uint32_t whole_version_ = 0;
};

// The rectangle in which two pictures of the same size differ; false
// when they do not.
bool changed_area(const Picture &before, const Picture &after, Area &area);

}  // namespace kvn_sim

#endif
