// Counts for the fault and load suites: small in the normal run, the full figures when
// VELMORA_SOAK is set (make soak). Suites report what they did as figures, one line each on stdout
// ("[  figure  ] suite.test: name = value") and as test properties.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace velmora::test {

inline bool Soak() {
    const char* s = std::getenv("VELMORA_SOAK");
    return s && *s && std::string(s) != "0";
}

// quick in the normal run, full under make soak.
inline long Count(long quick, long full) {
    return Soak() ? full : quick;
}

inline void Figure(const std::string& name, double value) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string test =
        info ? std::string(info->test_suite_name()) + "." + info->name() : std::string("-");
    char text[64];
    if (value == static_cast<double>(static_cast<long long>(value)))
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    else
        std::snprintf(text, sizeof text, "%.2f", value);
    std::printf("[  figure  ] %s: %s = %s\n", test.c_str(), name.c_str(), text);
    std::fflush(stdout);
    if (info)
        ::testing::Test::RecordProperty(name, text);
}

} // namespace velmora::test
