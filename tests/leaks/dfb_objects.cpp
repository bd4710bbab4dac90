#include "dfb_objects.h"

#include <dlfcn.h>
#include <string.h>

#include <directfb.h>

#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

struct Record {
    const char *kind = "";
    int refs = 0;
};

std::mutex g_mutex;
std::unordered_map<void *, Record> g_alive;
// Each interface's own table as DirectFB made it; kept after the release,
// since an address may be reused only by a new interface, which replaces it.
std::unordered_map<void *, std::vector<char>> g_original;

template <typename I>
I original(I *thiz) {
    I table;
    std::lock_guard<std::mutex> lock(g_mutex);
    memcpy(&table, g_original.at(thiz).data(), sizeof table);
    return table;
}

template <typename I>
DirectResult add_ref(I *thiz) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_alive[thiz].refs;
    }
    return original(thiz).AddRef(thiz);
}

template <typename I>
DirectResult release(I *thiz) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_alive.find(thiz);
        if (it != g_alive.end() && --it->second.refs <= 0) g_alive.erase(it);
    }
    return original(thiz).Release(thiz);
}

template <typename I>
void wrap_makers(I *) {}
void wrap_makers(IDirectFB *i);
void wrap_makers(IDirectFBDisplayLayer *i);
void wrap_makers(IDirectFBWindow *i);
void wrap_makers(IDirectFBSurface *i);

// Counts a new interface; one handed out again was counted by its AddRef.
template <typename I>
void track(I *i, const char *kind) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_alive.count(i) != 0) return;
        g_alive[i] = Record{kind, 1};
        std::vector<char> &table = g_original[i];
        table.assign(reinterpret_cast<const char *>(i), reinterpret_cast<const char *>(i) + sizeof(I));
    }
    i->AddRef = add_ref<I>;
    i->Release = release<I>;
    wrap_makers(i);
}

#define KIND(I) \
    inline void track(I *i) { track(i, #I); }
KIND(IDirectFB)
KIND(IDirectFBScreen)
KIND(IDirectFBDisplayLayer)
KIND(IDirectFBWindow)
KIND(IDirectFBSurface)
KIND(IDirectFBEventBuffer)
KIND(IDirectFBFont)
KIND(IDirectFBImageProvider)
KIND(IDirectFBInputDevice)

template <typename I>
DFBResult made(DFBResult result, I **made_one) {
    if (result == DFB_OK && made_one != nullptr && *made_one != nullptr) track(*made_one);
    return result;
}

void wrap_makers(IDirectFB *i) {
    i->CreateSurface = [](IDirectFB *t, const DFBSurfaceDescription *d, IDirectFBSurface **r) {
        return made(original(t).CreateSurface(t, d, r), r);
    };
    i->GetScreen = [](IDirectFB *t, DFBScreenID id, IDirectFBScreen **r) {
        return made(original(t).GetScreen(t, id, r), r);
    };
    i->GetDisplayLayer = [](IDirectFB *t, DFBDisplayLayerID id, IDirectFBDisplayLayer **r) {
        return made(original(t).GetDisplayLayer(t, id, r), r);
    };
    i->GetInputDevice = [](IDirectFB *t, DFBInputDeviceID id, IDirectFBInputDevice **r) {
        return made(original(t).GetInputDevice(t, id, r), r);
    };
    i->CreateEventBuffer = [](IDirectFB *t, IDirectFBEventBuffer **r) {
        return made(original(t).CreateEventBuffer(t, r), r);
    };
    i->CreateInputEventBuffer = [](IDirectFB *t, DFBInputDeviceCapabilities c, DFBBoolean g, IDirectFBEventBuffer **r) {
        return made(original(t).CreateInputEventBuffer(t, c, g, r), r);
    };
    i->CreateImageProvider = [](IDirectFB *t, const char *f, IDirectFBImageProvider **r) {
        return made(original(t).CreateImageProvider(t, f, r), r);
    };
    i->CreateFont = [](IDirectFB *t, const char *f, const DFBFontDescription *d, IDirectFBFont **r) {
        return made(original(t).CreateFont(t, f, d, r), r);
    };
}

void wrap_makers(IDirectFBDisplayLayer *i) {
    i->GetSurface = [](IDirectFBDisplayLayer *t, IDirectFBSurface **r) { return made(original(t).GetSurface(t, r), r); };
    i->GetScreen = [](IDirectFBDisplayLayer *t, IDirectFBScreen **r) { return made(original(t).GetScreen(t, r), r); };
    i->CreateWindow = [](IDirectFBDisplayLayer *t, const DFBWindowDescription *d, IDirectFBWindow **r) {
        return made(original(t).CreateWindow(t, d, r), r);
    };
}

void wrap_makers(IDirectFBWindow *i) {
    i->GetSurface = [](IDirectFBWindow *t, IDirectFBSurface **r) { return made(original(t).GetSurface(t, r), r); };
    i->CreateEventBuffer = [](IDirectFBWindow *t, IDirectFBEventBuffer **r) {
        return made(original(t).CreateEventBuffer(t, r), r);
    };
}

void wrap_makers(IDirectFBSurface *i) {
    i->GetSubSurface = [](IDirectFBSurface *t, const DFBRectangle_C *rect, IDirectFBSurface **r) {
        return made(original(t).GetSubSurface(t, rect, r), r);
    };
}

}  // namespace

// Taken over from libdirectfb: the library's call lands here first.
extern "C" DFBResult DirectFBCreate(IDirectFB **interface_ptr) {
    using Create = DFBResult (*)(IDirectFB **);
    static Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "DirectFBCreate"));
    return made(real(interface_ptr), interface_ptr);
}

namespace kvn_test {

size_t dfb_objects_alive(std::string *which) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (which != nullptr) {
        std::map<std::string, int> kinds;
        for (const auto &a : g_alive) kinds[a.second.kind] += 1;
        which->clear();
        for (const auto &k : kinds) *which += k.first + " x" + std::to_string(k.second) + " ";
    }
    return g_alive.size();
}

}  // namespace kvn_test
