// rigdump's view of two status snapshots, whatever their bytes: the
// decoders of the lens, lens drive, sunlight protector, hardware
// information and serial id, the serial's digits as the tool prints them,
// and the side-by-side dump of both snapshots.
//
// What must hold: each decoder answers with one of its own texts; the
// serial is at most 16 characters and prints as one number per character;
// the dump is a ruler and 32 rows of the same width, marked "!" exactly
// where the two snapshots differ.
//
// Input: the first snapshot, then the second (missing bytes are 0).
#include "imc/decoders.h"
#include "imc/status_block.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/rigdump/format.h"

#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string>

using namespace optad;
using optad::fuzz::fuzz_check;

namespace {

bool one_of(const char *text, std::initializer_list<const char *> texts)
{
    for (const char *t : texts)
        if (std::strcmp(text, t) == 0)
            return true;
    return false;
}

bool known_lens_name(const char *name)
{
    if (one_of(name, {"Detached", "Unknown"}))
        return true;
    for (const lens_name_row *row = lens_name_table; row->reported != nullptr; ++row)
        if (std::strcmp(name, row->display) == 0)
            return true;
    return false;
}

void check_dump(const uint8_t *first, const uint8_t *second)
{
    std::istringstream dump(rigdump::status_dump(first, second, CAMERA_STATUS_SIZE));
    std::string line;
    std::getline(dump, line);
    fuzz_check(line.empty(), "the dump starts with an empty line");
    std::getline(dump, line);
    fuzz_check(line.find(" 0 1 2 3 4 5 6 7 8 9 A B C D E F") != std::string::npos, "then the ruler");
    size_t rows = 0;
    while (std::getline(dump, line)) {
        // "000: <32 hex digits> <mark> <32 hex digits>"
        fuzz_check(line.size() == 4 + 1 + 32 + 3 + 32, "a dump row has the fixed width");
        const size_t off = rows * 16;
        const bool differs = std::memcmp(first + off, second + off, 16) != 0;
        fuzz_check(line[38] == (differs ? '!' : ' '), "rows are marked where the snapshots differ");
        ++rows;
    }
    fuzz_check(rows == CAMERA_STATUS_SIZE / 16, "the dump has 32 rows");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::fuzz_setup();
    uint8_t first[CAMERA_STATUS_SIZE] = {};
    uint8_t second[CAMERA_STATUS_SIZE] = {};
    fuzz::InputReader in(data, size);
    in.take(first, sizeof first);
    in.take(second, sizeof second);

    int code = -1;
    const char *status = lens_get_status(first, &code);
    fuzz_check(one_of(status, {"Attached", "Detached", "Unknown state", "Error code "}), "lens status text");
    fuzz_check((std::strcmp(status, "Error code ") == 0) == (code != -1), "an error code comes with the error");
    fuzz_check(one_of(lens_get_drive_status(first),
                      {"Resetting Focus Lens", "In Focus Movement", "Unknown state", "Not running"}),
               "lens drive text");
    fuzz_check(known_lens_name(lens_get_name(first)), "lens name from the table");
    fuzz_check(one_of(sunlight_get_status(first), {"Closed", "Opened", "Error", "Unknown state"}),
               "protector text");
    const int info = hardware_get_info(first);
    fuzz_check(info >= 0 && info <= 0xFFFF, "hardware information is 16 bits");

    char serial[CAMERA_SERIAL_BUF_SIZE] = {};
    camera_get_serial_id(first, serial);
    const size_t length = strnlen(serial, sizeof serial);
    fuzz_check(length <= 16, "the serial id ends within its buffer");
    if (length > 0) {
        // Each character's code minus the code of "0", one decimal number
        // after the other, as the camera prints them: its characters are
        // bytes from 0 to 255, whatever the compiler's char.
        std::string expected;
        for (size_t i = 0; i < length; ++i)
            expected += std::to_string(static_cast<int>(first[STS_SERIAL_ID + i]) - '0');
        fuzz_check(rigdump::serial_digits(serial) == expected + "\n", "a number per character of the serial");
    }
    check_dump(first, second);
    return 0;
}
