// The GPIO listener threads: one body, three rows.
#include "board/gpio_listener.h"

#include "board/gpio.h"
#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "platform/log.h"

#include <sys/select.h>

#include <cerrno>
#include <cstring>

namespace optad {

const GpioListenerRow gpio_listener_rows[GPIO_LISTENER_COUNT] = {
    {GPIO_POWER_GOOD, "power_good", "gpio_power_good", 0, true, JT_RESTART_IMC, nullptr,
     "Image Chip Error, GPIO POWER_GOOD is low!\n", LOG_ERR},
    {GPIO_INIT_DONE, "gpio_init_done", "gpio_init_done", 0, true, JT_RESTART_IMC, nullptr,
     "Image Chip Error, GPIO INIT_DONE is low!\n", LOG_ERR},
    {GPIO_I2N_INT, "gpio_i2n_int", "gpio_i2n_int", 1, false, JT_I2N_INT,
     "DEBUG:optad:gpio_i2n_int - went high! => Try to take lock!\n",
     "DEBUG:optad:gpio_i2n_int - went high! => Send IMC Interrupt!\n", LOG_DEBUG},
};

namespace {

// A set-up failure: errno (saved right after the failing call, before any
// other log line could change it), its text, the tag and the line.
void log_setup_error(int e, const GpioListenerRow &row, const char *what)
{
    OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:%s - Not possible to %s GPIO %s!\n", e, strerror(e), row.setup_tag, what,
                    row.line);
}

void release(GpioListener &l)
{
    pinio_close(l.line);
    pinio_free(l.line);
    l.line = nullptr;
    l.fd = -1;
}

gpointer listen(const GpioListenerRow &row)
{
    GpioListener listener;
    if (gpio_listener_setup(listener, row) != 0)
        return nullptr;
    for (;;)
        gpio_listener_wait_once(listener);
}

}  // namespace

int gpio_listener_setup(GpioListener &l, const GpioListenerRow &row)
{
    l = GpioListener{};
    l.row = &row;
    OPTAD_LOG_DEBUG("DEBUG:optad:%s - pinio_get_value called to GPIO %s\n", row.setup_tag, row.line);

    l.line = pinio_request_named(row.line);
    if (l.line == nullptr) {
        log_setup_error(errno, row, "request");
        return -1;
    }
    if (pinio_full_open(l.line) < 0) {
        log_setup_error(errno, row, "full open");
        pinio_free(l.line);
        l.line = nullptr;
        return -1;
    }

    if (pinio_alterable_direction(l.line)) {
        const int failed = pinio_direction_input(l.line) < 0;
        const int e = errno;
        OPTAD_LOG_DEBUG("DEBUG:optad:%s - Set GPIOF_DIR_IN on GPIO %s\n", row.setup_tag, row.line);
        if (failed) {
            log_setup_error(e, row, "set input on");
            release(l);
            return -1;
        }
    } else {
        // Lines fixed as inputs by the board need no change.
        log_setup_error(errno, row, "alter direction on");
    }

    const int edge_failed = pinio_set_edge(l.line, PINIO_TRIG_BOTH) < 0;
    const int e = errno;
    OPTAD_LOG_DEBUG("DEBUG:optad:%s - Set GPIOF_TRIG_FALL | GPIOF_TRIG_RISE on GPIO %s\n", row.setup_tag, row.line);
    if (edge_failed)
        log_setup_error(e, row, "set edge on");

    // Without a descriptor there is nothing to wait on: select() on an
    // invalid descriptor fails at once, and the loop would spin for ever
    // without ever seeing an edge. A descriptor at or above FD_SETSIZE
    // cannot be put into an fd_set at all. The library's descriptor does not
    // come back on a retry of the same open line, so the thread ends like
    // after the other set-up failures, with the line released; the error
    // line tells that this signal is not watched.
    l.fd = pinio_fd(l.line);
    if (l.fd < 0 || l.fd >= FD_SETSIZE) {
        log_setup_error(l.fd < 0 ? errno : EMFILE, row, "get fd on");
        release(l);
        return -1;
    }

    l.first_wake = true;
    return 0;
}

int gpio_listener_wait_once(GpioListener &l)
{
    const GpioListenerRow &row = *l.row;

    // The edge event is an exceptional condition on the value descriptor.
    // No time limit: the line is watched for the daemon's lifetime.
    fd_set except;
    FD_ZERO(&except);
    FD_SET(l.fd, &except);
    if (select(l.fd + 1, nullptr, nullptr, &except, nullptr) <= 0 || !FD_ISSET(l.fd, &except))
        return -1;

    // The generations are read before the line: what the value shows
    // happened no later than them.
    const unsigned power_ups = daemon_state.power_ups.load();
    const unsigned generation = daemon_state.module_generation.load();
    // Reading the value also acknowledges the edge.
    const int value = pinio_get_value(l.line);
    OPTAD_LOG_DEBUG("DEBUG:optad:%s - Value on GPIO %s is %d!\n", row.loop_tag, row.line, value);

    // The first wake reports the level the line had when it was armed, not
    // an edge.
    if (l.first_wake) {
        OPTAD_LOG_DEBUG("DEBUG:optad:%s - Ignoring first value change on GPIO %s which is %d!\n", row.loop_tag,
                        row.line, value);
        l.first_wake = false;
        return 0;
    }

    // A failed read is negative and never equals the triggering level.
    if (value != row.trigger_value)
        return 0;

    if (row.before_lock != nullptr)
        OPTAD_LOG_DEBUG("%s", row.before_lock);
    int queued;
    if (row.needs_imc_ready) {
        // Only a running module is restarted: a drop while the IMC-ready
        // flag is clear comes from the daemon's own shutdown or power-up,
        // and a drop read before a power-up that has succeeded since is old
        // news (a POWER_GOOD drop stops the IMC, so INIT_DONE falls with it
        // and both listeners wake). Both are checked where the job is
        // appended, under the job-list mutex, where a shutdown clears the
        // flag. The same step abandons any REQ wait: an IMC without power
        // or halted never raises REQ again, and the restart must not wait
        // out a REQ time-out first.
        queued = queue_module_job(row.job, power_ups, true);
        if (queued == 1)
            return 0;
    } else {
        // Appended even when the same job is already pending: two
        // interrupts are two jobs. But not when a shutdown began or ended
        // since the line was read: an interrupt of the module before its
        // shutdown, or of the IMC restarting while it went down, must not
        // count as the next start's first one. The first interrupt of a
        // start comes while its power-up still runs, and counts.
        queued = queue_interrupt_job(row.job, generation);
        if (queued == 1)
            return 0;
    }
    if (row.trigger_priority != LOG_DEBUG || log_verbose())
        log_write(row.trigger_priority, "%s", row.trigger_message);
    return queued == 0 ? 1 : 0;
}

gpointer gpio_power_good(gpointer)
{
    return listen(gpio_listener_rows[GPIO_LISTENER_POWER_GOOD]);
}

gpointer gpio_init_done(gpointer)
{
    return listen(gpio_listener_rows[GPIO_LISTENER_INIT_DONE]);
}

gpointer gpio_i2n_int(gpointer)
{
    return listen(gpio_listener_rows[GPIO_LISTENER_I2N_INT]);
}

}  // namespace optad
