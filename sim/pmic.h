// The module's power-management chip on /dev/i2c-4, at the 7-bit address
// 0x48 (0x90 in the 8-bit form the PMIC command files use). It answers only
// while it is supplied (12 V on) and its I2C path is released
// (imc_i2c_pmic_tristate high); otherwise the bus reports no acknowledge,
// as the real bus would. It keeps its registers while 12 V stays on.
//
// The registers that matter to the module's supplies:
//
//   0x10 BUCK1_VSEL, 0x11 BUCK2_VSEL, 0x12 BUCK3_VSEL, 0x13 LDO1_VSEL
//        voltage selects; 0 = not programmed, any other value a setting
//   0x20 EN   rail enables: bit 0 BUCK1, bit 1 BUCK2, bit 2 BUCK3, bit 3 LDO1
//   0x21 SEQ  power sequencing step in ms (any value)
//
// A DE-phase module needs all four rails programmed and enabled; a DC-phase
// module needs the three bucks and must not have LDO1 enabled (its LDO1
// output is not connected to a load that can take it).
#pragma once

#include "sim/context.h"
#include "sim/device.h"

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace optad::sim {

namespace pmic {
inline constexpr int ADDRESS = 0x48;
inline constexpr int BUCK1_VSEL = 0x10;
inline constexpr int BUCK2_VSEL = 0x11;
inline constexpr int BUCK3_VSEL = 0x12;
inline constexpr int LDO1_VSEL = 0x13;
inline constexpr int EN = 0x20;
inline constexpr int SEQ = 0x21;
inline constexpr uint8_t EN_BUCKS = 0x07;
inline constexpr uint8_t EN_LDO1 = 0x08;
}  // namespace pmic

class Pmic {
public:
    explicit Pmic(Context &ctx) : ctx_(ctx) {}

    // A write of data to a slave address: the byte count, or -errno. The
    // control interface's writes are logged with "ctl" before them.
    int write(int address, const uint8_t *data, size_t len, bool from_control = false);
    int read(int address, size_t count, std::vector<uint8_t> &out);
    std::unique_ptr<DeviceSession> open();

    // 12 V went off: the chip forgets everything.
    void unpowered();
    // The rails this board needs are programmed and enabled (de: a
    // DE-phase board), and LDO1 is off on a DC-phase board.
    bool rails_ready(bool de) const;
    bool ldo1_enabled() const { return (regs_[pmic::EN] & pmic::EN_LDO1) != 0; }
    uint8_t reg(int r) const { return regs_[r & 0xFF]; }

    std::string describe() const;

private:
    bool acknowledges(int address, const char *what);

    Context &ctx_;
    uint8_t regs_[256] = {};
    std::bitset<256> written_;  // registers written since 12 V came on
    int pointer_ = 0;           // register pointer for reads
};

}  // namespace optad::sim
