#include "output_file.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include "os.h"

namespace velmora::host {
namespace {

namespace fs = std::filesystem;

// What a signal must remove, newest first: a temporary file, a staging folder with what is in it,
// a folder this run created (only while empty: it may have become the user's meanwhile).
enum class Kind { File, Stage, CreatedFolder };

// The signals are blocked in every thread and taken by one thread of their own (sigwait), which
// removes the tracked paths under the lock and ends the program as the signal would have. Code
// that creates a path holds the lock until the path is tracked, so no signal falls in between.
// Never destroyed: the signal thread may still use it while the program exits.
struct Tracked {
    std::recursive_mutex lock;
    std::map<int, std::pair<std::string, Kind>> paths; // by age
    int next = 0;
    std::atomic<bool> signalled{false};
};
Tracked& Tracking() {
    static auto* tracked = new Tracked;
    return *tracked;
}

// Call with the lock held.
int Track(const std::string& path, Kind kind) {
    Tracked& t = Tracking();
    t.paths.emplace(t.next, std::pair{path, kind});
    return t.next++;
}

void Untrack(int id) {
    if (id < 0)
        return;
    Tracked& t = Tracking();
    std::lock_guard lock(t.lock);
    t.paths.erase(id);
}

void Remove(const std::string& path, Kind kind) {
    std::error_code ec;
    switch (kind) {
    case Kind::File:
        fs::remove(path, ec);
        break;
    case Kind::Stage:
        // Workers may still be adding frames: again until the folder is gone.
        for (int attempt = 0; attempt < 1000 && fs::exists(path, ec); ++attempt)
            fs::remove_all(path, ec);
        break;
    case Kind::CreatedFolder:
        fs::remove(path, ec); // only while empty
        break;
    }
}

#ifndef _WIN32
[[noreturn]] void EndOnSignals(sigset_t signals) {
    int sig = SIGTERM;
    ::sigwait(&signals, &sig);
    Tracked& t = Tracking();
    t.signalled = true;
    t.lock.lock(); // held to the end: nothing new is created or tracked after this
    for (auto it = t.paths.rbegin(); it != t.paths.rend(); ++it)
        Remove(it->second.first, it->second.second);
    std::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);
}
#endif

// Tests reach the moments between creating a path and tracking it: with VELMORA_PAUSE_AT set to
// the moment's name the program says so on stderr and waits there for a signal (10 s at most).
void PauseForTest(const char* moment) {
    const char* at = std::getenv("VELMORA_PAUSE_AT");
    if (!at || std::strcmp(at, moment) != 0)
        return;
    std::fprintf(stderr, "velmora: paused at %s\n", moment);
    for (int ms = 0; ms < 10000 && !Tracking().signalled; ++ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::string Reason(const std::string& path, const char* what, int err) {
    return path + ": " + what + ": " + std::strerror(err);
}

#ifdef _WIN32
std::string Reason(const std::string& path, const char* what) {
    return path + ": " + what + ": " + std::system_category().message(int(GetLastError()));
}
#endif

// Creates the missing folders of folder, outermost first, each recorded for removal until
// KeepFolders or RemoveFolders.
bool CreateFolders(const fs::path& folder, std::vector<int>* created, std::string* error) {
    std::error_code ec;
    std::vector<fs::path> missing;
    for (fs::path p = folder; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path())
            break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        std::lock_guard tracking(Tracking().lock);
        if (!fs::create_directory(*it, ec)) {
            if (!ec && fs::is_directory(*it, ec))
                continue; // made by someone else meanwhile
            *error = it->string() + ": cannot create the folder: " +
                     (ec ? ec.message() : std::string("a file of that name is there"));
            return false;
        }
        PauseForTest("folder");
        created->push_back(Track(it->string(), Kind::CreatedFolder));
    }
    return true;
}

// The folders are the user's now.
void KeepFolders(std::vector<int>* created) {
    for (int id : *created)
        Untrack(id);
    created->clear();
}

// Removes the folders again (innermost first, only while empty).
void RemoveFolders(std::vector<int>* created) {
    std::lock_guard tracking(Tracking().lock);
    for (auto it = created->rbegin(); it != created->rend(); ++it) {
        auto& [path, kind] = Tracking().paths.at(*it);
        Remove(path, kind);
        Untrack(*it);
    }
    created->clear();
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

#ifdef _WIN32
// Temporary files and folders are held open by their run, shared for reading, writing and
// deleting; only an exclusive open proves that nobody holds one. A temporary file also goes
// with its handle (delete on close) unless it was committed, so a killed run leaves none.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string RandomChars() {
    static std::mutex mutex;
    static std::mt19937 random(std::random_device{}());
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::lock_guard lock(mutex);
    std::string out(kRandomChars, 'x');
    for (char& c : out)
        c = kChars[random() % (sizeof kChars - 1)];
    return out;
}

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

bool SetDeleteOnClose(int fd, bool on) {
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = on;
    return SetFileInformationByHandle(HandleOf(fd), FileDispositionInfo, &info, sizeof info);
}

void RemoveAbandoned(const std::string& folder, const std::string& prefix, bool directories) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder.empty() ? "." : folder, ec)) {
        if (!IsTemporaryName(entry.path().filename().string(), prefix) ||
            entry.is_directory(ec) != directories)
            continue;
        HANDLE h = CreateFileW(entry.path().wstring().c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            continue; // a live run holds it
        CloseHandle(h);
        fs::remove_all(entry.path(), ec);
    }
}
#else
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
#endif

} // namespace

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Open(const std::string& path, std::string* error) {
    Discard();
    path_ = path;
    std::filesystem::path p(path);
    if (!CreateFolders(p.parent_path(), &created_, error))
        return false;
    // Hidden, beside the target, so the rename stays on one file system.
    const std::string prefix = "." + p.filename().string() + kTempTag;
    RemoveAbandoned(p.parent_path().string(), prefix, false);
#ifdef _WIN32
    HANDLE h = INVALID_HANDLE_VALUE;
    {
        std::lock_guard tracking(Tracking().lock);
        for (int attempt = 0; h == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
            temp_ = (p.parent_path() / (prefix + RandomChars())).string();
            h = CreateFileW(fs::path(temp_).wstring().c_str(), GENERIC_WRITE | DELETE, kShareAll,
                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
                *error = Reason(path, "cannot create");
                temp_.clear();
                return false;
            }
        }
        if (h == INVALID_HANDLE_VALUE) {
            *error = path + ": cannot create: no free temporary name";
            temp_.clear();
            return false;
        }
        PauseForTest("temporary");
        tracked_ = Track(temp_, Kind::File);
    }
    HANDLE second = nullptr;
    DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &second, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    lock_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(second), 0);
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    if (lock_ < 0 || fd < 0 || !SetDeleteOnClose(lock_, true)) {
        *error = Reason(path, "cannot create");
        if (fd >= 0)
            ::_close(fd);
        Discard();
        return false;
    }
    file_ = ::_fdopen(fd, "wb");
#else
    int fd = -1;
    {
        std::lock_guard tracking(Tracking().lock);
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
        PauseForTest("temporary");
        tracked_ = Track(temp_, Kind::File);
    }
    lock_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0); // shares the lock, which lasts while either is open
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    file_ = ::fdopen(fd, "wb");
#endif
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
    if (std::ferror(file_) || !SyncFile(file_))
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
    {
        std::lock_guard tracking(Tracking().lock);
#ifdef _WIN32
        // Through the handle that holds it: kept, then renamed over the target.
        const std::wstring to = fs::absolute(fs::path(path_)).wstring();
        std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = TRUE;
        rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
        std::memcpy(rename->FileName, to.c_str(), rename->FileNameLength);
        if (!SetDeleteOnClose(lock_, false) ||
            !SetFileInformationByHandle(HandleOf(lock_), FileRenameInfo, rename,
                                        static_cast<DWORD>(buffer.size()))) {
            *error = Reason(path_, "cannot replace");
            Discard();
            return false;
        }
#else
        if (::rename(temp_.c_str(), path_.c_str()) != 0) {
            *error = Reason(path_, "cannot replace", errno);
            Discard();
            return false;
        }
#endif
        Untrack(tracked_);
        tracked_ = -1;
        KeepFolders(&created_);
    }
    temp_.clear();
#ifdef _WIN32
    if (lock_ >= 0) {
        ::_close(lock_);
        lock_ = -1;
    }
#else
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
#endif
    return true;
}

void OutputFile::Discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
#ifdef _WIN32
    if (lock_ >= 0) {
        if (!temp_.empty())
            SetDeleteOnClose(lock_, true); // goes with the last handle
        ::_close(lock_);
        lock_ = -1;
    }
    temp_.clear();
#else
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
    if (lock_ >= 0) {
        ::close(lock_); // after the removal: no other run may take it meanwhile
        lock_ = -1;
    }
#endif
    Untrack(tracked_);
    tracked_ = -1;
    RemoveFolders(&created_);
}

StagingDirectory::~StagingDirectory() {
    Discard();
}

bool StagingDirectory::Create(const std::string& destination, std::string* error) {
    Discard();
    destination_ = destination;
    std::error_code ec;
    if (fs::exists(destination, ec) && !fs::is_directory(destination, ec)) {
        *error = destination + ": not a folder";
        return false;
    }
    if (!CreateFolders(destination, &created_, error)) {
        Discard();
        return false;
    }
    RemoveAbandoned(destination, kTempTag, true);
#ifdef _WIN32
    for (int attempt = 0; stageLock_ < 0 && attempt < 100; ++attempt) {
        std::lock_guard tracking(Tracking().lock);
        stage_ = (fs::path(destination) / (std::string(kTempTag) + RandomChars())).string();
        const std::wstring wide = fs::path(stage_).wstring();
        if (!CreateDirectoryW(wide.c_str(), nullptr)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            *error = Reason(destination, "cannot write into the folder");
            stage_.clear();
            Discard();
            return false;
        }
        HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            stageLock_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), 0);
        PauseForTest("stage");
        tracked_ = Track(stage_, Kind::Stage);
    }
#else
    for (int attempt = 0; stageLock_ < 0 && attempt < 100; ++attempt) {
        std::lock_guard tracking(Tracking().lock);
        stage_ = (fs::path(destination) / (std::string(kTempTag) + "XXXXXX")).string();
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
            continue; // another run took it for abandoned and removes it
        }
        PauseForTest("stage");
        tracked_ = Track(stage_, Kind::Stage);
    }
#endif
    if (stageLock_ < 0) {
        *error = destination + ": cannot write into the folder: no staging folder could be locked";
        stage_.clear();
        Discard();
        return false;
    }
    return true;
}

std::string StagingDirectory::PathOf(const std::string& name) const {
    return (fs::path(stage_) / name).string();
}

bool StagingDirectory::Commit(const std::vector<std::string>& names, std::string* error) {
    // A signal waits until every frame is in: the destination ends whole either way.
    std::lock_guard tracking(Tracking().lock);
    for (const auto& name : names) {
        const std::string to = (fs::path(destination_) / name).string();
#ifdef _WIN32
        if (!MoveFileExW(fs::path(PathOf(name)).wstring().c_str(), fs::path(to).wstring().c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            *error = Reason(to, "cannot replace");
            return false;
        }
#else
        if (::rename(PathOf(name).c_str(), to.c_str()) != 0) {
            *error = Reason(to, "cannot replace", errno);
            return false;
        }
#endif
        PauseForTest("commit");
    }
#ifndef _WIN32
    int dfd = ::open(destination_.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
#endif
    KeepFolders(&created_);
    Discard();
    return true;
}

void StagingDirectory::Discard() {
    std::error_code ec;
    if (!stage_.empty()) {
        fs::remove_all(stage_, ec);
        stage_.clear();
    }
    if (stageLock_ >= 0) {
#ifdef _WIN32
        ::_close(stageLock_);
#else
        ::close(stageLock_); // after the removal: no other run may take it meanwhile
#endif
        stageLock_ = -1;
    }
    Untrack(tracked_);
    tracked_ = -1;
    RemoveFolders(&created_);
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

#ifdef _WIN32
void RemoveTemporaryFilesOnSignals() {
    // Ctrl+C, Ctrl+Break and closing the console: the handler runs on a thread of its own.
    SetConsoleCtrlHandler(
        [](DWORD) -> BOOL {
            Tracked& t = Tracking();
            t.signalled = true;
            t.lock.lock(); // held to the end: nothing new is created or tracked after this
            for (auto it = t.paths.rbegin(); it != t.paths.rend(); ++it)
                Remove(it->second.first, it->second.second);
            ExitProcess(STATUS_CONTROL_C_EXIT);
        },
        TRUE);
}
#else
void RemoveTemporaryFilesOnSignals() {
    static std::once_flag once;
    std::call_once(once, [] {
        sigset_t signals;
        sigemptyset(&signals);
        for (int sig : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&signals, sig);
        ::pthread_sigmask(SIG_BLOCK, &signals, nullptr); // threads made later inherit it
        std::thread(EndOnSignals, signals).detach();
        // A signal that came while the last paths were made or moved ends the program, even if
        // its work got done meanwhile: the signal thread is let finish instead of raced.
        std::atexit([] {
            while (Tracking().signalled)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        });
    });
}
#endif

} // namespace velmora::host
