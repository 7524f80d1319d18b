// What the program tells its user on stderr: one-line messages, and a progress bar.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace velmora::host {

// "velmora: message" on stderr. Fail returns the exit status, for `return Fail(...)`.
void Say(const std::string& message);
int Fail(const std::string& message, int status = 1);

// A one-line progress bar, drawn only when stderr is a terminal.

class ProgressBar {
public:
    ProgressBar(std::size_t total, std::string unit);
    ~ProgressBar(); // ends the line if one was drawn
    // Redraws at most a few times a second, and always for the last item.
    void Update(std::size_t done);
    bool active() const { return active_; }

private:
    std::size_t total_;
    std::string unit_;
    bool active_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_, last_;
};

} // namespace velmora::host
