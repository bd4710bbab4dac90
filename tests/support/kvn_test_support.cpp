#include "kvn_test_support.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <mutex>

#include "kvn_trace.h"
#include "platform/platform.h"

namespace kvn_test {

namespace {

// The buffers alive, in the order made.  Posting and the owner's last Release take the same lock,
// so that an event never reaches a buffer that is being destroyed.
std::mutex g_inputs_mutex;
std::vector<IDirectFBEventBuffer *> g_inputs;
decltype(IDirectFB::CreateInputEventBuffer) g_create_input = nullptr;
decltype(IDirectFBEventBuffer::Release) g_release_input = nullptr;

DirectResult release_input(IDirectFBEventBuffer *buffer) {
    std::lock_guard<std::mutex> lock(g_inputs_mutex);
    g_inputs.erase(std::remove(g_inputs.begin(), g_inputs.end(), buffer), g_inputs.end());
    buffer->Release = g_release_input;
    return g_release_input(buffer);
}

DFBResult create_input(IDirectFB *dfb, DFBInputDeviceCapabilities caps, DFBBoolean global,
                       IDirectFBEventBuffer **buffer) {
    DFBResult result = g_create_input(dfb, caps, global, buffer);
    if (result == DFB_OK && *buffer != nullptr) {
        std::lock_guard<std::mutex> lock(g_inputs_mutex);
        g_release_input = (*buffer)->Release;
        (*buffer)->Release = release_input;
        g_inputs.push_back(*buffer);
    }
    return result;
}

}  // namespace

IDirectFBEventBuffer *standby_input() {
    std::lock_guard<std::mutex> lock(g_inputs_mutex);
    return g_inputs.empty() ? nullptr : g_inputs.front();
}

bool post_standby_input(const DFBEvent &event) {
    std::lock_guard<std::mutex> lock(g_inputs_mutex);
    return !g_inputs.empty() && g_inputs.front()->PostEvent(g_inputs.front(), &event) == DFB_OK;
}

int standby_input_pending() {
    std::lock_guard<std::mutex> lock(g_inputs_mutex);
    if (g_inputs.empty()) return -1;
    return g_inputs.front()->HasEvent(g_inputs.front()) == DFB_OK ? 1 : 0;
}

std::string stored(const char *key) {
    char *v = get_var_mem(key);
    std::string s = v ? v : "<null>";
    return free(v), s;
}

std::vector<std::string> file_lines(const std::string &path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> fake_calls() { return file_lines("/run/kvn-fakes/calls.log"); }

int open_descriptors() {
    int n = -1;  // the directory's own descriptor
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (struct dirent *e = readdir(dir)) n += e->d_name[0] != '.';
    return closedir(dir), n;
}

bool install_overlap_detecting_shutdown() {
    // Beside the target first, so that a copy of the script still running is not rewritten under
    // it.
    write_file("/etc/shutdown.sh.new",
               "#!/bin/sh\nlog=/run/kvn-fakes/calls.log\n"
               "if [ $# -gt 0 ]; then echo \"/etc/shutdown.sh $*\" >> $log; else echo "
               "/etc/shutdown.sh >> $log; fi\n"
               "mkdir /tmp/kvn-shutdown-running 2>/dev/null || echo OVERLAP >> $log\n"
               "sleep 0.03\nrmdir /tmp/kvn-shutdown-running 2>/dev/null\nexit 0\n");
    return chmod("/etc/shutdown.sh.new", 0755) == 0 &&
           rename("/etc/shutdown.sh.new", "/etc/shutdown.sh") == 0;
}

std::vector<std::string> trace_lines() {
    std::vector<std::string> lines;
    std::vector<char> line(1 << 16);
    for (size_t i = 0, n = kvn_trace_count();
         i < n && kvn_trace_get(i, line.data(), line.size()) >= 0; ++i)
        lines.push_back(line.data());
    return lines;
}

std::vector<osd_call> osd_calls() {
    std::vector<osd_call> calls(static_cast<size_t>(osd_service_count()));
    for (size_t i = 0; i < calls.size(); ++i) osd_service_get(static_cast<int>(i), &calls[i]);
    return calls;
}

void start_display() {
    static std::once_flag once;
    std::call_once(once, [] {
        static char *args[] = {const_cast<char *>("kvn-test"), nullptr};
        int argc = 1;
        char **argv = args;
        kvn_dfb_context &g = kvn_dfb_global_context;
        kvn_dfb_init(&argc, &argv, &g.kvn_dfb, &g.kvn_screen);
        g_create_input = g.kvn_dfb->CreateInputEventBuffer;
        g.kvn_dfb->CreateInputEventBuffer = create_input;
        kvn_layer_osd_init(g.kvn_dfb, &g.kvn_layer_osd, &g.kvn_layer_osd_config, nullptr, nullptr);
    });
}

void write_png(const std::string &path, int width, int height, unsigned rgb) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width), image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<png_byte>((rgb >> (16 - 8 * (i % 3))) & 0xff);
    ASSERT_NE(0, png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr))
        << path;
}

}  // namespace kvn_test
