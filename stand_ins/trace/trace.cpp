#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "kvn_trace.h"

namespace {

struct Trace {
    std::mutex mutex;
    std::vector<std::string> lines;
    FILE *file = nullptr;
    kvn_trace_listener_fn listener = nullptr;
    void *listener_data = nullptr;
    kvn_trace_prelude_fn prelude = nullptr;
    void *prelude_data = nullptr;

    Trace() {
        const char *path = getenv("KVN_TRACE_FILE");
        if (path != nullptr && *path != '\0') file = fopen(path, "a");
    }
    ~Trace() {
        if (file != nullptr) fclose(file);
    }
};

// Programs that trace also fork (the player runs shell commands from every
// application's thread): a child must not inherit the trace locked or half
// made, so forking waits for the call in progress.
std::mutex g_making;
std::atomic<Trace *> g_trace{nullptr};
void fork_prepare() {
    g_making.lock();
    if (Trace *t = g_trace.load()) t->mutex.lock();
}
void fork_done() {
    if (Trace *t = g_trace.load()) t->mutex.unlock();
    g_making.unlock();
}
const int g_fork_guard = pthread_atfork(fork_prepare, fork_done, fork_done);

Trace &trace() {
    if (Trace *t = g_trace.load(std::memory_order_acquire)) return *t;
    std::lock_guard<std::mutex> making(g_making);
    if (g_trace.load() == nullptr)
        g_trace.store(new Trace());  // outlives every static destructor that may trace
    return *g_trace.load();
}

}  // namespace

extern "C" void kvn_trace(const char *format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    int needed = vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) return;
    std::string line;
    if (static_cast<size_t>(needed) < sizeof small) {
        line.assign(small, static_cast<size_t>(needed));
    } else {
        line.resize(static_cast<size_t>(needed) + 1);
        va_start(args, format);
        vsnprintf(&line[0], line.size(), format, args);
        va_end(args);
        line.resize(static_cast<size_t>(needed));
    }
    Trace &t = trace();
    kvn_trace_prelude_fn prelude;
    void *prelude_data;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        prelude = t.prelude;
        prelude_data = t.prelude_data;
    }
    if (prelude != nullptr) prelude(prelude_data);
    kvn_trace_listener_fn listener;
    void *data;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        t.lines.push_back(line);
        if (t.file != nullptr) {
            fprintf(t.file, "%s\n", line.c_str());
            fflush(t.file);
        }
        listener = t.listener;
        data = t.listener_data;
    }
    if (listener != nullptr) listener(line.c_str(), data);
}

extern "C" size_t kvn_trace_count(void) {
    Trace &t = trace();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.lines.size();
}

extern "C" long kvn_trace_get(size_t index, char *buffer, size_t size) {
    Trace &t = trace();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (index >= t.lines.size()) return -1;
    const std::string &line = t.lines[index];
    if (buffer != nullptr && size > 0) {
        size_t n = line.size() < size - 1 ? line.size() : size - 1;
        memcpy(buffer, line.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<long>(line.size());
}

extern "C" void kvn_trace_clear(void) {
    Trace &t = trace();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.lines.clear();
}

extern "C" void kvn_trace_set_file(const char *path) {
    Trace &t = trace();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (t.file != nullptr) fclose(t.file);
    t.file = (path != nullptr && *path != '\0') ? fopen(path, "a") : nullptr;
}

extern "C" void kvn_trace_set_listener(kvn_trace_listener_fn listener, void *data) {
    Trace &t = trace();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.listener = listener;
    t.listener_data = data;
}

extern "C" void kvn_trace_set_prelude(kvn_trace_prelude_fn prelude, void *data) {
    Trace &t = trace();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.prelude = prelude;
    t.prelude_data = data;
}
