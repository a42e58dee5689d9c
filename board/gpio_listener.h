// The GPIO listener threads: three input lines of the image module whose
// edges become jobs for the main loop.
//
// A loss of POWER_GOOD or of INIT_DONE while the IMC is running asks for an
// IMC restart; a rise of the IMC's interrupt line asks the main loop to look
// at the next camera status. The threads never touch the IMC link: all they
// do is append a job to the job list and wake the main loop.
//
// The three share one body and differ only by a row of gpio_listener_rows.
// Each keeps its line requested and open for the life of the daemon and
// waits for edges with select() on the line's descriptor (exception set, no
// time limit); the first wake after set-up only reports the level the line
// had when it was armed, and is ignored.
#pragma once

#include "platform/pinio.h"

#include <glib.h>

namespace optad {

// Thread bodies, started by the daemon with g_thread_new() (the argument is
// not used). Each returns only when its set-up failed; after that its signal
// is not watched for the rest of the daemon's life.
gpointer gpio_power_good(gpointer);
gpointer gpio_init_done(gpointer);
gpointer gpio_i2n_int(gpointer);

// What distinguishes one listener from the others.
struct GpioListenerRow {
    const char *line;         // line name for the GPIO library
    const char *setup_tag;    // function word of the set-up messages
    const char *loop_tag;     // function word of the wait-loop messages
    int trigger_value;        // the level that triggers the job
    bool needs_imc_ready;     // trigger only while the IMC-ready flag is set
    int job;                  // job appended on a trigger
    const char *before_lock;  // verbose line logged before the lock, or null
    const char *trigger_message;
    int trigger_priority;     // LOG_ERR, or LOG_DEBUG (then verbose only)
};

enum : int {
    GPIO_LISTENER_POWER_GOOD,
    GPIO_LISTENER_INIT_DONE,
    GPIO_LISTENER_I2N_INT,
    GPIO_LISTENER_COUNT,
};
extern const GpioListenerRow gpio_listener_rows[GPIO_LISTENER_COUNT];

// One listener's own state.
struct GpioListener {
    const GpioListenerRow *row = nullptr;
    pinio_line *line = nullptr;
    int fd = -1;
    bool first_wake = false;
};

// The pieces of the thread body, which is gpio_listener_setup() and then
// gpio_listener_wait_once() for ever.

// Requests and opens the row's line, makes it an input and arms both edges.
// 0 with the line held and the first-wake flag set, or -1 (logged) with the
// line closed and freed again.
int gpio_listener_setup(GpioListener &listener, const GpioListenerRow &row);

// One pass of the wait loop: blocks until select() returns, then reads the
// level and acts on it. Returns 1 when a job was appended, 0 when the wake
// asked for nothing, -1 when select() reported no edge on the descriptor.
int gpio_listener_wait_once(GpioListener &listener);

}  // namespace optad
