// A client of the daemon's service on a thread of its own: it runs one
// round of calls over and over until stopped, and keeps how many calls it
// made, how many were not answered as expected, and the slowest answer.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace optad::test {

class ClientThread {
public:
    // One round of calls; it makes each call through call(). The thread
    // starts at once.
    using Round = std::function<void(ClientThread &)>;
    explicit ClientThread(Round round);
    ~ClientThread() { stop(); }
    ClientThread(const ClientThread &) = delete;
    ClientThread &operator=(const ClientThread &) = delete;

    void stop();
    // Times one call, which returns whether it was answered as expected.
    void call(const std::function<bool()> &answered);

    long worst_ms() const { return worst_ms_; }
    int failed() const { return failed_; }
    int calls() const { return calls_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<long> worst_ms_{0};
    std::atomic<int> failed_{0};
    std::atomic<int> calls_{0};
    std::thread thread_;
};

}  // namespace optad::test
