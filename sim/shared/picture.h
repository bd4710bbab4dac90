// A picture as both sides of the sandbox pass it: the player's composed
// screen and the panels drawn for the window.
#ifndef KVN_SIM_PICTURE_H
#define KVN_SIM_PICTURE_H

#include <stdint.h>

#include <vector>

namespace kvn_sim {

// A picture as 0x00RRGGBB (or 0xAARRGGBB) words, row after row.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

}  // namespace kvn_sim

#endif
