// Output files that appear whole or not at all: written to a temporary file beside the target,
// flushed to disk and renamed over it. Temporary files are removed on failure, on destruction
// and when the program is interrupted. A run that dies without a chance to clean up (SIGKILL, a
// crash, a power cut) leaves only hidden temporary files; each is held under an advisory lock
// (flock) while its run lives, and the next run writing to the same place removes those whose
// lock nobody holds.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace velmora::host {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile(); // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file for path, and the folders it needs. False with a one-line reason.
    bool Open(const std::string& path, std::string* error);
    std::FILE* stream() const { return file_; }
    // Flushes, syncs and closes the temporary file; it still has its temporary name.
    bool Finish(std::string* error);
    // Renames the finished file over the target. False with a reason; the target is untouched.
    bool Commit(std::string* error);
    // Removes the temporary file now.
    void Discard();
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string temp_;
    std::FILE* file_ = nullptr;
    int lock_ = -1; // the temporary file, locked until it is renamed or removed
    int tracked_ = -1;
    std::vector<int> created_; // the target's folders this run made, outermost first
};

// A hidden folder inside a destination folder where a whole sequence is written first; Commit
// moves the files into the destination, so a failed or interrupted run leaves the destination as
// it was (and removes the folders it created for it again).
class StagingDirectory {
public:
    StagingDirectory() = default;
    ~StagingDirectory(); // removes the folder and what is in it, unless committed
    StagingDirectory(const StagingDirectory&) = delete;
    StagingDirectory& operator=(const StagingDirectory&) = delete;

    // Creates the destination's missing folders and the staging folder inside it.
    bool Create(const std::string& destination, std::string* error);
    std::string PathOf(const std::string& name) const;
    // Renames each staged file over its name in the destination, then removes the folder.
    bool Commit(const std::vector<std::string>& names, std::string* error);
    void Discard();

private:
    std::string destination_;
    std::string stage_;
    int stageLock_ = -1; // the staging folder, open and locked while this run lives
    int tracked_ = -1;
    std::vector<int> created_; // the destination's folders this run made, outermost first
};

// Writes bytes to path atomically.
bool WriteFileAtomically(const std::string& path, const void* data, size_t size,
                         std::string* error);

// From now on SIGINT, SIGTERM and SIGHUP remove every temporary file and folder still open, then
// end the program as the signal would have. Call it before any other thread starts: the signals
// are blocked in this thread and the ones it starts, and one thread of its own takes them.
void RemoveTemporaryFilesOnSignals();

} // namespace velmora::host
