// A PMIC command file, whatever its bytes, through the interpreter that
// programs the module's power-management chip before its converters are
// enabled. The I2C bus is the test fake, which records every slave
// selection and write, and the delays go to a virtual clock.
//
// Input: the whole command file.
#include "board/pmic.h"
#include "platform/clock.h"
#include "platform/devio.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/imc/fake_hw.h"

#include <fcntl.h>

#include <cstring>
#include <string>

using namespace optad;
using optad::fuzz::fuzz_check;

namespace {

// Lines that begin with this character.
int64_t rows_starting_with(const uint8_t *data, size_t size, char first)
{
    int64_t rows = 0;
    bool line_start = true;
    for (size_t i = 0; i < size; ++i) {
        rows += line_start && data[i] == first;
        line_start = data[i] == '\n';
    }
    return rows;
}

// The longest delay a row can ask for: the camera's 32-bit milliseconds.
constexpr int64_t MAX_ROW_DELAY_US = 0xFFFFFFFFll * 1000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::FuzzRun run;
    test::FakeHardware &hw = run.hw;
    const VirtualClock &clock = run.clock;
    fuzz::write_fixed_file(PMIC_FILE_DE, data, size);
    const int fd = dev_open("/dev/i2c-4", O_RDWR);
    fuzz_check(fd >= 0, "the fake I2C bus opens");
    const int rc = pmic_init_from_file(fd, PMIC_FILE_DE);
    dev_close(fd);

    fuzz_check(rc == 0, "a file the bus accepts runs to its end");
    // Every bus write is one register and its value, and only a write
    // row makes one.
    int64_t writes = 0;
    for (const std::string &op : hw.dev.i2c_log) {
        if (op.rfind("write ", 0) == 0) {
            fuzz_check(op.size() == std::strlen("write 10 05"), "a write is two bytes");
            ++writes;
        }
    }
    fuzz_check(writes <= rows_starting_with(data, size, 'w'), "no more writes than write rows");
    fuzz_check(clock.slept_us() <= rows_starting_with(data, size, 'd') * MAX_ROW_DELAY_US,
               "no delay row sleeps longer than its limit");
    return 0;
}
