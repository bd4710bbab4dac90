#include "player_link.h"

#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "recorder.h"

namespace kvn_sim {

PlayerLink::~PlayerLink() {
    wait_for_end(std::chrono::milliseconds(0));
    if (reader_.joinable()) reader_.join();
}

void PlayerLink::start() {
    reader_ = std::thread([this] { read(); });
}

template <typename Tell>
void PlayerLink::tell(Tell how) {
    std::lock_guard<std::mutex> lock(views_mutex_);
    for (View *v : views_) how(v);
}

void PlayerLink::read() {
    ControlMessage m;
    std::string payload;
    int passed = -1;
    while (receive_message(fd_, m, &passed, &payload)) {
        if (m.type == kMsgScreen && passed >= 0 && !screen_ready_) {
            std::string error;
            if (!screen_.map(passed, error)) {
                fprintf(stderr, "korvan-sim: %s\n", error.c_str());
                continue;
            }
            std::lock_guard<std::mutex> lock(views_mutex_);
            screen_ready_ = true;
            for (View *v : views_) v->screen_came();
            continue;
        }
        if (passed >= 0) close(passed);
        if (m.type == kMsgFrame && screen_ready_) {
            tell([](View *v) { v->frame_came(); });
        } else if (m.type == kMsgTrace) {
            tell([&payload](View *v) { v->trace_line(payload); });
        } else if (m.type == kMsgStatus) {
            tell([&payload](View *v) { v->status_came(payload); });
        }
    }
    std::lock_guard<std::mutex> lock(views_mutex_);
    {
        std::lock_guard<std::mutex> lock_end(mutex_);
        ended_ = true;
    }
    ended_changed_.notify_all();
    for (View *v : views_) v->channel_ended();
}

void PlayerLink::add_view(View *view) {
    std::lock_guard<std::mutex> lock(views_mutex_);
    views_.push_back(view);
    if (screen_ready_) view->screen_came();
    std::lock_guard<std::mutex> lock_end(mutex_);
    if (ended_) view->channel_ended();
}

void PlayerLink::remove_view(View *view) {
    std::lock_guard<std::mutex> lock(views_mutex_);
    views_.erase(std::remove(views_.begin(), views_.end(), view), views_.end());
}

bool PlayerLink::wait_for_end(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (ended_changed_.wait_for(lock, limit, [this] { return ended_; })) return true;
    // Only reading stops: the launcher may still send the stop on it.
    if (reader_.joinable()) shutdown(fd_, SHUT_RD);
    return false;
}

void PlayerLink::press(DFBInputDeviceKeySymbol key) {
    auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    ControlMessage m;
    m.type = kMsgKey;
    m.value = static_cast<uint32_t>(key);
    send_message(fd_, m);
    for (Recorder *r : recorders_) r->key(key, now);
}

void PlayerLink::shot(const std::string &name) {
    auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    ControlMessage m;
    m.type = kMsgShot;
    snprintf(m.text, sizeof m.text, "%s", name.c_str());
    send_message(fd_, m);
    for (Recorder *r : recorders_) r->shot(name, now);
}

void PlayerLink::add_recorder(Recorder *recorder) {
    std::lock_guard<std::mutex> lock(mutex_);
    recorders_.push_back(recorder);
}

void PlayerLink::remove_recorder(Recorder *recorder) {
    std::lock_guard<std::mutex> lock(mutex_);
    recorders_.erase(std::remove(recorders_.begin(), recorders_.end(), recorder), recorders_.end());
}

}  // namespace kvn_sim
