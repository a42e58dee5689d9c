// The simulated image module and the main board's side of it: supplies and
// POWER_GOOD, the IMC, the FPGA and its video link, the PMIC, the video
// input and the data cache, all driven by the programs' GPIO writes and
// device requests and by time.
#pragma once

#include "sim/cam0.h"
#include "sim/context.h"
#include "sim/datacache.h"
#include "sim/device.h"
#include "sim/fpga.h"
#include "sim/imc.h"
#include "sim/pmic.h"
#include "sim/spi_bus.h"

#include <memory>
#include <string>
#include <vector>

namespace optad::sim {

class Board {
public:
    explicit Board(const Config &config, int64_t now_us);

    Context &ctx() { return ctx_; }
    Imc &imc() { return imc_; }
    Fpga &fpga() { return fpga_; }
    Pmic &pmic() { return pmic_; }
    Cam0 &cam0() { return cam0_; }
    Datacache &datacache() { return datacache_; }

    // Time: runs every timer due at now, then brings the model in step.
    void advance(int64_t now_us);
    int64_t next_deadline() const { return ctx_.timers.next(); }
    // Brings everything that follows the lines and states in step (call
    // after any change; it does nothing when nothing changed).
    void evaluate();

    // GPIO line handles of the programs. Results are >= 0 or -errno.
    int line_request(int gpio, const std::string &name_or_label);
    int line_op(int32_t id, int op, int arg);
    // The pinio_fd() connection of a handle may be made: 0 or -errno.
    int events_request(int32_t id);
    void line_attach_events(int32_t id, int fd);
    void line_closed(int32_t id);
    void events_closed(int fd) { ctx_.lines.detach_events(fd); }

    // Opens a device path; nullptr with *error (an errno) when it is missing.
    std::unique_ptr<DeviceSession> open_device(const std::string &path, int flags, int *error);

    // Lines driven from the control interface (logged in the GPIO log with
    // the prefix "ctl"): program outputs, judged like the programs' writes,
    // and board inputs. The module's own lines are refused (*error).
    bool drive_line(Line line, int level, std::string *error);
    // Any line forced to a level, as a fault (logged "ctl --force ...";
    // the model may drive it again).
    void force_line(Line line, int level);

    // Faults that act at once.
    void drop_power_good();
    void drop_init_done();

    // The power sequences of the control interface: they run on the lines
    // like the daemon's, with short pauses. The answer ("ok" or "error: ...")
    // is available from sequence_result() once finished.
    bool start_power_sequence(bool on, bool safe);
    bool sequence_result(std::string *answer);

    std::string describe();

private:
    struct Step {
        enum Kind { Drive, Sleep, Wait, WaitInit, WaitLink, Pmic } kind;
        Line line;
        int level;
        int ms;
        const char *failure;
    };

    void on_timer(TimerId id);
    void run_sequence();
    // A program line changes (a program's write or the control
    // interface's): judged against the power order, then driven.
    void set_program_line(Line line, int level);
    void apply_pending(Handle &h);
    // The PMIC's init writes of the control interface's power-up.
    bool program_pmic(std::string *error);

    Context ctx_;
    Imc imc_;
    Fpga fpga_;
    Pmic pmic_;
    Cam0 cam0_;
    Datacache datacache_;
    SpiBus imc_bus_;
    SpiBus fpga_bus_;

    bool supplies_ = false;
    bool pmic_powered_ = false;      // 12 V on: the PMIC keeps its registers
    bool ldo1_dc_reported_ = false;  // LDO1 on a DC-phase board, logged once per occurrence
    bool power_good_dropped_ = false;  // latched until the supplies go off
    bool fpga_released_ = false;
    bool link_up_ = false;
    bool two_lane_ = false;
    bool stream_ = false;

    std::vector<Step> sequence_;
    size_t sequence_pos_ = 0;
    int64_t step_deadline_ = -1;
    bool sequence_active_ = false;
    bool sequence_finished_ = false;
    std::string sequence_answer_;
};

}  // namespace optad::sim
