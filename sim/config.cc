#include "sim/config.h"

#include <cstdlib>

namespace optad::sim {

namespace {

struct Field {
    const char *name;
    int Config::*member;
    int min;
    int max;
};

constexpr Field FIELDS[] = {
    {"pg_rise_ms", &Config::pg_rise_ms, 0, 60000},
    {"pg_fall_ms", &Config::pg_fall_ms, 0, 60000},
    {"init_done_ms", &Config::init_done_ms, 0, 60000},
    {"i2n_delay_ms", &Config::i2n_delay_ms, 0, 60000},
    {"i2n_pulse_ms", &Config::i2n_pulse_ms, 1, 60000},
    {"i2n_held", &Config::i2n_held, 0, 1},
    {"req_period_ms", &Config::req_period_ms, 2, 60000},
    {"req_timed", &Config::req_timed, 0, 1},
    {"req_high_ms", &Config::req_high_ms, 1, 60000},
    {"req_strict", &Config::req_strict, 0, 1},
    {"heartbeat_ms", &Config::heartbeat_ms, 1, 60000},
    {"protector_move_ms", &Config::protector_move_ms, 0, 600000},
    {"focus_oneshot_ms", &Config::focus_oneshot_ms, 0, 600000},
    {"focus_step_ms", &Config::focus_step_ms, 0, 600000},
    {"fwup_write_ms", &Config::fwup_write_ms, 0, 600000},
    {"fwup_cmplt_ms", &Config::fwup_cmplt_ms, 0, 600000},
    {"fwup_max_bytes", &Config::fwup_max_bytes, 1, 1 << 30},
    {"fpga_init_ms", &Config::fpga_init_ms, 0, 60000},
    {"link_ms", &Config::link_ms, 0, 60000},
    {"two_lane_ms", &Config::two_lane_ms, 0, 60000},
    {"stream_ms", &Config::stream_ms, 0, 60000},
    {"reboot_ms", &Config::reboot_ms, 0, 60000},
    {"exposure_settle_frames", &Config::exposure_settle_frames, 0, 1000},
    {"exposure_step_ms", &Config::exposure_step_ms, 0, 60000},
};

}  // namespace

bool config_set(Config &config, const std::string &name, const std::string &value,
                std::string *error)
{
    for (const Field &f : FIELDS) {
        if (name != f.name)
            continue;
        char *end = nullptr;
        long v = std::strtol(value.c_str(), &end, 0);
        if (value.empty() || *end != '\0' || v < f.min || v > f.max) {
            *error = "bad value for " + name + ": " + value + " (" + std::to_string(f.min) +
                     " to " + std::to_string(f.max) + ")";
            return false;
        }
        config.*f.member = static_cast<int>(v);
        return true;
    }
    *error = "unknown setting: " + name;
    return false;
}

std::string config_text(const Config &config)
{
    std::string out;
    for (const Field &f : FIELDS)
        out += std::string(f.name) + " " + std::to_string(config.*f.member) + "\n";
    return out;
}

}  // namespace optad::sim
