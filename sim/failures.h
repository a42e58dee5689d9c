// Per-call failures a test injects (ctl "fail ..."): the next call, the
// next n calls or every call of one kind fails with a chosen errno (or, for
// an SPI transfer, reports fewer bytes than it moved), whatever the
// module's state. They are not the module's faults: "fault clear" leaves
// them, "fail clear" ends them. Each one that fires is logged in the "fail"
// log.
#pragma once

#include <string>
#include <vector>

namespace optad::sim {

enum class FailKind {
    GpioRequest,       // pinio_request / pinio_request_named return null
    GpioOpen,          // pinio_full_open
    GpioDirection,     // pinio_direction_input and pinio_direction_output
    GpioRead,          // pinio_get_value
    GpioWrite,         // pinio_set_value
    GpioEdge,          // pinio_set_edge
    GpioFd,            // pinio_fd
    GpioNotAlterable,  // pinio_alterable_direction answers 0 (no errno)
    SpiError,          // SPI_IOC_MESSAGE fails
    SpiShort,          // SPI_IOC_MESSAGE reports only `value` bytes moved
    I2cSlave,          // I2C_SLAVE fails
    I2cWrite,          // the I2C write fails
    Count,
};

// Targets: a GPIO line (its Line index) or every line; the SPI bus.
inline constexpr int FAIL_ALL_LINES = -1;
inline constexpr int FAIL_SPI_IMC = 0;
inline constexpr int FAIL_SPI_FPGA = 1;
// A count that never runs out.
inline constexpr int FAIL_ALWAYS = -1;

struct Injection {
    FailKind kind;
    int target;  // see above; 0 for the I2C kinds
    int value;   // the errno, or the byte count of SpiShort
    int count;   // calls left, or FAIL_ALWAYS
};

class Failures {
public:
    // A new injection replaces one of the same kind and target.
    void add(const Injection &injection);
    void remove(FailKind kind, int target);
    void clear() { list_.clear(); }

    // One call of this kind on this target: true when it is to fail, with
    // the value to use and the text for the fail log ("gpio imc_dcdc_en
    // write EIO"). An injection for the target itself wins over one for
    // every line.
    bool take(FailKind kind, int target, int *value, std::string *what)
    {
        return !list_.empty() && take_slow(kind, target, value, what);
    }

    // The injections in force, one per line with the calls left.
    std::string describe() const;

private:
    bool take_slow(FailKind kind, int target, int *value, std::string *what);

    // At most one per kind and target: bounded by the tables.
    std::vector<Injection> list_;
};

}  // namespace optad::sim
