// Every code for the output daemon goes through here, so that a standby
// taken over later knows whether the TV-mode menu switched the picture back
// on meanwhile.
#include "picture.h"

#include <atomic>

#include "codes.h"
#include "platform/imports.h"

namespace kvn {

namespace {

std::atomic<bool> g_picture_off{false};

}  // namespace

void set_output_mode(int code) {
    g_picture_off = code == kModePictureOff;
    smpoutd_api_set_tvmode(code);
}

bool picture_is_off() { return g_picture_off; }

}  // namespace kvn
