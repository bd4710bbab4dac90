#include "view_channel.h"

#include <errno.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

namespace kvn_sim {

struct SharedScreen::Header {
    uint32_t magic;
    int32_t width, height, help_width, help_height;
    std::atomic<uint32_t> latest;     // the slot holding the newest frame
    std::atomic<uint32_t> serial[2];  // odd while a slot is being written
};

namespace {
constexpr uint32_t kMagic = 0x4b565331;  // "KVS1"
constexpr int kMaxSide = 4096;
}  // namespace

bool make_channel(int fds[2]) {
    return socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) == 0;
}

bool send_message(int fd, const ControlMessage &message, int pass_fd, const std::string &payload) {
    size_t extra = payload.size() < kMaxPayload ? payload.size() : kMaxPayload;
    struct iovec io[2] = {{const_cast<ControlMessage *>(&message), sizeof message},
                          {const_cast<char *>(payload.data()), extra}};
    struct msghdr header;
    memset(&header, 0, sizeof header);
    header.msg_iov = io;
    header.msg_iovlen = 2;
    char control[CMSG_SPACE(sizeof(int))];
    if (pass_fd >= 0) {
        memset(control, 0, sizeof control);
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        struct cmsghdr *c = CMSG_FIRSTHDR(&header);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        memcpy(CMSG_DATA(c), &pass_fd, sizeof(int));
    }
    ssize_t n;
    do {
        n = sendmsg(fd, &header, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof message + extra);
}

bool receive_message(int fd, ControlMessage &message, int *passed_fd, std::string *payload) {
    if (passed_fd != nullptr) *passed_fd = -1;
    char extra[kMaxPayload];
    struct iovec io[2] = {{&message, sizeof message}, {extra, sizeof extra}};
    struct msghdr header;
    memset(&header, 0, sizeof header);
    header.msg_iov = io;
    header.msg_iovlen = 2;
    char control[CMSG_SPACE(sizeof(int))];
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = recvmsg(fd, &header, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    for (struct cmsghdr *c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        int received;
        memcpy(&received, CMSG_DATA(c), sizeof(int));
        if (passed_fd != nullptr)
            *passed_fd = received;
        else
            close(received);
    }
    // A short, long or foreign packet is no message: read it as nothing at all.
    bool whole = n >= static_cast<ssize_t>(sizeof message) && !(header.msg_flags & MSG_TRUNC);
    if (!whole) message = ControlMessage();
    message.text[sizeof message.text - 1] = '\0';
    if (payload != nullptr)
        payload->assign(extra, whole ? static_cast<size_t>(n) - sizeof message : 0);
    return true;
}

SharedScreen::~SharedScreen() {
    if (memory_ != nullptr) munmap(memory_, size_);
    if (fd_ >= 0) close(fd_);
}

SharedScreen::Header *SharedScreen::header() const { return static_cast<Header *>(memory_); }

uint32_t *SharedScreen::slot(uint32_t index) const {
    size_t frame = static_cast<size_t>(header()->width) * header()->height;
    return reinterpret_cast<uint32_t *>(static_cast<char *>(memory_) + sizeof(Header)) +
           frame * index;
}

int SharedScreen::width() const { return header()->width; }
int SharedScreen::height() const { return header()->height; }

bool SharedScreen::create(int width, int height, const Picture &help, std::string &error) {
    size_ = sizeof(Header) + (static_cast<size_t>(width) * height * 2 +
                              static_cast<size_t>(help.width) * help.height) *
                                 sizeof(uint32_t);
    fd_ = memfd_create("korvan-sim-screen", MFD_CLOEXEC);
    if (fd_ < 0 || ftruncate(fd_, static_cast<off_t>(size_)) != 0) {
        error = std::string("cannot make shared memory for the window: ") + strerror(errno);
        return false;
    }
    memory_ = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (memory_ == MAP_FAILED) {
        memory_ = nullptr;
        error = std::string("cannot map shared memory for the window: ") + strerror(errno);
        return false;
    }
    Header *h = new (memory_) Header;
    h->magic = kMagic;
    h->width = width;
    h->height = height;
    h->help_width = help.width;
    h->help_height = help.height;
    h->latest = 0;
    h->serial[0] = h->serial[1] = 0;
    if (!help.pixels.empty())
        memcpy(slot(2), help.pixels.data(), help.pixels.size() * sizeof(uint32_t));
    return true;
}

bool SharedScreen::map(int fd, std::string &error) {
    fd_ = fd;
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(Header))) {
        error = "the player sent no usable screen";
        return false;
    }
    size_ = static_cast<size_t>(st.st_size);
    memory_ = mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd, 0);
    if (memory_ == MAP_FAILED) {
        memory_ = nullptr;
        error = std::string("cannot map the player's screen: ") + strerror(errno);
        return false;
    }
    // The sizes come from another process: check them before trusting them.
    const Header *h = header();
    size_t needed = sizeof(Header) + (static_cast<size_t>(h->width) * h->height * 2 +
                                      static_cast<size_t>(h->help_width) * h->help_height) *
                                         sizeof(uint32_t);
    if (h->magic != kMagic || h->width <= 0 || h->height <= 0 || h->width > kMaxSide ||
        h->height > kMaxSide || h->help_width < 0 || h->help_height < 0 ||
        h->help_width > kMaxSide || h->help_height > kMaxSide || needed > size_) {
        error = "the player's screen is malformed";
        return false;
    }
    return true;
}

void SharedScreen::publish(const Picture &frame) {
    Header *h = header();
    if (frame.width != h->width || frame.height != h->height) return;
    uint32_t next = h->latest.load() ^ 1u;
    h->serial[next].fetch_add(1);
    memcpy(slot(next), frame.pixels.data(), frame.pixels.size() * sizeof(uint32_t));
    h->serial[next].fetch_add(1);
    h->latest.store(next);
}

bool SharedScreen::latest(Picture &out) const {
    const Header *h = header();
    out.width = h->width;
    out.height = h->height;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height);
    for (int attempt = 0; attempt < 4; ++attempt) {
        uint32_t index = h->latest.load() & 1u;
        uint32_t before = h->serial[index].load();
        if (before & 1u) continue;
        memcpy(out.pixels.data(), slot(index), out.pixels.size() * sizeof(uint32_t));
        if (h->serial[index].load() == before) return before != 0;
    }
    return false;
}

Picture SharedScreen::help() const {
    Picture help;
    help.width = header()->help_width;
    help.height = header()->help_height;
    help.pixels.assign(slot(2), slot(2) + static_cast<size_t>(help.width) * help.height);
    return help;
}

}  // namespace kvn_sim
