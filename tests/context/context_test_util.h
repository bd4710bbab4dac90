// Helpers of the display-context tests: start-up with chosen DirectFB options, descriptor counts,
// spies.
#ifndef KVN_CONTEXT_TEST_UTIL_H
#define KVN_CONTEXT_TEST_UTIL_H

#include <dirent.h>
#include <gtest/gtest.h>
#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "korvan_framework_lib.h"

namespace ctx_test {

// kvn_dfb_init on the global context, with extra DirectFB options such as "--dfb:mode=800x600".
inline int init_display(std::vector<std::string> options = {}) {
    static std::vector<std::string> args;
    static std::vector<char *> argv;
    args.assign(1, "kvn-context-test"), args.insert(args.end(), options.begin(), options.end()),
        argv.clear();
    for (auto &s : args) argv.push_back(&s[0]);
    int argc = static_cast<int>(args.size());
    char **argv_p = (argv.push_back(nullptr), argv.data());
    return kvn_dfb_init(&argc, &argv_p, &kvn_dfb_global_context.kvn_dfb,
                        &kvn_dfb_global_context.kvn_screen);
}

inline void init_osd_layer() {
    kvn_dfb_context &c = kvn_dfb_global_context;
    kvn_layer_osd_init(c.kvn_dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, nullptr, nullptr);
}

inline int open_descriptor_count() {
    int n = -1;  // the directory's own descriptor
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (struct dirent *e = readdir(dir)) n += e->d_name[0] != '.';
    return closedir(dir), n;
}

// The guarded-call report for a failing call: this module, the line, then DirectFB's report quoting
// the text.
inline std::string guard_report(const std::string &text) {
    std::string pattern = "korvan_framework_lib <[0-9]+>:\n\t.*DirectFBError \\[";
    for (char c : text)
        pattern += std::string(strchr("()*&|.[]{}+?^$\\", c) != nullptr ? "\\" : "") + c;
    return pattern + "\\]";
}

// Whether `text` holds every one of `parts`; the failure names the missing one.
inline ::testing::AssertionResult has(const std::string &text,
                                      std::initializer_list<std::string> parts) {
    for (const std::string &p : parts)
        if (text.find(p) == std::string::npos)
            return ::testing::AssertionFailure() << "no \"" << p << "\" in: " << text;
    return ::testing::AssertionSuccess();
}

// A copy of a real interface whose methods can be replaced one by one (they reach the object
// through `real`).
template <typename Interface>
struct Spy {
    Interface iface;
    Interface *real;
    explicit Spy(Interface *real_iface) : iface(*real_iface), real(real_iface) {}
    static Spy *of(Interface *thiz) { return reinterpret_cast<Spy *>(thiz); }
};

// Keeps an object alive until the process ends, at a stable address (spies stand for interfaces a
// whole test).
template <typename T, typename... Args>
T *keep(Args &&...args) {
    static std::deque<T> pool;
    return &pool.emplace_back(std::forward<Args>(args)...);
}

}  // namespace ctx_test

#endif
