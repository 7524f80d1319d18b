// The frei0r filter "velmora": the effect for ffmpeg, GStreamer and MLT. It loads the module
// registration-free, creates one effect per instance through the module's class factory, and
// runs it in place on a premultiplied ARGB32 surface over each output frame, which takes its
// content from the input frame band by band as the effect's pieces lock it.
// The header declares C functions without saying so.
extern "C" {
#include <frei0r.h>
}

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "client/client.h"

namespace {

using Source = velmora::client::EffectSource;

struct Module {
    std::mutex mutex;
    int users = 0;
    int inits = 0;       // f0r_init calls that took a reference
    bool failed = false; // a load failed; said once, however often a host tries
    // Never destroyed, and in the filter's own memory: at exit, or when a host unloads the filter
    // with instances still alive, the module stays loaded rather than going from under them.
    alignas(Source) unsigned char storage[sizeof(Source)];
    Source& source = *new (storage) Source;
};
Module g_module;

// $VELMORA_MODULE, else the module where it lies relative to this filter: lib/velmora/ beside
// lib/frei0r-1/ once installed, bin/ beside frei0r-1/ in the build tree. (A program that has the
// filter built into it names its module with VELMORA_MODULE_PATH.)
const char* ModulePath() {
    const char* path = std::getenv("VELMORA_MODULE");
    if (path && *path)
        return path;
#ifdef VELMORA_MODULE_PATH
    return VELMORA_MODULE_PATH;
#else
    static const std::string found = [] {
        Dl_info self{};
        ::dladdr(reinterpret_cast<void*>(&ModulePath), &self);
        const auto here = std::filesystem::path(self.dli_fname ? self.dli_fname : "").parent_path();
        std::error_code ec;
        for (const char* relative : {"../velmora/libvelmora.so", "../bin/libvelmora.so"})
            if (std::filesystem::exists(here / relative, ec))
                return (here / relative).lexically_normal().string();
        return (here / "../velmora/libvelmora.so").lexically_normal().string();
    }();
    return found.c_str();
#endif
}

// Loaded on first use and kept while any instance or f0r_init holds it.
bool Acquire() {
    std::lock_guard lock(g_module.mutex);
    if (!g_module.source.registrationFree()) {
        std::string error;
        if (!g_module.source.OpenModule(ModulePath(), &error)) {
            if (!std::exchange(g_module.failed, true))
                std::fprintf(stderr, "velmora frei0r: %s\n", error.c_str());
            return false;
        }
    }
    ++g_module.users;
    return true;
}

void Release() {
    std::lock_guard lock(g_module.mutex);
    if (--g_module.users == 0)
        g_module.source.Close();
}

BYTE ToByte(float x) {
    if (!(x > 0)) // NaN too
        return 0;
    return static_cast<BYTE>(std::lround(std::fmin(x, 1.0f) * 255.0f));
}

struct Instance {
    unsigned width = 0, height = 0;
    f0r_param_color_t matte{0, 0, 0};
    // One effect; a frame's set-up and execution belong together, so calls from several
    // threads (MLT's slices) take turns, each still spread over the effect's own workers.
    std::mutex mutex;
    velmora::client::Effect effect;
    bool ready = false; // the effect was made
    bool holdsModule = false;
};

// Four workers, the effect's most pieces, even on fewer cores: a piece copies its band from the
// input and then unmattes it, and a quarter of a frame stays in a core's cache meanwhile.
bool CreateEffect(Instance* in) {
    std::string error;
    if (in->effect.Create(g_module.source, &error) && in->effect.Site(4, &error))
        return true;
    std::fprintf(stderr, "velmora frei0r: %s\n", error.c_str());
    return false;
}

void SetMatte(Instance* in, const f0r_param_color_t& c) {
    in->matte = c;
    if (in->ready)
        in->effect.SetProps({255, ToByte(c.r), ToByte(c.g), ToByte(c.b)});
}

} // namespace

// Only the frei0r entry points leave the plug-in.
#define F0R_EXPORT __attribute__((visibility("default")))

extern "C" {

// Without the module the filter refuses to start in each host's own way: ffmpeg takes a negative
// f0r_init as failure, GStreamer a zero one, or a colour model it does not know (which it then
// gets); MLT takes neither, and gets instances that give transparent black frames.
F0R_EXPORT int f0r_init() {
    if (!Acquire())
        return -1;
    std::lock_guard lock(g_module.mutex);
    ++g_module.inits;
    return 1;
}

// Hosts call it after a failed f0r_init too.
F0R_EXPORT void f0r_deinit() {
    {
        std::lock_guard lock(g_module.mutex);
        if (g_module.inits == 0)
            return;
        --g_module.inits;
    }
    Release();
}

F0R_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    info->name = "velmora";
    info->author = "Velmora";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    std::lock_guard lock(g_module.mutex);
    info->color_model = g_module.failed ? F0R_COLOR_MODEL_PACKED32 + 1 : F0R_COLOR_MODEL_BGRA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 1;
    info->minor_version = 0;
    info->num_params = 1;
    info->explanation = "Takes a solid matte colour back out of partly transparent pixels";
}

F0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int index) {
    if (index != 0)
        return;
    info->name = "matte";
    info->type = F0R_PARAM_COLOR;
    info->explanation = "The colour the frame was composited against";
}

// Without the effect an instance still exists, and gives transparent black frames: a host that
// goes on past a failed f0r_init would otherwise show its own bytes as the result.
F0R_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    if (width == 0 || height == 0)
        return nullptr;
    auto* in = new (std::nothrow) Instance;
    if (!in)
        return nullptr;
    in->width = width;
    in->height = height;
    in->holdsModule = Acquire();
    in->ready = in->holdsModule && CreateEffect(in);
    if (!in->ready) {
        std::fprintf(stderr,
                     "velmora frei0r: no effect: every frame comes out transparent black\n");
    }
    SetMatte(in, {0, 0, 0});
    return in;
}

F0R_EXPORT void f0r_destruct(f0r_instance_t instance) {
    auto* in = static_cast<Instance*>(instance);
    if (!in)
        return;
    const bool holdsModule = in->holdsModule;
    delete in; // releases the effect before the module can go
    if (holdsModule)
        Release();
}

F0R_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    auto* in = static_cast<Instance*>(instance);
    if (!in || !param || index != 0)
        return;
    std::lock_guard lock(in->mutex);
    SetMatte(in, *static_cast<const f0r_param_color_t*>(param));
}

F0R_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    auto* in = static_cast<Instance*>(instance);
    if (!in || !param || index != 0)
        return;
    std::lock_guard lock(in->mutex);
    *static_cast<f0r_param_color_t*>(param) = in->matte;
}

F0R_EXPORT void f0r_update(f0r_instance_t instance, double, const uint32_t* inframe,
                           uint32_t* outframe) {
    auto* in = static_cast<Instance*>(instance);
    if (!in || !inframe || !outframe)
        return;
    std::lock_guard lock(in->mutex);
    const auto pitch = static_cast<LONG>(in->width * 4);
    if (!in->ready) {
        std::memset(outframe, 0, static_cast<size_t>(pitch) * in->height);
        return;
    }
    HRESULT hr = in->effect.Render(outframe, pitch, in->width, in->height, inframe);
    if (FAILED(hr))
        std::fprintf(stderr, "velmora frei0r: the effect failed (0x%08X)\n",
                     static_cast<unsigned>(hr));
}

} // extern "C"
