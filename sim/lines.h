// The module's GPIO lines as the simulator keeps them: levels, directions,
// and the programs' handles with the edge events they asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace optad::sim {

enum class Line {
    PowerGood,
    SpiFrontTristate,
    I2cPmicTristate,
    PcieClkEnable,
    RstBuffer1v8,
    Enable12v,
    FpgaReset,
    FrontReset,
    Perst,
    SafeBoot,
    DcdcEn,
    PowerType,
    I2nInt,
    Req,
    InitDone,
    FwupCmplt,
    DcOff,
    Count,
};

// Who drives a line: the programs (an output of the main board), the image
// module, or the main board's own wiring (fixed straps the rig can change).
enum class Driver { Program, Module, Board };

struct LineInfo {
    const char *name;  // the GPIO library's name for it
    int gpio;          // its number
    Driver driver;
    int initial;  // level at start (program lines: the boot state of the board)
};

// The table, in Line order.
const LineInfo &line_info(Line line);
// By name or number; false when there is no such line.
bool line_by_name(const std::string &name, Line *line);
bool line_by_gpio(int gpio, Line *line);

// Edge codes of the GPIO library.
inline constexpr int EDGE_FALL = 4;
inline constexpr int EDGE_RISE = 8;

struct Handle {
    int32_t id = 0;
    Line line = Line::Count;
    bool opened = false;
    int edge = 0;          // edges reported on the event connection
    int events_fd = -1;    // the pinio_fd() connection, or -1
    bool outstanding = false;  // an edge byte is sent and not yet taken by a value read
    // The level of a direction_output() not yet applied (-1: none); see
    // Board::line_op.
    int pending_level = -1;
};

class Lines {
public:
    Lines();

    int level(Line line) const { return level_[static_cast<int>(line)]; }
    bool is_output(Line line) const { return output_[static_cast<int>(line)]; }
    void set_output(Line line, bool output) { output_[static_cast<int>(line)] = output; }

    // Changes a level (whoever drives it) and reports the edge to every
    // handle watching it. Returns true when the level changed.
    bool drive(Line line, int level);

    // Handles.
    Handle *add_handle(Line line);
    Handle *handle(int32_t id);
    void remove_handle(int32_t id);
    // Attaches an event connection: like a sysfs value file that was never
    // read, it is reported ready at once.
    void attach_events(Handle &h, int fd);
    // An event connection went away.
    void detach_events(int fd);
    // A value read takes the pending edge.
    static void value_read(Handle &h) { h.outstanding = false; }

private:
    void notify(Handle &h);

    int level_[static_cast<int>(Line::Count)];
    bool output_[static_cast<int>(Line::Count)];
    std::vector<Handle> handles_;
    int32_t next_id_ = 1;
};

}  // namespace optad::sim
