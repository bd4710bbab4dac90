#include "web_server.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <dirent.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

#include "keyboard_map.h"
#include "player_link.h"
#include "recorder.h"
#include "sim_script.h"
#include "web_frames.h"

namespace kvn_sim {
namespace {

// The page, its style and its script in one (sim/CMakeLists.txt).
const char kPage[] =
#include "web_page.inc"
    ;

// Pages open at once; each holds one of the server's threads.
constexpr int kMaxPages = 64;
// What a page may send in one message: a key, an acknowledgement, a button.
constexpr size_t kMaxMessageBytes = 256;
// Trace lines waiting for a page that is slow to read; past this the oldest go.
constexpr size_t kLinesKept = 2000;
// Trace lines a page gets when it opens.
constexpr size_t kBacklogLines = 500;
// Frames sent to a page before it has shown them: a page that stops
// reading gets no more, and nothing queues up for it.
constexpr size_t kFramesAhead = 2;
// Other messages (shot names, recordings) waiting for a page.
constexpr size_t kNotesKept = 16;
// A write that a page does not take within this ends its connection; so
// does a request whose header does not come within it.
constexpr const char *kWriteTimeoutMs = "5000";
// The largest request header.
constexpr const char *kMaxRequestBytes = "8192";

std::string random_token() {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0) got += static_cast<size_t>(n);
    }
    std::string token;
    char hex[3];
    for (unsigned char b : bytes) {
        snprintf(hex, sizeof hex, "%02x", b);
        token += hex;
    }
    return token;
}

// Compares in a time that does not depend on where the texts differ.
bool same_secret(const std::string &a, const std::string &b) {
    unsigned char differ = a.size() != b.size();
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) differ |= a[i] ^ b[i];
    return differ == 0;
}

std::string message(char type, const std::string &text) { return std::string(1, type) + text; }

struct Page {
    mg_connection *conn = nullptr;
    // The page's socket, found by its addresses, to end a page that stops
    // reading (civetweb ends a connection only when its peer does).
    int fd = -1;
    sockaddr_in local{}, peer{};

    std::mutex mutex;  // everything below
    std::condition_variable wake;
    bool open = true;
    std::deque<std::string> lines;
    size_t lines_dropped = 0;
    std::string status;
    std::deque<std::string> notes;
    uint32_t shown = 0;  // the frame version sent last
    std::deque<uint32_t> unshown;
    Recorder recorder;
    bool recording = false;
    std::thread sender;  // the one that writes to the page
};

bool same_address(const sockaddr_in &a, const sockaddr_in &b) {
    return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
}

bool addresses_of(int fd, sockaddr_in &local, sockaddr_in &peer) {
    socklen_t l = sizeof local, p = sizeof peer;
    return getsockname(fd, reinterpret_cast<sockaddr *>(&local), &l) == 0 &&
           getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &p) == 0 &&
           local.sin_family == AF_INET && peer.sin_family == AF_INET;
}

// The descriptor of a page's connection, by its addresses at both ends.
int socket_of(const mg_request_info *ri, sockaddr_in &local, sockaddr_in &peer) {
    sockaddr_in want{};
    want.sin_port = htons(static_cast<uint16_t>(ri->remote_port));
    if (inet_pton(AF_INET, ri->remote_addr, &want.sin_addr) != 1) return -1;
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int found = -1;
    for (dirent *e; found < 0 && (e = readdir(dir)) != nullptr;) {
        int fd = atoi(e->d_name);
        if (fd > 2 && fd != dirfd(dir) && addresses_of(fd, local, peer) &&
            same_address(peer, want) && ntohs(local.sin_port) == ri->server_port)
            found = fd;
    }
    closedir(dir);
    return found;
}

}  // namespace

struct WebDesk::Server : PlayerLink::View {
    PlayerLink *link = nullptr;
    mg_context *context = nullptr;
    std::string token, address;
    int port = 0;
    unsigned divisor = 1;
    std::atomic<int> shots{0};

    std::mutex mutex;  // the pages, the backlog and the status
    std::list<std::shared_ptr<Page>> pages;
    std::deque<std::string> backlog;
    std::string status;
    bool ended = false;

    WebFrames frames;
    std::thread framer;
    std::mutex frame_mutex;
    std::condition_variable frame_wake;
    bool frame_pending = false, stopping = false;

    // --- what the player sends ------------------------------------------
    void frame_came() override {
        std::lock_guard<std::mutex> lock(frame_mutex);
        frame_pending = true;
        frame_wake.notify_one();
    }
    void screen_came() override { frame_came(); }

    void trace_line(const std::string &line) override {
        std::lock_guard<std::mutex> lock(mutex);
        backlog.push_back(line);
        if (backlog.size() > kBacklogLines) backlog.pop_front();
        for (auto &p : pages) {
            std::lock_guard<std::mutex> page_lock(p->mutex);
            if (p->lines.size() >= kLinesKept) {
                p->lines.pop_front();
                ++p->lines_dropped;
            }
            p->lines.push_back(line);
            p->wake.notify_one();
        }
    }

    void status_came(const std::string &now) override {
        std::lock_guard<std::mutex> lock(mutex);
        status = now;
        for (auto &p : pages) {
            std::lock_guard<std::mutex> page_lock(p->mutex);
            p->status = now;
            p->wake.notify_one();
        }
    }

    void channel_ended() override {
        std::lock_guard<std::mutex> lock(mutex);
        ended = true;
        for (auto &p : pages) note(*p, message('E', ""));
    }

    // Takes each new frame and wakes the pages; frames that come while
    // one is encoded are folded into the next.
    void make_frames() {
        std::unique_lock<std::mutex> lock(frame_mutex);
        for (;;) {
            frame_wake.wait(lock, [this] { return frame_pending || stopping; });
            if (stopping) return;
            frame_pending = false;
            lock.unlock();
            const SharedScreen *screen = link->screen();
            if (screen != nullptr && frames.take(*screen)) {
                std::lock_guard<std::mutex> pages_lock(mutex);
                for (auto &p : pages) {
                    std::lock_guard<std::mutex> page_lock(p->mutex);
                    p->wake.notify_one();
                }
            }
            lock.lock();
        }
    }

    // --- one page ---------------------------------------------------------
    static void note(Page &p, const std::string &text) {
        std::lock_guard<std::mutex> lock(p.mutex);
        if (p.notes.size() < kNotesKept) p.notes.push_back(text);
        p.wake.notify_one();
    }

    bool frame_due(Page &p) {
        return p.unshown.size() < kFramesAhead && frames.version() != p.shown;
    }

    static bool write(Page &p, const std::string &bytes) {
        int n = mg_websocket_write(p.conn, MG_WEBSOCKET_OPCODE_BINARY, bytes.data(), bytes.size());
        return n > 0 && static_cast<size_t>(n) >= bytes.size();
    }

    // Ends a page's connection: its reads and writes fail at once, and
    // civetweb closes it (close_page).
    static void drop(Page &p) {
        sockaddr_in local{}, peer{};
        if (p.fd >= 0 && addresses_of(p.fd, local, peer) && same_address(local, p.local) &&
            same_address(peer, p.peer))
            shutdown(p.fd, SHUT_RDWR);
    }

    // Sends a page what is new, in a thread of the page's own: a page that
    // is slow to read holds up no other, nor the player.
    void send_to(Page &p) {
        std::unique_lock<std::mutex> lock(p.mutex);
        while (p.open) {
            p.wake.wait(lock, [&] {
                return !p.open || !p.lines.empty() || !p.status.empty() || !p.notes.empty() ||
                       frame_due(p);
            });
            if (!p.open) break;
            std::vector<std::string> out;
            if (p.lines_dropped > 0)
                p.lines.push_front("(" + std::to_string(p.lines_dropped) +
                                   " trace lines not shown: the page did not keep up)");
            p.lines_dropped = 0;
            std::string lines;
            for (const std::string &l : p.lines) lines += (lines.empty() ? "" : "\n") + l;
            if (!p.lines.empty()) out.push_back(message('T', lines));
            p.lines.clear();
            if (!p.status.empty()) out.push_back(message('U', p.status));
            p.status.clear();
            for (std::string &n : p.notes) out.push_back(std::move(n));
            p.notes.clear();
            bool frame = frame_due(p);
            lock.unlock();
            bool ok = true;
            for (const std::string &m : out) ok = ok && write(p, m);
            uint32_t newest = 0;
            WebFrames::Message m = frame ? frames.message_after(p.shown, newest) : nullptr;
            if (ok && m) ok = write(p, *m);
            lock.lock();
            if (m) {
                p.shown = newest;
                p.unshown.push_back(newest);
            }
            if (!ok) {
                drop(p);
                break;
            }
        }
    }

    // The page's messages: "key REPEAT NAME" (a browser's key name),
    // "remote NAME", "ack VERSION", "shot", "record start|stop", "ping".
    void handle(Page &p, const std::string &text) {
        if (text.compare(0, 4, "ack ") == 0) {
            uint32_t version = static_cast<uint32_t>(strtoul(text.c_str() + 4, nullptr, 10));
            std::lock_guard<std::mutex> lock(p.mutex);
            while (!p.unshown.empty() && p.unshown.front() <= version) p.unshown.pop_front();
            p.wake.notify_one();
        } else if (text.compare(0, 6, "key 0 ") == 0 || text.compare(0, 6, "key 1 ") == 0) {
            int keycode = keycode_for_browser_key(text.substr(6));
            if (const KeyboardKey *k = remote_key_for_press(keycode, text[4] == '1'))
                link->press(k->remote);
        } else if (text.compare(0, 7, "remote ") == 0) {
            DFBInputDeviceKeySymbol key = key_from_name(text.substr(7));
            for (const KeyboardKey &k : keyboard_map())
                if (k.remote == key && key != DIKS_NULL) {
                    link->press(key);
                    break;
                }
        } else if (text == "shot") {
            char name[32];
            snprintf(name, sizeof name, "web-%03d", ++shots);
            link->shot(name);
            note(p, message('N', name));
        } else if (text == "record start" && divisor == 1 && !p.recording) {
            p.recording = true;
            p.recorder.open_in_memory();
            link->add_recorder(&p.recorder);
        } else if (text == "record stop" && p.recording) {
            p.recording = false;
            link->remove_recorder(&p.recorder);
            p.recorder.close(Recorder::Clock::now());
            note(p, message('R', p.recorder.text()));
        }
    }

    std::shared_ptr<Page> page_of(const mg_connection *conn) {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto &p : pages)
            if (p->conn == conn) return p;
        return nullptr;
    }

    void open_page(mg_connection *conn) {
        auto p = std::make_shared<Page>();
        p->conn = conn;
        p->fd = socket_of(mg_get_request_info(conn), p->local, p->peer);
        std::string keys;
        for (const KeyboardKey &k : keyboard_map())
            keys += std::string(k.label) + "\t" + key_name(k.remote) + "\t" + k.meaning + "\t" +
                    browser_key_name(k.keycode) + "\t" + (k.repeats ? "1" : "0") + "\n";
        p->notes.push_back(message('K', keys));
        p->notes.push_back(message('I', "divisor=" + std::to_string(divisor)));
        std::lock_guard<std::mutex> lock(mutex);
        p->lines = backlog;
        p->status = status;
        if (ended) p->notes.push_back(message('E', ""));
        Page *raw = p.get();
        p->sender = std::thread([this, raw] { send_to(*raw); });
        pages.push_back(p);
    }

    void close_page(const mg_connection *conn) {
        std::shared_ptr<Page> p = page_of(conn);
        if (!p) return;
        drop(*p);
        {
            std::lock_guard<std::mutex> lock(p->mutex);
            p->open = false;
            p->wake.notify_one();
        }
        p->sender.join();
        if (p->recording) link->remove_recorder(&p->recorder);
        std::lock_guard<std::mutex> lock(mutex);
        pages.remove(p);
    }

    // --- requests -----------------------------------------------------------
    // The Host a browser names this server by: the address it listens on
    // (or localhost for the loopback address), with the port.  Any other
    // name may be a foreign site's, resolved to this address (DNS rebinding).
    bool host_allowed(const char *host) const {
        if (host == nullptr) return false;
        std::string h = host, name = h, port_text = "80";
        size_t colon = h.rfind(':');
        if (colon != std::string::npos) name = h.substr(0, colon), port_text = h.substr(colon + 1);
        if (port_text != std::to_string(port)) return false;
        if (name == address) return true;
        if (address == "127.0.0.1" && strcasecmp(name.c_str(), "localhost") == 0) return true;
        // Listening on every address: any address given as such.
        in_addr parsed;
        return address == "0.0.0.0" && inet_pton(AF_INET, name.c_str(), &parsed) == 1;
    }

    int refuse(mg_connection *conn, int status, const char *why) {
        mg_send_http_error(conn, status, "%s\n", why);
        return status;
    }

    int begin_request(mg_connection *conn) {
        const mg_request_info *ri = mg_get_request_info(conn);
        if (!host_allowed(mg_get_header(conn, "Host")))
            return refuse(conn, 403, "this server answers to its own address only");
        char given[80] = "";
        const char *query = ri->query_string != nullptr ? ri->query_string : "";
        if (mg_get_var(query, strlen(query), "token", given, sizeof given) < 0 ||
            !same_secret(given, token))
            return refuse(conn, 403, "the address needs the token that korvan-sim printed");
        const char *origin = mg_get_header(conn, "Origin");
        if (origin != nullptr &&
            std::string(origin) != "http://" + std::string(mg_get_header(conn, "Host")))
            return refuse(conn, 403, "requests from other sites are refused");
        if (strcmp(ri->request_method, "GET") != 0)
            return refuse(conn, 405, "only GET is served here");
        if (ri->content_length > 0) return refuse(conn, 413, "requests carry no body here");
        std::string path = ri->local_uri != nullptr ? ri->local_uri : "";
        if (path == "/ws") return 0;  // the page's connection (civetweb checks the upgrade)
        if (path != "/") return refuse(conn, 404, "nothing here but the page at /");
        // Nothing is fetched from anywhere, and the token in the address
        // goes nowhere.
        size_t length = sizeof kPage - 1;
        mg_response_header_start(conn, 200);
        mg_response_header_add(conn, "Content-Type", "text/html; charset=utf-8", -1);
        mg_response_header_add(conn, "Content-Length", std::to_string(length).c_str(), -1);
        mg_response_header_add(conn, "Cache-Control", "no-store", -1);
        mg_response_header_add(conn, "Referrer-Policy", "no-referrer", -1);
        mg_response_header_add(conn, "X-Content-Type-Options", "nosniff", -1);
        mg_response_header_add(conn, "Content-Security-Policy",
                               "default-src 'none'; script-src 'unsafe-inline'; style-src "
                               "'unsafe-inline'; img-src blob: data:; connect-src 'self'; "
                               "base-uri 'none'; form-action 'none'; frame-ancestors 'none'",
                               -1);
        mg_response_header_send(conn);
        mg_write(conn, kPage, length);
        return 200;
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(frame_mutex);
            stopping = true;
            frame_wake.notify_one();
        }
        if (framer.joinable()) framer.join();
        // The pages take their last messages (the end) first, for a moment.
        for (int i = 0; i < 50; ++i) {
            bool sent = true;
            {
                std::lock_guard<std::mutex> lock(mutex);
                for (auto &p : pages) {
                    std::lock_guard<std::mutex> page_lock(p->mutex);
                    sent = sent && p->notes.empty() && p->lines.empty();
                }
            }
            if (sent) break;
            usleep(10000);
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (auto &p : pages) drop(*p);
        }
        if (context == nullptr) return;
        // civetweb's own thread looks at its stop only between waits for a
        // connection: one made here ends that wait at once.
        std::thread wake([this] {
            usleep(20000);
            int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(static_cast<uint16_t>(port));
            inet_pton(AF_INET, address == "0.0.0.0" ? "127.0.0.1" : address.c_str(), &to.sin_addr);
            if (s >= 0) {
                connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to);
                close(s);
            }
        });
        mg_stop(context);
        wake.join();
        context = nullptr;
        mg_exit_library();
    }
};

namespace {

WebDesk::Server *server_of(const mg_connection *conn) {
    return static_cast<WebDesk::Server *>(mg_get_user_data(mg_get_context(conn)));
}

int on_request(mg_connection *conn) { return server_of(conn)->begin_request(conn); }

int on_connect(const mg_connection *conn, void *) {
    WebDesk::Server *s = server_of(conn);
    std::lock_guard<std::mutex> lock(s->mutex);
    return s->pages.size() < static_cast<size_t>(kMaxPages) ? 0 : 1;
}

void on_ready(mg_connection *conn, void *) { server_of(conn)->open_page(conn); }

int on_data(mg_connection *conn, int bits, char *data, size_t length, void *) {
    int opcode = bits & 0x0f;
    if (opcode == MG_WEBSOCKET_OPCODE_PING || opcode == MG_WEBSOCKET_OPCODE_PONG) return 1;
    if (opcode != MG_WEBSOCKET_OPCODE_TEXT || length > kMaxMessageBytes) return 0;
    WebDesk::Server *s = server_of(conn);
    if (std::shared_ptr<Page> p = s->page_of(conn)) s->handle(*p, std::string(data, length));
    return 1;
}

void on_close(const mg_connection *conn, void *) { server_of(conn)->close_page(conn); }

int no_log(const mg_connection *, const char *) { return 1; }

}  // namespace

WebDesk::WebDesk() = default;
WebDesk::~WebDesk() { stop(); }

bool WebDesk::start(const Options &options, PlayerLink &link, std::string &error) {
    server_.reset(new Server);
    Server &s = *server_;
    s.link = &link;
    s.divisor = options.divisor;
    s.token = random_token();
    if (!parse_web_address(options.web, s.address, s.port)) {
        error = "no address in " + options.web;
        return false;
    }
    mg_init_library(MG_FEATURES_WEBSOCKET);
    std::string ports = s.address + ":" + std::to_string(s.port);
    std::string workers = std::to_string(kMaxPages + 8);
    const char *config[] = {"listening_ports",
                            ports.c_str(),
                            "num_threads",
                            workers.c_str(),
                            "request_timeout_ms",
                            kWriteTimeoutMs,
                            "max_request_size",
                            kMaxRequestBytes,
                            "enable_keep_alive",
                            "no",
                            "tcp_nodelay",
                            "1",
                            "enable_directory_listing",
                            "no",
                            "access_control_allow_origin",
                            "",
                            nullptr};
    mg_callbacks callbacks;
    memset(&callbacks, 0, sizeof callbacks);
    callbacks.begin_request = on_request;
    callbacks.log_message = no_log;
    s.context = mg_start(&callbacks, &s, config);
    if (s.context == nullptr) {
        error = "cannot listen on " + ports + " (is the port in use?)";
        mg_exit_library();
        return false;
    }
    mg_server_port bound[1];
    if (mg_get_server_ports(s.context, 1, bound) == 1) s.port = bound[0].port;
    mg_set_websocket_handler(s.context, "/ws", on_connect, on_ready, on_data, on_close, nullptr);
    s.framer = std::thread([&s] { s.make_frames(); });
    link.add_view(&s);
    fprintf(stderr, "korvan-sim: the player in a web page: http://%s:%d/?token=%s\n",
            s.address == "0.0.0.0" ? "127.0.0.1" : s.address.c_str(), s.port, s.token.c_str());
    return true;
}

void WebDesk::stop() {
    if (!server_) return;
    server_->link->remove_view(server_.get());
    server_->stop();
    server_.reset();
}

}  // namespace kvn_sim
