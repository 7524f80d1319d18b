// The frei0r filter as a host loads it: dlopen, its entry points, frames compared with the rule,
// and one instance called from several threads at once, as MLT does with row slices.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

extern "C" {
#include <frei0r.h>
}

#include "tests/host/e2e_support.h"

namespace {

// The plug-in's entry points, looked up by name as hosts do.
struct Plugin {
    void* handle = dlopen(VELMORA_FREI0R_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    template <class F>
    F Get(const char* name) {
        return reinterpret_cast<F>(dlsym(handle, name));
    }
    decltype(&f0r_init) init = Get<decltype(&f0r_init)>("f0r_init");
    decltype(&f0r_deinit) deinit = Get<decltype(&f0r_deinit)>("f0r_deinit");
    decltype(&f0r_get_plugin_info) info =
        Get<decltype(&f0r_get_plugin_info)>("f0r_get_plugin_info");
    decltype(&f0r_get_param_info) paramInfo =
        Get<decltype(&f0r_get_param_info)>("f0r_get_param_info");
    decltype(&f0r_construct) construct = Get<decltype(&f0r_construct)>("f0r_construct");
    decltype(&f0r_destruct) destruct = Get<decltype(&f0r_destruct)>("f0r_destruct");
    decltype(&f0r_set_param_value) set = Get<decltype(&f0r_set_param_value)>("f0r_set_param_value");
    decltype(&f0r_get_param_value) get = Get<decltype(&f0r_get_param_value)>("f0r_get_param_value");
    decltype(&f0r_update) update = Get<decltype(&f0r_update)>("f0r_update");
};

std::vector<std::uint8_t> RandomBgra(std::uint32_t w, std::uint32_t h, unsigned seed) {
    return e2e::RandomRgba(w, h, seed).bytes; // byte order does not matter for random pixels
}

std::uint8_t Expected(float x) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(x, 0.0f, 1.0f) * 255.0f));
}

} // namespace

TEST(Frei0r, EntryPointsInformationAndParameter) {
    Plugin p;
    ASSERT_NE(p.handle, nullptr) << dlerror();
    ASSERT_NE(p.update, nullptr);
    ASSERT_EQ(p.init(), 1);
    f0r_plugin_info_t info{};
    p.info(&info);
    EXPECT_STREQ(info.name, "velmora");
    EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
    EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_BGRA8888);
    EXPECT_EQ(info.num_params, 1);
    f0r_param_info_t param{};
    p.paramInfo(&param, 0);
    EXPECT_STREQ(param.name, "matte");
    EXPECT_EQ(param.type, F0R_PARAM_COLOR);

    f0r_instance_t in = p.construct(8, 8);
    ASSERT_NE(in, nullptr);
    f0r_param_color_t colour{1, 1, 1};
    p.get(in, &colour, 0);
    EXPECT_EQ(colour.r + colour.g + colour.b, 0.0f) << "opaque black by default";
    colour = {0.25f, 0.5f, 2.0f};
    p.set(in, &colour, 0);
    f0r_param_color_t back{};
    p.get(in, &back, 0);
    EXPECT_EQ(back.b, 2.0f) << "kept as given; clamped only where used";
    p.destruct(in);
    EXPECT_EQ(p.construct(0, 8), nullptr);
    p.deinit();
    dlclose(p.handle);
}

// Colours clamp to 0..1 and round to the nearest byte; input and output different, or the same.
TEST(Frei0r, FramesGetTheRuleOnEveryByte) {
    Plugin p;
    ASSERT_EQ(p.init(), 1);
    const std::uint32_t w = 131, h = 77;
    f0r_instance_t in = p.construct(w, h);
    ASSERT_NE(in, nullptr);
    const auto input = RandomBgra(w, h, 5);
    for (f0r_param_color_t colour :
         {f0r_param_color_t{0.2f, 0.4f, 0.6f}, {-1, 1.7f, 0.5f}, {0.0019f, 0.998f, 0.5f}}) {
        p.set(in, &colour, 0);
        const auto expected =
            e2e::UnmattedBgra(input, Expected(colour.r), Expected(colour.g), Expected(colour.b));
        std::vector<std::uint8_t> out(input.size(), 0xCD), same = input;
        p.update(in, 0.0, reinterpret_cast<const uint32_t*>(input.data()),
                 reinterpret_cast<uint32_t*>(out.data()));
        EXPECT_EQ(out, expected) << colour.r << " " << colour.g << " " << colour.b;
        p.update(in, 1.0, reinterpret_cast<const uint32_t*>(same.data()),
                 reinterpret_cast<uint32_t*>(same.data()));
        EXPECT_EQ(same, expected);
    }
    p.destruct(in);
    p.deinit();
}

TEST(Frei0r, OneInstanceFromSeveralThreadsAtOnce) {
    Plugin p;
    ASSERT_EQ(p.init(), 1);
    const std::uint32_t w = 200, h = 48; // a slice, as MLT hands them
    f0r_instance_t in = p.construct(w, h);
    ASSERT_NE(in, nullptr);
    f0r_param_color_t green{0, 1, 0};
    p.set(in, &green, 0);
    std::atomic<int> wrong{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (unsigned i = 0; i < 15; ++i) {
                const auto input = RandomBgra(w, h, t * 100 + i);
                std::vector<std::uint8_t> out(input.size());
                p.update(in, i, reinterpret_cast<const uint32_t*>(input.data()),
                         reinterpret_cast<uint32_t*>(out.data()));
                if (out != e2e::UnmattedBgra(input, 0, 255, 0))
                    ++wrong;
            }
        });
    // The host may also set the parameter meanwhile (to the same colour here).
    std::thread setter([&] {
        while (!stop) {
            f0r_param_color_t c{0, 1, 0};
            p.set(in, &c, 0);
            std::this_thread::yield();
        }
    });
    for (auto& t : threads)
        t.join();
    stop = true;
    setter.join();
    EXPECT_EQ(wrong, 0);
    p.destruct(in);
    p.deinit();
}
