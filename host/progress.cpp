#include "progress.h"

#include <algorithm>
#include <cstdio>

#include "os.h"

namespace velmora::host {

void Say(const std::string& message) {
    std::fprintf(stderr, "velmora: %s\n", message.c_str());
}

int Fail(const std::string& message, int status) {
    Say(message);
    return status;
}

ProgressBar::ProgressBar(std::size_t total, std::string unit)
    : total_(total), unit_(std::move(unit)), active_(IsTerminal(stderr)),
      start_(std::chrono::steady_clock::now()), last_(start_ - std::chrono::seconds(1)) {}

ProgressBar::~ProgressBar() {
    if (drawn_)
        std::fputc('\n', stderr);
}

void ProgressBar::Update(std::size_t done) {
    if (!active_ || total_ == 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total_ && now - last_ < std::chrono::milliseconds(100))
        return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;

    const int columns = TerminalColumns();
    char tail[96];
    if (done < total_ && rate > 0)
        std::snprintf(tail, sizeof tail, " %zu/%zu %s  %.1f/s  %.0f s left", done, total_,
                      unit_.c_str(), rate, static_cast<double>(total_ - done) / rate);
    else
        std::snprintf(tail, sizeof tail, " %zu/%zu %s  %.1f/s  %.1f s", done, total_, unit_.c_str(),
                      rate, seconds);
    const int width = std::clamp(columns - static_cast<int>(std::string(tail).size()) - 3, 10, 50);
    const int filled = static_cast<int>(static_cast<double>(width) * done / total_);
    std::string bar = "\r[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
    std::fprintf(stderr, "%s%s\033[K", bar.c_str(), tail);
    std::fflush(stderr);
    drawn_ = true;
}

} // namespace velmora::host
