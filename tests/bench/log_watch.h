// Timing of the daemon's log lines for the rig benchmarks: a follower of a
// log file that notes when each awaited line appeared.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace optad::test {

// Seconds of the monotonic clock.
inline double now_s()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Follows a log file: each wait goes on from where the last one stopped.
class LogWatch {
public:
    explicit LogWatch(const std::string &path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~LogWatch()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    LogWatch(const LogWatch &) = delete;
    LogWatch &operator=(const LogWatch &) = delete;

    // The time the next line containing fragment appeared (read every
    // millisecond), or -1 after timeout_s.
    double wait(const std::string &fragment, double timeout_s)
    {
        const double deadline = now_s() + timeout_s;
        char buf[65536];
        while (now_s() < deadline) {
            ssize_t n;
            while ((n = read(fd_, buf, sizeof buf)) > 0)
                pending_.append(buf, static_cast<size_t>(n));
            size_t start = 0;
            for (size_t nl; (nl = pending_.find('\n', start)) != std::string::npos; start = nl + 1) {
                if (pending_.compare(start, nl - start, fragment) == 0 ||
                    pending_.substr(start, nl - start).find(fragment) != std::string::npos) {
                    pending_.erase(0, nl + 1);
                    return now_s();
                }
            }
            pending_.erase(0, start);
            usleep(1000);
        }
        return -1;
    }

private:
    int fd_;
    std::string pending_;
};

}  // namespace optad::test
