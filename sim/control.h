// The simulator's control interface: one text command in, one text answer
// out (see sim/README.md for every command).
#pragma once

#include "sim/board.h"

#include <string>

namespace optad::sim {

struct ControlAnswer {
    std::string text;      // the answer; errors start with "error: "
    bool deferred = false;  // the answer comes when the board's power sequence ends
    bool quit = false;      // the simulator should stop
};

ControlAnswer control(Board &board, const std::string &command);

}  // namespace optad::sim
