#include "kvn_test_support.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <mutex>

#include "input_driver.h"
#include "kvn_trace.h"
#include "platform/imports.h"

namespace kvn_test {

std::string stored(const char *key) {
    char *v = get_var_mem(key);
    std::string s = v ? v : "<null>";
    return free(v), s;
}

std::vector<std::string> fake_calls() {
    std::vector<std::string> lines;
    std::ifstream in("/run/kvn-fakes/calls.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

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

int init_display(const std::vector<std::string> &options) {
    static std::vector<std::string> args;
    static std::vector<char *> argv;
    args.assign(1, "kvn-test");
    args.insert(args.end(), options.begin(), options.end());
    argv.clear();
    for (std::string &s : args) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());
    char **argv_p = argv.data();
    return kvn_dfb_init(&argc, &argv_p, &kvn_dfb_global_context.kvn_dfb,
                        &kvn_dfb_global_context.kvn_screen);
}

void start_display() {
    static std::once_flag once;
    std::call_once(once, [] {
        init_display();
        kvn_dfb_context &g = kvn_dfb_global_context;
        kvn_input_driver::attach(g.kvn_dfb);
        kvn_layer_osd_init(g.kvn_dfb, &g.kvn_layer_osd, &g.kvn_layer_osd_config, nullptr, nullptr);
    });
}

}  // namespace kvn_test
