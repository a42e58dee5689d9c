#include "sim/lines.h"

#include <sys/socket.h>

#include <cerrno>

namespace optad::sim {

namespace {

// Program lines start in the board's boot state: everything off and held in
// reset, the SPI front towards the IMC isolated (as shutdown leaves it).
// dc_off 0: the rig has a DC supply, so no power budget is needed unless a
// test says otherwise; imc_power_type 1: a DE-phase module.
constexpr LineInfo TABLE[] = {
    {"imc_power_good", 420, Driver::Module, 0},
    {"imc_spi_front_tristate", 421, Driver::Program, 1},
    {"imc_i2c_pmic_tristate", 422, Driver::Program, 0},
    {"imc_pcie_clk_enable", 423, Driver::Program, 0},
    {"imc_1_8v_rst_buffer_enable", 424, Driver::Program, 0},
    {"imc_12v_enable", 425, Driver::Program, 0},
    {"fpga_reset", 426, Driver::Program, 0},
    {"imc_front_reset", 427, Driver::Program, 0},
    {"imc_perst", 428, Driver::Program, 0},
    {"imc_safe_boot", 429, Driver::Program, 0},
    {"imc_dcdc_en", 430, Driver::Program, 0},
    {"imc_power_type", 431, Driver::Board, 1},
    {"imc_i2n_int", 432, Driver::Module, 0},
    {"imc_req", 433, Driver::Module, 0},
    {"imc_init_done", 434, Driver::Module, 0},
    {"imc_fwup_cmplt", 438, Driver::Module, 0},
    {"dc_off", 435, Driver::Board, 0},
};
static_assert(std::size(TABLE) == static_cast<size_t>(Line::Count));

}  // namespace

const LineInfo &line_info(Line line)
{
    return TABLE[static_cast<int>(line)];
}

bool line_by_name(const std::string &name, Line *line)
{
    for (size_t i = 0; i < std::size(TABLE); ++i) {
        if (name == TABLE[i].name) {
            *line = static_cast<Line>(i);
            return true;
        }
    }
    return false;
}

bool line_by_gpio(int gpio, Line *line)
{
    for (size_t i = 0; i < std::size(TABLE); ++i) {
        if (gpio == TABLE[i].gpio) {
            *line = static_cast<Line>(i);
            return true;
        }
    }
    return false;
}

Lines::Lines()
{
    for (size_t i = 0; i < std::size(TABLE); ++i) {
        level_[i] = TABLE[i].initial;
        output_[i] = TABLE[i].driver == Driver::Program;
    }
}

bool Lines::drive(Line line, int level)
{
    level = level != 0;
    int &current = level_[static_cast<int>(line)];
    if (current == level)
        return false;
    current = level;
    int edge = level ? EDGE_RISE : EDGE_FALL;
    for (Handle &h : handles_) {
        if (h.line == line && h.events_fd >= 0 && (h.edge & edge) != 0)
            notify(h);
    }
    return true;
}

void Lines::notify(Handle &h)
{
    // One edge byte at a time: while one is pending the descriptor is
    // already flagged, and the value read that takes it reports the newest
    // level. (A second urgent byte would push the first into the in-band
    // stream.)
    if (h.outstanding)
        return;
    const char mark = '!';
    if (::send(h.events_fd, &mark, 1, MSG_OOB | MSG_DONTWAIT | MSG_NOSIGNAL) == 1)
        h.outstanding = true;
}

Handle *Lines::add_handle(Line line)
{
    Handle h;
    h.id = next_id_++;
    h.line = line;
    handles_.push_back(h);
    return &handles_.back();
}

Handle *Lines::handle(int32_t id)
{
    for (Handle &h : handles_) {
        if (h.id == id)
            return &h;
    }
    return nullptr;
}

void Lines::remove_handle(int32_t id)
{
    for (size_t i = 0; i < handles_.size(); ++i) {
        if (handles_[i].id == id) {
            handles_.erase(handles_.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
    }
}

void Lines::attach_events(Handle &h, int fd)
{
    h.events_fd = fd;
    h.outstanding = false;
    notify(h);
}

void Lines::detach_events(int fd)
{
    for (Handle &h : handles_) {
        if (h.events_fd == fd) {
            h.events_fd = -1;
            h.outstanding = false;
        }
    }
}

}  // namespace optad::sim
