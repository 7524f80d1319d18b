// Shared by the fuzz targets: a reader that takes typed values off the front of the input, the
// check that turns a broken promise into a crash libFuzzer records, a file in memory for the
// entry points that take a path, a scratch folder, and COM objects made and asked with a check.
#pragma once

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/atl.h"

// A broken invariant: say which and abort, so that libFuzzer (or the replay) keeps the input.
#define FUZZ_CHECK(cond) FUZZ_CHECK_SAY(cond, "%s", "")
// The same, then saying what went wrong: FUZZ_CHECK_SAY(r == ERROR_SUCCESS, "set: %ld\n", r).
#define FUZZ_CHECK_SAY(cond, ...)                                                                  \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__, #cond);     \
            std::fprintf(stderr, __VA_ARGS__);                                                     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace velmora::fuzz {

// Takes values off the front of the input; past the end every value is 0 and every run empty.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), left_(size) {}

    bool Empty() const { return left_ == 0; }
    std::size_t Left() const { return left_; }

    std::uint8_t Byte() {
        if (!left_)
            return 0;
        --left_;
        return *p_++;
    }
    template <class T>
    T Raw() {
        T v{};
        const std::size_t n = std::min(sizeof v, left_);
        if (n) // an empty input may come as a null pointer
            std::memcpy(&v, p_, n);
        p_ += n;
        left_ -= n;
        return v;
    }
    bool Bool() { return Byte() & 1; }
    // Up to n bytes.
    std::vector<std::uint8_t> Bytes(std::size_t n) {
        n = std::min(n, left_);
        if (!n)
            return {};
        std::vector<std::uint8_t> v(p_, p_ + n);
        p_ += n;
        left_ -= n;
        return v;
    }
    // A run whose length is the next byte.
    std::vector<std::uint8_t> ShortRun() { return Bytes(Byte()); }
    std::vector<std::uint8_t> Rest() { return Bytes(left_); }

private:
    const std::uint8_t* p_;
    std::size_t left_;
};

// A file that lives in memory and is reached through a path, /proc/self/fd/N, for the entry
// points that open files by name. Each Set replaces its contents.
class MemoryFile {
public:
    MemoryFile() {
        fd_ = ::memfd_create("velmora-fuzz", MFD_CLOEXEC);
        if (fd_ < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    const std::string& Set(const std::uint8_t* data, std::size_t size) {
        if (::ftruncate(fd_, 0) != 0)
            std::abort();
        std::size_t done = 0;
        while (done < size) {
            ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0)
                std::abort();
            done += static_cast<std::size_t>(n);
        }
        return path_;
    }
    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

// A folder of this process's own on tmpfs (else in the temporary folder), removed at exit.
inline std::string ScratchFolder() {
    std::string base = "/dev/shm";
    struct stat st {};
    if (::stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        base = std::filesystem::temp_directory_path().string();
    static std::string dir = base + "/velmora-fuzz-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    });
    return dir;
}

template <class Object>
com::ComPtr<IUnknown> Create() {
    com::ComPtr<IUnknown> unk;
    FUZZ_CHECK(com::CComPolyObject<Object>::CreateInstance(nullptr, uuidof<IUnknown>(),
                                                           reinterpret_cast<void**>(&unk)) == S_OK);
    return unk;
}

template <class I>
com::ComPtr<I> Query(IUnknown* unk) {
    com::ComPtr<I> p;
    FUZZ_CHECK(unk->QueryInterface(uuidof<I>(), reinterpret_cast<void**>(&p)) == S_OK);
    return p;
}

} // namespace velmora::fuzz
