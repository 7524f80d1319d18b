// Runs a fuzz target's entry point over files, without libFuzzer: the builds that are not the
// fuzz preset (gcc, the default and asan presets) replay each target's seed corpus and its
// regression inputs through this as CTest tests, so every input that once crashed stays tested.
//
//   fuzz_<target>_replay DIR_OR_FILE...
//
// Every regular file named (or in a folder named, not recursively; names starting with '.' are
// skipped) is one input. Exit status 0 when all ran; a crash or a failed check aborts as it would
// under libFuzzer. No input at all is an error, so that a wrong path cannot pass unnoticed.
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

// Memory is bounded at 2 GiB, as libFuzzer's -rss_limit_mb bounds the fuzz runs, so that an input
// that makes the code allocate gigabytes fails here too instead of passing slowly (or not at all).
#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_REPLAY_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_REPLAY_ASAN 1
#endif
#endif

#ifdef VELMORA_REPLAY_ASAN
// AddressSanitizer reserves far more address space than any limit, so it bounds each allocation
// instead (ASAN_OPTIONS may still say otherwise).
extern "C" const char* __asan_default_options() {
    return "max_allocation_size_mb=2048";
}
#endif

int main(int argc, char** argv) {
#ifndef VELMORA_REPLAY_ASAN
    const rlim_t bytes = rlim_t{2048} << 20;
    rlimit limit{bytes, bytes};
    ::setrlimit(RLIMIT_AS, &limit);
#endif
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg = argv[i];
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            for (const auto& entry : fs::directory_iterator(arg))
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                    inputs.push_back(entry.path());
        } else if (fs::is_regular_file(arg, ec)) {
            inputs.push_back(arg);
        } else {
            std::fprintf(stderr, "replay: %s: no such file or folder\n", argv[i]);
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 2;
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                      std::istreambuf_iterator<char>());
        if (!file.eof() && file.fail()) {
            std::fprintf(stderr, "replay: %s: cannot read\n", path.c_str());
            return 2;
        }
        std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("replay: %zu inputs ran\n", inputs.size());
    return 0;
}
