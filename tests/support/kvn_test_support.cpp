#include "kvn_test_support.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "kvn_platform.h"
#include "kvn_trace.h"

namespace kvn_test {

bool in_sandbox() {
    const char *v = getenv("KVN_IN_SANDBOX");
    return v != nullptr && *v == '1';
}

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file(const std::string &path, const std::string &content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

void remove_file(const std::string &path) { unlink(path.c_str()); }

std::string stored(const char *key) {
    char *v = get_var_mem(key);
    std::string s = v ? v : "<null>";
    free(v);
    return s;
}

std::vector<std::string> fake_calls() {
    std::vector<std::string> lines;
    std::ifstream in("/run/kvn-fakes/calls.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void clear_fake_calls() { write_file("/run/kvn-fakes/calls.log", ""); }

void set_torrent_daemon_running(bool running) {
    write_file("/run/kvn-fakes/pidof.status", running ? "0\n" : "1\n");
}

bool install_stand_in(const std::string &path, const std::string &script) {
    // Beside the target first, so that the swap is one rename; a read-only
    // folder gets the script bound over the fake instead.
    std::string next = path + ".kvn-new";
    write_file(next, script);
    if (chmod(next.c_str(), 0755) == 0 && rename(next.c_str(), path.c_str()) == 0) return true;
    unlink(next.c_str());
    mkdir("/tmp/kvn-stand-ins", 0755);
    std::string copy = "/tmp/kvn-stand-ins/" + path.substr(path.find_last_of('/') + 1);
    write_file(copy, script);
    return chmod(copy.c_str(), 0755) == 0 && mount(copy.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

bool install_overlap_detecting_shutdown() {
    return install_stand_in("/etc/shutdown.sh",
                            "#!/bin/sh\n"
                            "log=/run/kvn-fakes/calls.log\n"
                            "if [ $# -gt 0 ]; then echo \"/etc/shutdown.sh $*\" >> $log; else echo /etc/shutdown.sh >> $log; fi\n"
                            "mkdir /tmp/kvn-shutdown-running 2>/dev/null || echo OVERLAP >> $log\n"
                            "sleep 0.03\n"
                            "rmdir /tmp/kvn-shutdown-running 2>/dev/null\n"
                            "exit 0\n");
}

std::vector<std::string> trace_lines() {
    std::vector<std::string> lines;
    size_t n = kvn_trace_count();
    for (size_t i = 0; i < n; ++i) {
        long len = kvn_trace_get(i, nullptr, 0);
        if (len < 0) break;
        std::string line(static_cast<size_t>(len) + 1, '\0');
        kvn_trace_get(i, &line[0], line.size());
        line.resize(static_cast<size_t>(len));
        lines.push_back(line);
    }
    return lines;
}

std::vector<osd_call> osd_calls() {
    std::vector<osd_call> calls;
    int n = osd_service_count();
    for (int i = 0; i < n; ++i) {
        osd_call c;
        if (osd_service_get(i, &c) == 0) calls.push_back(c);
    }
    return calls;
}

void start_display() {
    static std::once_flag once;
    std::call_once(once, [] {
        static char arg0[] = "kvn-test";
        static char *argv_store[] = {arg0, nullptr};
        int argc = 1;
        char **argv = argv_store;
        kvn_dfb_init(&argc, &argv, &kvn_dfb_global_context.kvn_dfb,
                     &kvn_dfb_global_context.kvn_screen);
        kvn_layer_osd_init(kvn_dfb_global_context.kvn_dfb, &kvn_dfb_global_context.kvn_layer_osd,
                           &kvn_dfb_global_context.kvn_layer_osd_config, nullptr, nullptr);
    });
}

DFBWindowEvent key_event(DFBInputDeviceKeySymbol key, DFBWindowEventType type, DFBWindowEventFlags flags) {
    DFBWindowEvent e{};
    e.clazz = DFEC_WINDOW;
    e.type = type;
    e.flags = flags;
    e.key_symbol = key;
    return e;
}

void post_key(IDirectFBEventBuffer *buffer, DFBInputDeviceKeySymbol key, DFBWindowEventType type,
              DFBWindowEventFlags flags) {
    DFBEvent event{};
    event.window = key_event(key, type, flags);
    buffer->PostEvent(buffer, &event);
}

DFBEvent input_key(DFBInputDeviceKeySymbol key, bool repeat) {
    DFBEvent event{};
    event.input.clazz = DFEC_INPUT;
    event.input.type = DIET_KEYPRESS;
    event.input.flags = static_cast<DFBInputEventFlags>(DIEF_KEYSYMBOL | (repeat ? DIEF_REPEAT : 0));
    event.input.key_symbol = key;
    return event;
}

void post_input_key(IDirectFBEventBuffer *buffer, DFBInputDeviceKeySymbol key, bool repeat) {
    DFBEvent event = input_key(key, repeat);
    buffer->PostEvent(buffer, &event);
}

size_t heap_in_use() { return mallinfo2().uordblks; }

void write_png(const std::string &path, int width, int height, unsigned rgb) {
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<size_t>(width) * 3);
    for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<png_byte>((rgb >> (16 - 8 * (i % 3))) & 0xff);
    for (int y = 0; y < height; ++y) png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    fclose(f);
}

}  // namespace kvn_test
