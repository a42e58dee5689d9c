// The faults a test can inject into the simulated module (ctl "fault ...").
#pragma once

#include <set>
#include <string>

namespace optad::sim {

struct Faults {
    enum class Heartbeat { Run, Stop, Unset };
    enum class Link { Ok, Loss, Down, OneLane };
    enum class InitDone { Rises, NeverNormal, NeverAll, NeverUntilUpgrade };
    enum class Fwup { Ok, StartNg, WriteNg, WriteTimeout };

    Heartbeat heartbeat = Heartbeat::Run;  // Stop freezes the bytes, Unset holds FF FF
    bool protector_stuck = false;          // the protector never leaves "moving"
    bool ircut_error = false;              // status 0x66 reports 0x80
    // Loss drops the link once (it comes back when the IMC restarts); Down
    // holds it down; OneLane holds two_lane off.
    Link link = Link::Ok;
    bool link_lost = false;  // latched by Link::Loss until the IMC stops
    bool fpga_not_init = false;  // io_exp keeps the not-initialised bit
    int fpga_io_exp = -1;        // >= 0: io_exp reads this, whatever the model says
    // NeverNormal: INIT_DONE never rises in a normal start (the module starts
    // in safe boot only); NeverAll: never at all; NeverUntilUpgrade: like
    // NeverNormal until a firmware upgrade completes (FWUP_CMPLT).
    InitDone init_done = InitDone::Rises;
    bool req_never = false;     // REQ never rises
    int empty_status = 0;       // status replies to blank: > 0 the next n, < 0 all
    Fwup fwup = Fwup::Ok;       // the IMC's answers in the firmware upgrade
    bool fwup_cmplt_never = false;  // FWUP_CMPLT never rises
    bool i2c_nack = false;      // the PMIC does not acknowledge
    std::set<std::string> missing_devices;  // device paths that do not exist
    bool exposure_hunting = false;  // the current exposure indices never settle
    // Set commands (group << 8 | item) the IMC accepts but does not apply.
    std::set<unsigned> ignored_commands;
};

}  // namespace optad::sim
