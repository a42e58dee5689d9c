// The power-management chip on /dev/i2c-4: every write with its slave
// address is recorded. It answers only while it is supplied (12 V on) and
// its I2C path is released (imc_i2c_pmic_tristate high); otherwise the bus
// reports no acknowledge, as the real bus would.
#pragma once

#include "sim/context.h"
#include "sim/device.h"

#include <map>
#include <memory>
#include <string>

namespace optad::sim {

class Pmic {
public:
    explicit Pmic(Context &ctx) : ctx_(ctx) {}

    // A write of data to a slave address: the byte count, or -errno.
    int write(int address, const uint8_t *data, size_t len);
    int read(int address, size_t count, std::vector<uint8_t> &out);
    std::unique_ptr<DeviceSession> open();
    std::string describe() const;

private:
    bool acknowledges(int address, const char *what);

    Context &ctx_;
    std::map<std::pair<int, int>, uint8_t> regs_;  // (slave, register) -> value
    std::map<int, int> pointer_;                   // slave -> register pointer
};

}  // namespace optad::sim
