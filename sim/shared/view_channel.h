// The channel between korvan-sim outside the sandbox (which owns the
// desktop window and the web page) and the player inside it: control
// messages on a socket, and the screen in shared memory.
#ifndef KVN_SIM_VIEW_CHANNEL_H
#define KVN_SIM_VIEW_CHANNEL_H

#include <stdint.h>

#include <atomic>
#include <string>
#include <vector>

#include "picture.h"

namespace kvn_sim {

// The environment variable that hands the player its end of the channel.
constexpr const char *kControlFdVariable = "KVN_SIM_CONTROL_FD";

enum MessageType : uint32_t {
    kMsgKey = 'K',   // outside -> inside: a remote key pressed in the window (value: key symbol)
    kMsgShot = 'S',  // outside -> inside: take a screenshot named `text`
    kMsgStop =
        'Q',  // outside -> inside: stop in order (value: the signal, 0 for the window closed)
    kMsgScreen = 'V',  // inside -> outside: the shared screen (with its descriptor)
    kMsgFrame = 'F',   // inside -> outside: a new frame is in the shared screen
    kMsgTrace = 'T',   // inside -> outside: a trace line (the payload), for the web page
    kMsgStatus = 'U',  // inside -> outside: the status (the payload: "mode=N picture=0|1 ...")
};

// The most a message carries beyond its fixed part; a longer packet is
// read as nothing at all.
constexpr size_t kMaxPayload = 4096;

struct ControlMessage {
    uint32_t type = 0;
    uint32_t value = 0;
    char text[64] = {0};
};

// Both ends are a SOCK_SEQPACKET socket pair: one message a packet.
bool make_channel(int fds[2]);
bool send_message(int fd, const ControlMessage &message, int pass_fd = -1,
                  const std::string &payload = std::string());
// False at the end of the channel; `passed_fd` gets a descriptor sent along
// and `payload` what came after the fixed part.
bool receive_message(int fd, ControlMessage &message, int *passed_fd = nullptr,
                     std::string *payload = nullptr);

// The composed screen and the help panel in shared memory, published by
// the player and read by the window without either waiting for the other.
class SharedScreen {
  public:
    ~SharedScreen();
    // Inside: makes the memory for the screen and a panel of these sizes.
    bool create(int width, int height, const Picture &help, std::string &error);
    // Outside: maps what `create` made, from the descriptor passed along.
    bool map(int fd, std::string &error);
    int fd() const { return fd_; }
    int width() const;
    int height() const;
    // Inside: the newest frame (of the size given to create).
    void publish(const Picture &frame);
    // Outside: copies the newest complete frame; false when none is.
    bool latest(Picture &out) const;
    Picture help() const;

  private:
    struct Header;
    Header *header() const;
    uint32_t *slot(uint32_t index) const;
    void *memory_ = nullptr;
    size_t size_ = 0;
    int fd_ = -1;
};

}  // namespace kvn_sim

#endif
