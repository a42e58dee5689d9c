#include "sim/pmic.h"

#include <linux/i2c-dev.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace optad::sim {

namespace {

// One open of /dev/i2c-4: the kernel keeps the slave address per open file.
class PmicSession final : public DeviceSession {
public:
    explicit PmicSession(Pmic &pmic, Context &ctx) : pmic_(pmic), ctx_(ctx) {}

    int ioctl(uint32_t request, bool by_value, uint64_t value, const uint8_t *, size_t,
              std::vector<uint8_t> &) override
    {
        if (request != I2C_SLAVE && request != I2C_SLAVE_FORCE) {
            ctx_.violation("i2c: unsupported request 0x%04X", request);
            return -ENOTTY;
        }
        int err;
        if (ctx_.fail(FailKind::I2cSlave, 0, &err))
            return -err;
        if (!by_value) {
            ctx_.violation("i2c: I2C_SLAVE takes the address by value, not a pointer");
            return -EINVAL;
        }
        if (value > 0x7F) {
            ctx_.violation("i2c: slave address 0x%llX is not a 7-bit address",
                           static_cast<unsigned long long>(value));
            return -EINVAL;
        }
        address_ = static_cast<int>(value);
        return 0;
    }

    int write(const uint8_t *data, size_t len) override
    {
        int err;
        if (ctx_.fail(FailKind::I2cWrite, 0, &err))
            return -err;
        if (address_ < 0)
            ctx_.violation("i2c: write before the slave address was set (goes to 0x00)");
        return pmic_.write(address_ < 0 ? 0 : address_, data, len);
    }

    int read(size_t count, std::vector<uint8_t> &out) override
    {
        return pmic_.read(address_ < 0 ? 0 : address_, count, out);
    }

private:
    Pmic &pmic_;
    Context &ctx_;
    int address_ = -1;
};

}  // namespace

std::unique_ptr<DeviceSession> Pmic::open()
{
    return std::make_unique<PmicSession>(*this, ctx_);
}

bool Pmic::acknowledges(int address, const char *what)
{
    if (ctx_.faults.i2c_nack) {
        ctx_.note("i2c: %s at 0x%02X not acknowledged (fault)", what, address);
        return false;
    }
    if (ctx_.lines.level(Line::Enable12v) == 0) {
        ctx_.violation("i2c: %s at 0x%02X while the module has no 12 V: no acknowledge", what,
                       address);
        return false;
    }
    if (ctx_.lines.level(Line::I2cPmicTristate) == 0) {
        ctx_.violation("i2c: %s at 0x%02X while the PMIC's I2C path is isolated "
                       "(imc_i2c_pmic_tristate low): no acknowledge",
                       what, address);
        return false;
    }
    if (address != pmic::ADDRESS) {
        ctx_.violation("i2c: %s at 0x%02X: no device there (the PMIC is at 0x%02X)", what,
                       address, pmic::ADDRESS);
        return false;
    }
    return true;
}

int Pmic::write(int address, const uint8_t *data, size_t len, bool from_control)
{
    if (!acknowledges(address, "write"))
        return -EREMOTEIO;
    std::string bytes;
    char hex[4];
    for (size_t i = 0; i < len; ++i) {
        std::snprintf(hex, sizeof hex, " %02x", data[i]);
        bytes += hex;
    }
    ctx_.interrupts.count(Interrupts::PmicI2c);
    ctx_.record(LogKind::I2c, "%s0x%02x%s", from_control ? "ctl " : "", address, bytes.c_str());
    if (len == 0)
        return 0;
    // First byte: the register; the rest: values for it and the next ones.
    int reg = data[0];
    for (size_t i = 1; i < len; ++i) {
        int r = (reg + static_cast<int>(i) - 1) & 0xFF;
        regs_[r] = data[i];
        written_.set(static_cast<size_t>(r));
    }
    pointer_ = reg;
    return static_cast<int>(len);
}

int Pmic::read(int address, size_t count, std::vector<uint8_t> &out)
{
    if (!acknowledges(address, "read"))
        return -EREMOTEIO;
    ctx_.interrupts.count(Interrupts::PmicI2c);
    out.resize(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = regs_[(pointer_ + static_cast<int>(i)) & 0xFF];
    return static_cast<int>(count);
}

void Pmic::unpowered()
{
    std::memset(regs_, 0, sizeof regs_);
    written_.reset();
    pointer_ = 0;
}

bool Pmic::rails_ready(bool de) const
{
    // The voltage selects each rail needs, in rail order (the EN bits).
    static constexpr int VSEL[] = {pmic::BUCK1_VSEL, pmic::BUCK2_VSEL, pmic::BUCK3_VSEL, pmic::LDO1_VSEL};
    size_t rails = de ? 4 : 3;
    for (size_t i = 0; i < rails; ++i) {
        if (regs_[VSEL[i]] == 0 || (regs_[pmic::EN] & (1u << i)) == 0)
            return false;
    }
    return de || !ldo1_enabled();
}

std::string Pmic::describe() const
{
    std::string out;
    char line[32];
    for (size_t r = 0; r < written_.size(); ++r) {
        if (!written_.test(r))
            continue;
        std::snprintf(line, sizeof line, "0x%02x 0x%02zx 0x%02x\n", pmic::ADDRESS, r, regs_[r]);
        out += line;
    }
    return out;
}

}  // namespace optad::sim
