#include "tests/system/client_thread.h"

#include <algorithm>
#include <chrono>

namespace optad::test {

ClientThread::ClientThread(Round round)
    : thread_([this, round = std::move(round)] {
          while (!stop_)
              round(*this);
      })
{
}

void ClientThread::stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void ClientThread::call(const std::function<bool()> &answered)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const bool ok = answered();
    const long took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    worst_ms_ = std::max(worst_ms_.load(), took);
    failed_ += ok ? 0 : 1;
    calls_++;
}

}  // namespace optad::test
