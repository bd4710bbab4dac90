#include "web_frames.h"

#include <string.h>

namespace kvn_sim {
namespace {

void put16(std::string &out, size_t at, int value) {
    out[at] = static_cast<char>(value & 0xff);
    out[at + 1] = static_cast<char>((value >> 8) & 0xff);
}

}  // namespace

bool changed_area(const Picture &before, const Picture &after, Area &area) {
    if (before.width != after.width || before.height != after.height ||
        before.pixels.size() != after.pixels.size()) {
        area = Area();
        return true;
    }
    const size_t width = static_cast<size_t>(after.width);
    auto row = [&](const Picture &p, int y) { return &p.pixels[y * width]; };
    auto row_differs = [&](int y) {
        return memcmp(row(before, y), row(after, y), width * sizeof(uint32_t)) != 0;
    };
    int top = 0, bottom = after.height - 1;
    while (top <= bottom && !row_differs(top)) ++top;
    if (top > bottom) return false;
    while (!row_differs(bottom)) --bottom;
    int left = after.width, right = -1;
    for (int y = top; y <= bottom; ++y) {
        const uint32_t *a = row(before, y), *b = row(after, y);
        for (int x = 0; x < left; ++x)
            if (a[x] != b[x]) {
                left = x;
                break;
            }
        for (int x = after.width - 1; x > right; --x)
            if (a[x] != b[x]) {
                right = x;
                break;
            }
    }
    area.x = left;
    area.y = top;
    area.width = right - left + 1;
    area.height = bottom - top + 1;
    return true;
}

WebFrames::Message WebFrames::message(const Picture &picture, Area area, uint32_t version) {
    std::string png;
    if (area.width < 0) area.width = picture.width, area.height = picture.height;
    if (!encode_png(picture, area, true, png)) return nullptr;
    auto out = std::make_shared<std::string>(kFrameHeaderBytes, '\0');
    (*out)[0] = 'F';
    for (int i = 0; i < 4; ++i) (*out)[4 + i] = static_cast<char>((version >> (8 * i)) & 0xff);
    int fields[] = {area.x, area.y, area.width, area.height, picture.width, picture.height};
    for (int i = 0; i < 6; ++i) put16(*out, 8 + 2 * i, fields[i]);
    out->append(png);
    return out;
}

bool WebFrames::take(const SharedScreen &screen) {
    if (!screen.latest(next_)) return false;
    Area area;
    if (!changed_area(current_, next_, area)) return false;
    Message step = message(next_, area, version_ + 1);
    std::lock_guard<std::mutex> lock(mutex_);
    current_.pixels.swap(next_.pixels);
    current_.width = next_.width;
    current_.height = next_.height;
    ++version_;
    step_ = step;
    whole_.reset();
    return true;
}

uint32_t WebFrames::version() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return version_;
}

WebFrames::Message WebFrames::message_after(uint32_t version, uint32_t &newest) {
    std::lock_guard<std::mutex> lock(mutex_);
    newest = version_;
    if (version_ == 0) return nullptr;
    if (version + 1 == version_ && step_) return step_;
    if (!whole_ || whole_version_ != version_) {
        whole_ = message(current_, Area(), version_);
        whole_version_ = version_;
    }
    return whole_;
}

}  // namespace kvn_sim
