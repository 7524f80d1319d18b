#include "output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace velmora::host {
namespace {

// Temporary paths a signal handler may have to remove: fixed slots, so the handler reads them
// without locks or allocation.
constexpr int kSlots = 256;
char* g_paths[kSlots];
bool g_isDir[kSlots];
std::atomic<bool> g_used[kSlots];
std::mutex g_claim;

int Track(const std::string& path, bool isDir = false) {
    std::lock_guard lock(g_claim);
    for (int i = 0; i < kSlots; ++i)
        if (!g_used[i].load()) {
            g_paths[i] = ::strdup(path.c_str());
            g_isDir[i] = isDir;
            g_used[i].store(g_paths[i] != nullptr);
            return g_used[i].load() ? i : -1;
        }
    return -1; // untracked: still removed on failure, only not on a signal
}

void Untrack(int slot) {
    if (slot < 0)
        return;
    std::lock_guard lock(g_claim);
    g_used[slot].store(false);
    std::free(g_paths[slot]);
    g_paths[slot] = nullptr;
}

// Empties and removes a folder with async-signal-safe calls only (no opendir, no malloc). Other
// threads may still be adding files, so it tries again until the folder is gone.
void RemoveFolderInHandler(const char* path) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        int fd = ::open(path, O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return;
        alignas(8) char buffer[4096];
        for (;;) {
            long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (long at = 0; at < n;) {
                auto* entry = reinterpret_cast<dirent64*>(buffer + at);
                const char* name = entry->d_name;
                if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
                    ::unlinkat(fd, name, 0);
                at += entry->d_reclen;
            }
        }
        ::close(fd);
        if (::rmdir(path) == 0 || errno != ENOTEMPTY)
            return;
    }
}

void OnSignal(int sig) {
    for (int i = kSlots - 1; i >= 0; --i) // newest first: a staging folder before its parent
        if (g_used[i].load()) {
            if (g_isDir[i])
                RemoveFolderInHandler(g_paths[i]);
            else
                ::unlink(g_paths[i]);
        }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

std::string Reason(const std::string& path, const char* what, int err) {
    return path + ": " + what + ": " + std::strerror(err);
}

// Temporary names: ".<target>.velmora-XXXXXX" beside a target file, ".velmora-XXXXXX" for a
// staging folder inside a destination folder.
constexpr const char* kTempTag = ".velmora-";
constexpr size_t kRandomChars = 6; // what mkstemp and mkdtemp put in place of XXXXXX

bool IsTemporaryName(const std::string& name, const std::string& prefix) {
    if (name.size() != prefix.size() + kRandomChars || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    return std::all_of(name.begin() + static_cast<long>(prefix.size()), name.end(),
                       [](unsigned char c) { return std::isalnum(c); });
}

// Takes the lock of a temporary file or folder just made, so that no other run takes it for
// abandoned. False if another run removed it in the moment before (the caller makes another).
bool LockFresh(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return false; // another run holds it while it removes it
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_nlink > 0; // still there once locked
}

// Removes the entries of folder named prefix + six random characters whose lock nobody holds:
// what runs that died left there. Entries of live runs are locked and stay.
void RemoveAbandoned(const std::string& folder, const std::string& prefix, bool directories) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return;
    const int dfd = ::dirfd(dir);
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsTemporaryName(name, prefix))
            continue;
        const int fd = ::openat(
            dfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (directories ? O_DIRECTORY : 0));
        if (fd < 0)
            continue;
        struct stat st {};
        const bool kind =
            ::fstat(fd, &st) == 0 && (directories ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
        if (kind && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            std::error_code ec;
            if (directories)
                std::filesystem::remove_all(std::filesystem::path(folder) / name, ec);
            else
                ::unlinkat(dfd, name.c_str(), 0);
        }
        ::close(fd); // drops the lock
    }
    ::closedir(dir);
}

} // namespace

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Open(const std::string& path, std::string* error) {
    Discard();
    path_ = path;
    std::filesystem::path p(path);
    // Hidden, beside the target, so the rename stays on one file system.
    const std::string prefix = "." + p.filename().string() + kTempTag;
    RemoveAbandoned(p.parent_path().string(), prefix, false);
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp_ = (p.parent_path() / (prefix + "XXXXXX")).string();
        fd = ::mkostemp(temp_.data(), O_CLOEXEC);
        if (fd < 0) {
            *error = Reason(path, "cannot create", errno);
            temp_.clear();
            return false;
        }
        if (!LockFresh(fd)) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        *error = path + ": cannot create: no temporary file could be locked";
        temp_.clear();
        return false;
    }
    lock_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0); // shares the lock, which lasts while either is open
    slot_ = Track(temp_);
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        *error = Reason(path, "cannot create", errno);
        ::close(fd);
        Discard();
        return false;
    }
    return true;
}

bool OutputFile::Finish(std::string* error) {
    if (!file_) {
        *error = path_ + ": not open";
        return false;
    }
    int err = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_) || ::fsync(::fileno(file_)) != 0)
        err = errno ? errno : EIO;
    if (std::fclose(file_) != 0 && !err)
        err = errno;
    file_ = nullptr;
    if (err) {
        *error = Reason(path_, "cannot write", err);
        Discard();
        return false;
    }
    return true;
}

bool OutputFile::Commit(std::string* error) {
    if (file_ && !Finish(error))
        return false;
    if (temp_.empty()) {
        *error = path_ + ": nothing to commit";
        return false;
    }
    if (::rename(temp_.c_str(), path_.c_str()) != 0) {
        *error = Reason(path_, "cannot replace", errno);
        Discard();
        return false;
    }
    Untrack(slot_);
    slot_ = -1;
    temp_.clear();
    if (lock_ >= 0) {
        ::close(lock_);
        lock_ = -1;
    }
    std::string dir = std::filesystem::path(path_).parent_path().string();
    int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

void OutputFile::Discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
    if (lock_ >= 0) {
        ::close(lock_); // after the removal: no other run may take it meanwhile
        lock_ = -1;
    }
    Untrack(slot_);
    slot_ = -1;
}

StagingDirectory::~StagingDirectory() {
    Discard();
}

bool StagingDirectory::Create(const std::string& destination, bool createdByThisRun,
                              std::string* error) {
    Discard();
    destination_ = destination;
    if (createdByThisRun)
        destinationSlot_ = Track(destination, true);
    RemoveAbandoned(destination, kTempTag, true);
    for (int attempt = 0; stageLock_ < 0 && attempt < 100; ++attempt) {
        stage_ = (std::filesystem::path(destination) / (std::string(kTempTag) + "XXXXXX")).string();
        if (!::mkdtemp(stage_.data())) {
            *error = Reason(destination, "cannot write into the folder", errno);
            stage_.clear();
            Discard();
            return false;
        }
        stageLock_ = ::open(stage_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (stageLock_ >= 0 && !LockFresh(stageLock_)) {
            ::close(stageLock_);
            stageLock_ = -1;
        }
    }
    if (stageLock_ < 0) {
        *error = destination + ": cannot write into the folder: no staging folder could be locked";
        stage_.clear();
        Discard();
        return false;
    }
    slot_ = Track(stage_, true);
    return true;
}

std::string StagingDirectory::PathOf(const std::string& name) const {
    return (std::filesystem::path(stage_) / name).string();
}

bool StagingDirectory::Commit(const std::vector<std::string>& names, std::string* error) {
    for (const auto& name : names) {
        const std::string to = (std::filesystem::path(destination_) / name).string();
        if (::rename(PathOf(name).c_str(), to.c_str()) != 0) {
            *error = Reason(to, "cannot replace", errno);
            return false;
        }
    }
    int dfd = ::open(destination_.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    Untrack(destinationSlot_); // the destination is the user's now
    destinationSlot_ = -1;
    Discard();
    return true;
}

void StagingDirectory::Discard() {
    std::error_code ec;
    if (!stage_.empty()) {
        std::filesystem::remove_all(stage_, ec);
        stage_.clear();
    }
    if (stageLock_ >= 0) {
        ::close(stageLock_); // after the removal: no other run may take it meanwhile
        stageLock_ = -1;
    }
    Untrack(slot_);
    slot_ = -1;
    if (destinationSlot_ >= 0) {
        std::filesystem::remove(destination_, ec); // only if empty
        Untrack(destinationSlot_);
        destinationSlot_ = -1;
    }
}

bool WriteFileAtomically(const std::string& path, const void* data, size_t size,
                         std::string* error) {
    OutputFile out;
    if (!out.Open(path, error))
        return false;
    if (size && std::fwrite(data, 1, size, out.stream()) != size) {
        *error = Reason(path, "cannot write", errno);
        return false;
    }
    return out.Commit(error);
}

void RemoveTemporaryFilesOnSignals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        std::signal(sig, OnSignal);
}

} // namespace velmora::host
