// A one-line progress bar on stderr, drawn only when stderr is a terminal.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace velmora::host {

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
