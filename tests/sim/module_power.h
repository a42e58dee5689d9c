// The module's power-up order (steps 4 to 19) and shutdown order (steps 5
// to 14) run through the real seam the way the daemon runs them (without
// its pauses: the simulator's timings are short), with the PMIC writes of
// each board phase. Written from the module's sequences and the PMIC's
// register map, not from the simulator's code.
#pragma once

#include <cstdint>
#include <span>

namespace optad::test {

struct RegWrite {
    uint8_t reg;
    uint8_t value;
};

// BUCK1-3 and LDO1 voltage selects, the sequencing step, the enables.
inline constexpr RegWrite DE_PMIC[] = {{0x10, 0x5A}, {0x11, 0x3C}, {0x12, 0x28},
                                       {0x13, 0x19}, {0x21, 0x05}, {0x20, 0x0F}};
// The three bucks only.
inline constexpr RegWrite DC_PMIC[] = {{0x10, 0x5A}, {0x11, 0x3C}, {0x12, 0x28}, {0x21, 0x05}, {0x20, 0x07}};

struct PowerUp {
    std::span<const RegWrite> pmic = DE_PMIC;
    bool safe = false;
    int stop_after = 19;  // the last step to run
    int wait_ms = 1000;   // for POWER_GOOD and INIT_DONE
};

// The power-up order: 0 when it ran to its last step, -1 when a write or
// POWER_GOOD failed, -2 when INIT_DONE did not rise in a normal start, -3
// after the safe-boot path without INIT_DONE (the SPI front released).
int power_up(const PowerUp &p);
// The shutdown order (every write must succeed).
void shutdown();
// Polls a line until it reads level; false after timeout_ms.
bool wait_line(const char *name, int level, int timeout_ms);

}  // namespace optad::test
