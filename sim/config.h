// The simulator's timings and switches. All short by default so that the
// rig runs a whole power-up in a few tens of milliseconds; each can be set
// at start (optad-sim --set name=value) or later (ctl "config name value").
#pragma once

#include <string>

namespace optad::sim {

struct Config {
    int pg_rise_ms = 3;          // supplies on -> POWER_GOOD high
    int pg_fall_ms = 1;          // supplies off -> POWER_GOOD low
    int init_done_ms = 5;        // reset released -> INIT_DONE high
    int i2n_delay_ms = 2;        // INIT_DONE high -> first I2N interrupt
    int i2n_pulse_ms = 2;        // how long I2N stays high at least
    int i2n_held = 1;            // 1: ... and until the status block was read after it rose
    int req_period_ms = 25;      // REQ rises once per period while the IMC runs
    int req_timed = 0;           // 1: REQ also falls req_high_ms after it rose
    int req_high_ms = 10;        // REQ high window with req_timed (unless an exchange ends it)
    int req_strict = 0;          // 1: the IMC ignores frames sent without a REQ
    int heartbeat_ms = 100;      // heart beat counter step
    int protector_move_ms = 40;  // sunlight protector travel time
    int focus_oneshot_ms = 300;  // one-shot focus run
    int focus_step_ms = 20;      // one focus drive step
    int fwup_write_ms = 50;      // last firmware message -> write-in answer (REQ paused)
    int fwup_cmplt_ms = 50;      // write-in answer OK -> flash written, FWUP_CMPLT high
    int fwup_max_bytes = 16 * 1024 * 1024;  // largest image the IMC accepts
    int fpga_init_ms = 2;        // FPGA reset released -> initialised
    int link_ms = 5;             // link conditions met -> link_up
    int two_lane_ms = 2;         // link_up -> two_lane
    int stream_ms = 10;          // stream enabled and IMC streaming -> dtct_strm
    int reboot_ms = 5;           // system reset command -> IMC starts again
    int exposure_settle_frames = 6;  // frames an exposure move takes per phase (0: at once)
    int exposure_step_ms = 0;    // time of one exposure step; 0: one frame (1000 / frame rate)
};

// Sets one field by name. False (and *error) when the name or value is bad.
bool config_set(Config &config, const std::string &name, const std::string &value,
                std::string *error);
// Every field as "name value" lines.
std::string config_text(const Config &config);

}  // namespace optad::sim
