// The frei0r filter's parameter path, as ffmpeg, GStreamer and MLT drive it: f0r_set_param_value
// with fuzzed colours (any float bits: NaN, infinities, negatives, huge, denormal) and with
// fuzzed indices carrying other parameter kinds (strings, doubles, booleans, positions), the
// parameter read back, the parameter information asked for any index, and f0r_update on a small
// frame of fuzzed pixels, in place or not. Every output pixel must be the rule's result with the
// matte channel round(clamp(x, 0, 1) x 255) (NaN as 0), alpha untouched; the colour read back is
// the colour set; an index other than 0 changes nothing.
extern "C" {
#include <frei0r.h>
}

#include <cmath>

#include "fuzz_support.h"
#include "tests/support/rule.h"

using velmora::fuzz::Input;

namespace {

std::uint8_t MatteByte(float x) {
    if (std::isnan(x) || x <= 0.0f)
        return 0;
    if (x >= 1.0f)
        return 255;
    return static_cast<std::uint8_t>(std::lround(x * 255.0f));
}

bool SameColour(const f0r_param_color_t& a, const f0r_param_color_t& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool loaded = f0r_init() == 1;
    FUZZ_CHECK(loaded);
    Input in(data, size);
    const unsigned width = 1 + in.Byte() % 24, height = 1 + in.Byte() % 6;
    f0r_instance_t instance = f0r_construct(width, height);
    FUZZ_CHECK(instance);
    FUZZ_CHECK(!f0r_construct(0, height) && !f0r_construct(width, 0));

    f0r_param_color_t matte{0, 0, 0};
    f0r_param_color_t got{1, 2, 3};
    f0r_get_param_value(instance, &got, 0);
    FUZZ_CHECK(SameColour(got, matte));

    const std::size_t pixels = std::size_t{width} * height;
    for (int steps = 0; !in.Empty() && steps < 24; ++steps) {
        switch (in.Byte() % 5) {
        case 0: { // the colour, any bits
            f0r_param_color_t c;
            c.r = in.Raw<float>();
            c.g = in.Raw<float>();
            c.b = in.Raw<float>();
            f0r_set_param_value(instance, &c, 0);
            matte = c;
            break;
        }
        case 1: { // another index, carrying another kind of parameter: ignored
            const int index = in.Raw<std::int32_t>() | 1; // never 0
            const std::vector<std::uint8_t> bytes = in.ShortRun();
            std::string text(bytes.begin(), bytes.end());
            f0r_param_string string = text.data();
            f0r_param_double number = in.Raw<double>();
            f0r_param_position_t position{in.Raw<double>(), in.Raw<double>()};
            void* params[] = {&string, &number, &position, text.data()};
            f0r_set_param_value(instance, params[in.Byte() % 4], index);
            f0r_param_color_t untouched{-1, -2, -3};
            f0r_get_param_value(instance, &untouched, index);
            FUZZ_CHECK(untouched.r == -1 && untouched.g == -2 && untouched.b == -3);
            f0r_set_param_value(instance, nullptr, 0);
            f0r_set_param_value(nullptr, &number, 0);
            break;
        }
        case 2: { // the parameter information for any index
            const int index = in.Byte() % 2 ? 0 : in.Raw<std::int32_t>();
            f0r_param_info_t info{"unset", -1, "unset"};
            f0r_get_param_info(&info, index);
            if (index == 0)
                FUZZ_CHECK(std::strcmp(info.name, "matte") == 0 && info.type == F0R_PARAM_COLOR);
            else
                FUZZ_CHECK(std::strcmp(info.name, "unset") == 0 && info.type == -1);
            f0r_plugin_info_t plugin{};
            f0r_get_plugin_info(&plugin);
            FUZZ_CHECK(plugin.num_params == 1 && plugin.color_model == F0R_COLOR_MODEL_BGRA8888);
            break;
        }
        case 3:
        case 4: { // a frame, in place or into another buffer
            std::vector<std::uint32_t> frame(pixels);
            const std::vector<std::uint8_t> bytes = in.Bytes(pixels * 4);
            if (!bytes.empty())
                std::memcpy(frame.data(), bytes.data(), bytes.size());
            for (std::size_t i = bytes.size(); i < pixels * 4; ++i) // the rest: a ramp of alphas
                reinterpret_cast<std::uint8_t*>(frame.data())[i] =
                    static_cast<std::uint8_t>(i * 37);
            const auto* start = reinterpret_cast<const std::uint8_t*>(frame.data());
            const std::vector<std::uint8_t> done =
                velmora::test::UnmattedBgra({start, start + pixels * 4}, MatteByte(matte.r),
                                            MatteByte(matte.g), MatteByte(matte.b));
            std::vector<std::uint32_t> expected(pixels);
            std::memcpy(expected.data(), done.data(), done.size());
            if (in.Byte() % 2 == 0) {
                f0r_update(instance, 0.0, frame.data(), frame.data());
                FUZZ_CHECK(frame == expected);
            } else {
                const std::vector<std::uint32_t> original = frame;
                std::vector<std::uint32_t> out(pixels, 0xA5A5A5A5u);
                f0r_update(instance, in.Raw<double>(), frame.data(), out.data());
                FUZZ_CHECK(out == expected);
                FUZZ_CHECK(frame == original);
            }
            break;
        }
        }
        f0r_get_param_value(instance, &got, 0);
        FUZZ_CHECK(SameColour(got, matte));
    }
    f0r_destruct(instance);
    return 0;
}
