// The GPIO listener threads: set-up and its failures, the first wake, which
// edges become which jobs, what is logged with verbose logging off, and the
// jobs reaching a waiting main loop from three listeners at once.
//
// The lines come from a private fake of the GPIO library whose every line
// has its own descriptor: one end of a Unix socketpair, on which a queued
// edge sends an out-of-band byte that select() reports as an exceptional
// condition until the value is read, like a GPIO value file after an edge.
#include "board/gpio_listener.h"

#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "platform/backend.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace optad {
namespace {

using test::LogCapture;

// ---------------- a GPIO library with edges on every line ----------------

struct Line {
    std::string name;
    int value = 0;
    bool alterable = true;
    // errno of an injected failure, per call.
    int fail_request = 0;
    int fail_open = 0;
    int fail_input = 0;
    int fail_edge = 0;
    int fail_fd = 0;
    int fail_get = 0;
    int requested = 0;  // handles not yet freed
    int opened = 0;     // handles not yet closed
    int edge_mask = -1;
    std::deque<int> edges;  // levels after each queued edge
    int sock[2] = {-1, -1};
};

class EdgePins final : public PinioBackend {
public:
    ~EdgePins() override
    {
        for (auto &[name, l] : lines_)
            for (int fd : l.sock)
                ::close(fd);
    }

    // The line of that name, created as an input at 0 on first use.
    Line &line(const std::string &name)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return of(name);
    }
    // An edge after which the line reads level. Each edge is reported once
    // by select() and consumed by one value read.
    void edge(const std::string &name, int level)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Line &l = of(name);
        l.edges.push_back(level);
        if (l.edges.size() == 1)
            notify(l);
    }
    // How often a call ("request imc_i2n_int", "close imc_i2n_int") was made.
    int count(const std::string &call) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const std::string &c : calls_)
            n += c == call;
        return n;
    }

    pinio_line *request_named(const char *name) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Line &l = of(name);
        if (!succeeds("request", l, l.fail_request))
            return nullptr;
        ++l.requested;
        return reinterpret_cast<pinio_line *>(&l);
    }
    int full_open(pinio_line *p) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!succeeds("open", of(p), of(p).fail_open))
            return -1;
        ++of(p).opened;
        return 0;
    }
    int alterable_direction(pinio_line *p) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return succeeds("alterable", of(p), of(p).alterable ? 0 : EPERM) ? 1 : 0;
    }
    int direction_input(pinio_line *p) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return succeeds("input", of(p), of(p).fail_input) ? 0 : -1;
    }
    int get_value(pinio_line *p) override
    {
        int value;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Line &l = of(p);
            if (!l.edges.empty()) {
                l.value = l.edges.front();
                l.edges.pop_front();
                char c;
                if (::recv(l.sock[0], &c, 1, MSG_OOB) != 1)
                    std::perror("recv MSG_OOB");
                if (!l.edges.empty())
                    notify(l);
            }
            value = succeeds("get", l, l.fail_get) ? l.value : -1;
        }
        // What the main loop does between a listener's read and its append.
        if (after_read)
            std::exchange(after_read, nullptr)();
        return value;
    }
    // Run once, right after the next value read, on the reading thread.
    std::function<void()> after_read;
    int set_edge(pinio_line *p, int edge) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!succeeds("edge", of(p), of(p).fail_edge))
            return -1;
        of(p).edge_mask = edge;
        return 0;
    }
    int fd(pinio_line *p) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return succeeds("fd", of(p), of(p).fail_fd) ? of(p).sock[0] : -1;
    }
    void close(pinio_line *p) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        succeeds("close", of(p), 0);
        --of(p).opened;
    }
    void free(pinio_line *p) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        succeeds("free", of(p), 0);
        --of(p).requested;
    }

    // Calls the listeners never make.
    pinio_line *request(int, const char *) override { return unexpected<pinio_line *>("request by number", nullptr); }
    int get_direction(pinio_line *) override { return unexpected("get_direction", -1); }
    int direction_output(pinio_line *, int) override { return unexpected("direction_output", 1); }
    int set_value(pinio_line *, int) override { return unexpected("set_value", -1); }

private:
    Line &of(const std::string &name)
    {
        auto it = lines_.find(name);
        if (it == lines_.end()) {
            it = lines_.emplace(name, Line{}).first;
            it->second.name = name;
            if (socketpair(AF_UNIX, SOCK_STREAM, 0, it->second.sock) != 0) {
                std::perror("socketpair");
                std::abort();
            }
        }
        return it->second;
    }
    Line &of(pinio_line *p) { return *reinterpret_cast<Line *>(p); }
    // Records the call; false with errno set when a failure is injected.
    bool succeeds(const char *what, const Line &l, int fail_errno)
    {
        calls_.push_back(std::string(what) + " " + l.name);
        errno = fail_errno;
        return fail_errno == 0;
    }
    template <typename T>
    T unexpected(const char *what, T result)
    {
        ADD_FAILURE() << "a listener called " << what;
        errno = EINVAL;
        return result;
    }
    void notify(Line &l)
    {
        char c = 'e';
        if (::send(l.sock[1], &c, 1, MSG_OOB) != 1)
            std::perror("send MSG_OOB");
    }

    mutable std::mutex mutex_;
    std::map<std::string, Line> lines_;  // nodes stay put: handles point into them
    std::vector<std::string> calls_;
};

// ---------------- the three listeners as the messages name them ----------------

struct Listener {
    int row;                    // index into gpio_listener_rows
    GThreadFunc body;
    const char *line;
    const char *setup_tag;
    const char *loop_tag;
};

const Listener POWER_GOOD = {GPIO_LISTENER_POWER_GOOD, gpio_power_good, "imc_power_good", "power_good",
                             "gpio_power_good"};
const Listener INIT_DONE = {GPIO_LISTENER_INIT_DONE, gpio_init_done, "imc_init_done", "gpio_init_done",
                            "gpio_init_done"};
const Listener I2N_INT = {GPIO_LISTENER_I2N_INT, gpio_i2n_int, "imc_i2n_int", "gpio_i2n_int", "gpio_i2n_int"};
const Listener ALL[] = {POWER_GOOD, INIT_DONE, I2N_INT};

const char POWER_GOOD_LOW[] = "Image Chip Error, GPIO POWER_GOOD is low!\n";
const char INIT_DONE_LOW[] = "Image Chip Error, GPIO INIT_DONE is low!\n";
const char I2N_TRY_LOCK[] = "DEBUG:optad:gpio_i2n_int - went high! => Try to take lock!\n";
const char I2N_SEND[] = "DEBUG:optad:gpio_i2n_int - went high! => Send IMC Interrupt!\n";

std::string text(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string text(const char *fmt, ...)
{
    char buf[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

class GpioListenerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        process_state_reset_for_tests();
        ASSERT_EQ(sync_objects_create(), 0);
        pinio_set_backend(&pins);
    }
    void TearDown() override
    {
        // The daemon never lets go of a watched line; the test does.
        for (GpioListener &l : listeners_)
            if (l.line != nullptr) {
                pinio_close(l.line);
                pinio_free(l.line);
            }
        pinio_set_backend(nullptr);
        process_state_reset_for_tests();
    }

    // A listener set up for `which`, held until the end of the test.
    GpioListener &set_up(const Listener &which)
    {
        GpioListener &l = listeners_.emplace_back();
        EXPECT_EQ(gpio_listener_setup(l, gpio_listener_rows[which.row]), 0);
        return l;
    }
    // The same, with its first wake consumed with the line at `level`.
    GpioListener &arm(const Listener &which, int level)
    {
        GpioListener &l = set_up(which);
        if (l.line == nullptr)
            return l;
        pins.edge(which.line, level);
        EXPECT_EQ(gpio_listener_wait_once(l), 0);
        EXPECT_FALSE(l.first_wake);
        return l;
    }
    // One edge to `level` and the listener's answer to it.
    int edge(GpioListener &l, int level)
    {
        if (l.line == nullptr) {
            ADD_FAILURE() << "the listener was not set up";
            return -2;
        }
        pins.edge(l.row->line, level);
        return gpio_listener_wait_once(l);
    }
    std::vector<int> jobs()
    {
        job_list_lock();
        std::vector<int> v;
        for (size_t i = 0; i < job_list.size(); ++i)
            v.push_back(job_list.at(i));
        job_list_unlock();
        return v;
    }
    void imc_ready(int on) { daemon_state.imc_ready.store(on); }

    EdgePins pins;
    LogCapture log;
    std::deque<GpioListener> listeners_;
};

// ---------------- set-up ----------------

TEST_F(GpioListenerTest, SetUpArmsBothEdgesOfAnInputAndHoldsTheLine)
{
    for (const Listener &which : ALL) {
        SCOPED_TRACE(which.line);
        log.clear();
        GpioListener &l = set_up(which);
        EXPECT_TRUE(l.first_wake);
        EXPECT_GE(l.fd, 0);
        const Line &line = pins.line(which.line);
        EXPECT_EQ(line.requested, 1);
        EXPECT_EQ(line.opened, 1);
        EXPECT_EQ(line.edge_mask, 12);
        EXPECT_EQ(pins.count(std::string("input ") + which.line), 1);

        const std::vector<std::string> expected = {
            text("DEBUG:optad:%s - pinio_get_value called to GPIO %s\n", which.setup_tag, which.line),
            text("DEBUG:optad:%s - Set GPIOF_DIR_IN on GPIO %s\n", which.setup_tag, which.line),
            text("DEBUG:optad:%s - Set GPIOF_TRIG_FALL | GPIOF_TRIG_RISE on GPIO %s\n", which.setup_tag, which.line),
        };
        std::vector<std::string> logged;
        for (const LogCapture::Line &logged_line : log.lines()) {
            EXPECT_EQ(logged_line.priority, LOG_DEBUG) << logged_line.text;
            logged.push_back(logged_line.text);
        }
        EXPECT_EQ(logged, expected);
    }
}

// A failed request, full open, input set-up or descriptor ends the thread
// with the line released; the error line names the thread's tag and line.
struct EndingFailure {
    int Line::*flag;
    int errnum;
    const char *error;  // "<errno> - (<its text>)"
    const char *what;   // "Not possible to <what> GPIO <line>!"
    bool freed;         // free() called (the request had succeeded)
    bool closed;        // close() called (the open had succeeded)
};

const EndingFailure ENDING_FAILURES[] = {
    {&Line::fail_request, ENODEV, "19 - (No such device)", "request", false, false},
    {&Line::fail_open, EBUSY, "16 - (Device or resource busy)", "full open", true, false},
    {&Line::fail_input, EIO, "5 - (Input/output error)", "set input on", true, true},
    {&Line::fail_fd, EMFILE, "24 - (Too many open files)", "get fd on", true, true},
};

TEST_F(GpioListenerTest, FailedSetUpEndsTheThreadAndReleasesTheLine)
{
    for (const Listener &which : ALL) {
        for (const EndingFailure &f : ENDING_FAILURES) {
            const std::string message = text("%s ERROR:optad:%s - Not possible to %s GPIO %s!\n", f.error,
                                             which.setup_tag, f.what, which.line);
            SCOPED_TRACE(message);
            Line &line = pins.line(which.line);
            line.fail_request = line.fail_open = line.fail_input = line.fail_fd = 0;
            line.*(f.flag) = f.errnum;
            const int frees = pins.count(std::string("free ") + which.line);
            const int closes = pins.count(std::string("close ") + which.line);
            log.clear();

            // The real thread body, on this thread: it returns.
            EXPECT_EQ(which.body(nullptr), nullptr);

            EXPECT_EQ(log.count(message), 1) << log.text();
            EXPECT_EQ(line.requested, 0);
            EXPECT_EQ(line.opened, 0);
            EXPECT_EQ(pins.count(std::string("free ") + which.line) - frees, f.freed ? 1 : 0);
            EXPECT_EQ(pins.count(std::string("close ") + which.line) - closes, f.closed ? 1 : 0);
            int errors = 0;
            for (const LogCapture::Line &l : log.lines())
                errors += l.priority == LOG_ERR;
            EXPECT_EQ(errors, 1);
        }
    }
}

TEST_F(GpioListenerTest, SetUpFailuresAreLoggedWithVerboseLoggingOff)
{
    LogCapture quiet(false);
    pins.line("imc_init_done").fail_open = EBUSY;
    EXPECT_EQ(gpio_init_done(nullptr), nullptr);
    const std::string expected =
        "16 - (Device or resource busy) ERROR:optad:gpio_init_done - Not possible to full open GPIO imc_init_done!\n";
    EXPECT_EQ(quiet.text(), expected);
}

TEST_F(GpioListenerTest, AFixedDirectionOrAFailedEdgeSetUpIsLoggedAndTheSetUpGoesOn)
{
    Line &line = pins.line("imc_power_good");
    line.alterable = false;
    line.fail_edge = EINVAL;
    GpioListener &l = set_up(POWER_GOOD);
    EXPECT_EQ(log.count("1 - (Operation not permitted) ERROR:optad:power_good - Not possible to alter direction on "
                        "GPIO imc_power_good!\n"),
              1);
    EXPECT_EQ(log.count("22 - (Invalid argument) ERROR:optad:power_good - Not possible to set edge on GPIO "
                        "imc_power_good!\n"),
              1);
    EXPECT_EQ(log.count("DEBUG:optad:power_good - Set GPIOF_TRIG_FALL | GPIOF_TRIG_RISE on GPIO imc_power_good\n"), 1)
        << "logged before the result is looked at";
    EXPECT_EQ(log.count_containing("Set GPIOF_DIR_IN"), 0);
    EXPECT_EQ(pins.count("input imc_power_good"), 0);
    EXPECT_EQ(pins.count("fd imc_power_good"), 1);
    EXPECT_TRUE(l.first_wake);
    EXPECT_EQ(line.opened, 1);
}

// ---------------- the wait loop ----------------

TEST_F(GpioListenerTest, TheFirstWakeIsIgnoredEvenForADropWithTheImcReady)
{
    imc_ready(1);
    GpioListener &l = set_up(POWER_GOOD);
    log.clear();

    EXPECT_EQ(edge(l, 0), 0);
    EXPECT_EQ(jobs(), std::vector<int>{});
    EXPECT_EQ(log.text(), "DEBUG:optad:gpio_power_good - Value on GPIO imc_power_good is 0!\n"
                          "DEBUG:optad:gpio_power_good - Ignoring first value change on GPIO imc_power_good which is "
                          "0!\n");

    // Only the first: the next drop counts.
    log.clear();
    EXPECT_EQ(edge(l, 0), 1);
    EXPECT_EQ(jobs(), std::vector<int>{JT_RESTART_IMC});
    EXPECT_EQ(log.count("Image Chip Error, GPIO POWER_GOOD is low!\n"), 1);
}

TEST_F(GpioListenerTest, ADropWhileTheImcRunsAsksForARestart)
{
    struct Case {
        Listener which;
        const char *message;
    } cases[] = {{POWER_GOOD, POWER_GOOD_LOW}, {INIT_DONE, INIT_DONE_LOW}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.which.line);
        job_list.clear();
        GpioListener &l = arm(c.which, 1);
        imc_ready(1);
        log.clear();

        EXPECT_EQ(edge(l, 0), 1);
        EXPECT_EQ(jobs(), std::vector<int>{JT_RESTART_IMC});
        ASSERT_EQ(log.lines().size(), 2u) << log.text();
        EXPECT_EQ(log.lines()[0].text, std::string("DEBUG:optad:") + c.which.loop_tag + " - Value on GPIO " +
                                           c.which.line + " is 0!\n");
        EXPECT_EQ(log.lines()[1].text, c.message);
        EXPECT_EQ(log.lines()[1].priority, LOG_ERR);

        // A rise back, with the IMC still ready, asks for nothing.
        EXPECT_EQ(edge(l, 1), 0);
        EXPECT_EQ(jobs(), std::vector<int>{JT_RESTART_IMC});
        // The same drop again is a second job, even while the first waits.
        EXPECT_EQ(edge(l, 0), 1);
        EXPECT_EQ(jobs(), (std::vector<int>{JT_RESTART_IMC, JT_RESTART_IMC}));
        imc_ready(0);
    }
}

TEST_F(GpioListenerTest, ADropSeenBeforeARestartThatRanMeanwhileAsksForNothing)
{
    // The main loop holds the job list (a status poll, say) when POWER_GOOD
    // drops; the INIT_DONE listener's restart runs first, shuts the module
    // down and clears the IMC-ready flag; only then does this listener get
    // the lock.
    GpioListener &l = arm(POWER_GOOD, 1);
    imc_ready(1);
    job_list.clear();
    job_list_lock();
    int result = -2;
    std::thread listener([&] { result = edge(l, 0); });
    // Let the listener read the level and block on the lock.
    while (log.count_containing("Value on GPIO imc_power_good is 0!") == 0)
        g_usleep(1000);
    g_usleep(20000);
    imc_ready(0);
    job_list_unlock();
    listener.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(jobs().empty());
    EXPECT_EQ(log.count_containing("Image Chip Error"), 0);

    // The same when the main loop also powered the module up again before
    // letting go: the IMC is ready, but not the IMC that dropped.
    imc_ready(1);
    log.clear();
    job_list_lock();
    std::thread late([&] { result = edge(l, 0); });
    while (log.count_containing("Value on GPIO imc_power_good is 0!") == 0)
        g_usleep(1000);
    g_usleep(20000);
    daemon_state.power_ups.fetch_add(1);
    job_list_unlock();
    late.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(jobs().empty());
    EXPECT_EQ(log.count_containing("Image Chip Error"), 0);
    imc_ready(0);
}

TEST_F(GpioListenerTest, ADropDuringPowerUpOrShutdownAsksForNothing)
{
    for (const Listener &which : {POWER_GOOD, INIT_DONE}) {
        SCOPED_TRACE(which.line);
        GpioListener &l = arm(which, 1);
        imc_ready(0);
        log.clear();
        EXPECT_EQ(edge(l, 0), 0);
        EXPECT_EQ(edge(l, 1), 0);
        EXPECT_EQ(edge(l, 0), 0);
        EXPECT_EQ(jobs(), std::vector<int>{});
        EXPECT_EQ(log.count_containing("Image Chip Error"), 0);
    }
}

TEST_F(GpioListenerTest, AFailedReadTriggersNothing)
{
    imc_ready(1);
    GpioListener &pg = arm(POWER_GOOD, 1);
    GpioListener &i2n = arm(I2N_INT, 0);
    pins.line("imc_power_good").fail_get = EIO;
    pins.line("imc_i2n_int").fail_get = EIO;
    log.clear();
    EXPECT_EQ(edge(pg, 0), 0);
    EXPECT_EQ(edge(i2n, 1), 0);
    EXPECT_EQ(jobs(), std::vector<int>{});
    EXPECT_EQ(log.count("DEBUG:optad:gpio_power_good - Value on GPIO imc_power_good is -1!\n"), 1);
    EXPECT_EQ(log.count("DEBUG:optad:gpio_i2n_int - Value on GPIO imc_i2n_int is -1!\n"), 1);
}

TEST_F(GpioListenerTest, EveryRiseOfTheInterruptLineIsAJobAndAFallIsNone)
{
    GpioListener &l = arm(I2N_INT, 0);
    // The interrupt does not depend on the IMC-ready flag.
    imc_ready(0);
    log.clear();

    EXPECT_EQ(edge(l, 1), 1);
    EXPECT_EQ(log.text(), "DEBUG:optad:gpio_i2n_int - Value on GPIO imc_i2n_int is 1!\n" + std::string(I2N_TRY_LOCK) +
                              I2N_SEND);
    EXPECT_EQ(edge(l, 0), 0);
    EXPECT_EQ(edge(l, 1), 1);
    EXPECT_EQ(jobs(), (std::vector<int>{JT_I2N_INT, JT_I2N_INT}));
    for (const LogCapture::Line &line : log.lines())
        EXPECT_EQ(line.priority, LOG_DEBUG) << line.text;
}

// An interrupt read before a shutdown began, or while it ran (an IMC told
// to reset starts again before its supplies go), is not the next start's
// first interrupt: it is not queued, or no longer queued, when the next
// power-up waits for that. The IMC's first interrupt comes while its
// power-up still runs (the power-up not yet counted, the IMC not yet
// ready): it counts.
TEST_F(GpioListenerTest, AnInterruptFromBeforeOrDuringAShutdownIsNotTheNextStartsFirst)
{
    const auto shutdown_begins = [] { job_list_clear_for_shutdown(); };
    const auto module_off = [] { job_list_module_off(); };
    const auto shutdown = [] {
        job_list_clear_for_shutdown();
        job_list_module_off();
    };
    const auto powered_up = [] {
        daemon_state.power_ups.fetch_add(1);
        daemon_state.imc_ready.store(1);
    };
    const struct {
        const char *name;
        std::function<void()> before;   // before the interrupt
        std::function<void()> between;  // after the listener read the line, before it appends
        std::function<void()> after;
        bool queued;  // by the listener
        std::vector<int> jobs;
    } cases[] = {
        {"while the module runs", powered_up, nullptr, nullptr, true, {JT_I2N_INT}},
        {"read before a shutdown", powered_up, shutdown_begins, nullptr, false, {}},
        {"read before a whole shutdown", powered_up, shutdown, nullptr, false, {}},
        {"read during a shutdown, queued after it", shutdown_begins, module_off, nullptr, false, {}},
        {"queued during a shutdown", shutdown_begins, nullptr, module_off, true, {}},
        {"read during the next power-up", shutdown, nullptr, nullptr, true, {JT_I2N_INT}},
        {"read during the next power-up, queued after it succeeded", shutdown, powered_up, nullptr, true,
         {JT_I2N_INT}},
    };
    GpioListener &l = arm(I2N_INT, 0);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        daemon_state.reset();
        job_list.clear();
        if (c.before)
            c.before();
        pins.after_read = c.between;
        log.clear();
        EXPECT_EQ(edge(l, 1), c.queued ? 1 : 0);
        EXPECT_EQ(log.count(I2N_SEND), c.queued ? 1 : 0) << log.text();
        EXPECT_EQ(edge(l, 0), 0);
        if (c.after)
            c.after();
        EXPECT_EQ(jobs(), c.jobs);
    }
}

TEST_F(GpioListenerTest, TheFirstWakeOfTheInterruptLineIsIgnoredToo)
{
    GpioListener &l = set_up(I2N_INT);
    EXPECT_EQ(edge(l, 1), 0);
    EXPECT_EQ(log.count("DEBUG:optad:gpio_i2n_int - Ignoring first value change on GPIO imc_i2n_int which is 1!\n"), 1);
    EXPECT_EQ(jobs(), std::vector<int>{});
}

TEST_F(GpioListenerTest, WithVerboseLoggingOffOnlyTheErrorLinesAreWritten)
{
    LogCapture quiet(false);
    imc_ready(1);
    GpioListener &pg = arm(POWER_GOOD, 1);
    GpioListener &id = arm(INIT_DONE, 1);
    GpioListener &i2n = arm(I2N_INT, 0);
    EXPECT_EQ(edge(i2n, 1), 1);
    EXPECT_EQ(edge(i2n, 0), 0);
    EXPECT_EQ(edge(pg, 0), 1);
    EXPECT_EQ(edge(pg, 1), 0);
    EXPECT_EQ(edge(id, 0), 1);
    EXPECT_EQ(jobs(), (std::vector<int>{JT_I2N_INT, JT_RESTART_IMC, JT_RESTART_IMC}));
    EXPECT_EQ(quiet.text(), std::string(POWER_GOOD_LOW) + INIT_DONE_LOW);
}

TEST_F(GpioListenerTest, AWakeWithoutAnEdgeOnTheDescriptorReadsNothing)
{
    GpioListener &l = arm(POWER_GOOD, 1);
    // A descriptor select() refuses: the pass ends without a read.
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    ::close(sv[0]);
    ::close(sv[1]);
    const int held = l.fd;
    l.fd = sv[0];
    const int reads = pins.count("get imc_power_good");
    EXPECT_EQ(gpio_listener_wait_once(l), -1);
    EXPECT_EQ(pins.count("get imc_power_good"), reads);
    l.fd = held;
}

// ---------------- with the main loop ----------------

TEST_F(GpioListenerTest, TheJobWakesAMainLoopWaitingForData)
{
    GpioListener &l = arm(I2N_INT, 0);

    // The main loop's wait, with a deadline so that a missing signal fails
    // the test instead of hanging it.
    std::atomic<bool> waiting{false};
    bool woken = false;
    std::vector<int> seen;
    std::thread main_loop([&] {
        job_list_lock();
        waiting = true;
        const int64_t deadline = g_get_monotonic_time() + 10'000'000;
        while (job_list.empty() && g_get_monotonic_time() < deadline)
            woken = job_list_wait_until(deadline);
        for (size_t i = 0; i < job_list.size(); ++i)
            seen.push_back(job_list.at(i));
        job_list_unlock();
    });
    while (!waiting)
        std::this_thread::yield();
    // Once the lock is free again, the main loop is inside its wait.
    job_list_lock();
    job_list_unlock();

    EXPECT_EQ(edge(l, 1), 1);
    main_loop.join();
    EXPECT_TRUE(woken) << "signalled, not timed out";
    EXPECT_EQ(seen, std::vector<int>{JT_I2N_INT});
}

TEST_F(GpioListenerTest, ThreeListenersAndTheMainLoopAtOnce)
{
    // Four jobs a round; the whole run fits the job list even if the main
    // loop is never scheduled until the end.
    constexpr int ROUNDS = 60;
    imc_ready(1);
    GpioListener &pg = arm(POWER_GOOD, 1);
    GpioListener &id = arm(INIT_DONE, 1);
    GpioListener &i2n = arm(I2N_INT, 0);

    // Each listener runs its wait loop on a thread of its own, as in the
    // daemon, until told to stop; a harmless edge then ends its last pass.
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (GpioListener *l : {&pg, &id, &i2n})
        threads.emplace_back([l, &stop] {
            while (!stop)
                gpio_listener_wait_once(*l);
        });

    // The main loop takes every job as it comes.
    const int expected = 4 * ROUNDS;
    int restarts = 0, interrupts = 0;
    std::thread main_loop([&] {
        const int64_t deadline = g_get_monotonic_time() + 60'000'000;
        job_list_lock();
        for (;;) {
            while (!job_list.empty()) {
                const int job = job_list.front();
                job_list.pop_front();
                restarts += job == JT_RESTART_IMC;
                interrupts += job == JT_I2N_INT;
            }
            if (restarts + interrupts >= expected || g_get_monotonic_time() >= deadline)
                break;
            job_list_wait_until(deadline);
        }
        job_list_unlock();
    });

    for (int i = 0; i < ROUNDS; ++i) {
        pins.edge("imc_power_good", 0);
        pins.edge("imc_power_good", 1);
        pins.edge("imc_init_done", 0);
        pins.edge("imc_i2n_int", 1);
        pins.edge("imc_i2n_int", 0);
        pins.edge("imc_i2n_int", 1);
    }
    main_loop.join();
    stop = true;
    pins.edge("imc_power_good", 1);
    pins.edge("imc_init_done", 1);
    pins.edge("imc_i2n_int", 0);
    for (std::thread &t : threads)
        t.join();

    EXPECT_EQ(restarts, 2 * ROUNDS);
    EXPECT_EQ(interrupts, 2 * ROUNDS);
    EXPECT_EQ(log.count(POWER_GOOD_LOW), ROUNDS);
    EXPECT_EQ(log.count(INIT_DONE_LOW), ROUNDS);
    EXPECT_EQ(log.count(I2N_SEND), 2 * ROUNDS);
}

}  // namespace
}  // namespace optad
