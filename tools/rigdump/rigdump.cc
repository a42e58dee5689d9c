// rigdump: prints what the image module reports, for service engineers.
//
// Opens the IMC link itself (nothing coordinates it with a running daemon),
// takes two camera status snapshots half a second apart and prints, section
// by section, the firmware revision, serial id, lens, sunlight protector,
// image stabilization time, FPGA registers, the module's GPIO lines, a
// side-by-side dump of the two snapshots and /proc/interrupts before and
// after.
//
// Exit status: 1 wrong number of arguments, 0 usage or a full run in which
// every step succeeded, 4 a full run with a failed step, 5 an unknown
// argument, 2 the link could not be opened.
#include "board/fpga.h"
#include "board/gpio.h"
#include "imc/buffer.h"
#include "imc/decoders.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/pinio.h"
#include "tools/rigdump/format.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using namespace optad;
using namespace optad::rigdump;

namespace {

constexpr int EXIT_USAGE = 0;
constexpr int EXIT_ARGUMENT_COUNT = 1;
constexpr int EXIT_NO_LINK = 2;
constexpr int EXIT_FAILED_STEP = 4;
constexpr int EXIT_UNSUPPORTED = 5;

constexpr int64_t STATUS_REQ_TIMEOUT_US = 10'000'000;
constexpr int64_t SNAPSHOT_GAP_US = 500'000;

constexpr const char *INTERRUPTS = "/proc/interrupts";
constexpr const char *STABILIZATION_TIME = "/lib/persistent/var/lib/optics/image_stabilization_total_time";

const char *const usage_args[] = {"-h", "--help", "-u", "--usage"};

void out(const std::string &s)
{
    std::fputs(s.c_str(), stdout);
}

void section(const char *label)
{
    out(section_header(label));
}

// Requests a line by name, opens it, reads its direction and value, closes
// and frees it. 0, or the failing call's negative result (-1 when the line
// could not be requested). The tool writes nothing to syslog itself.
int read_line_state(const char *name, int *direction, int *value)
{
    pinio_line *line = pinio_request_named(name);
    if (line == nullptr)
        return -1;
    int r = pinio_full_open(line);
    if (r >= 0) {
        int d = pinio_get_direction(line);
        if (d < 0) {
            r = d;
        } else {
            int v = pinio_get_value(line);
            if (v < 0) {
                r = v;
            } else {
                *direction = d;
                *value = v;
                r = 0;
            }
        }
        pinio_close(line);
    }
    pinio_free(line);
    return r < 0 ? r : 0;
}

bool is_usage_argument(const char *arg)
{
    for (const char *u : usage_args)
        if (std::strcmp(arg, u) == 0)
            return true;
    return false;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("One argument required!\n", stderr);
        out(usage(argv[0]));
        return EXIT_ARGUMENT_COUNT;
    }
    if (is_usage_argument(argv[1])) {
        out(usage(argv[0]));
        return EXIT_USAGE;
    }

    // 1. The link, with the receive buffer only.
    uint8_t *recv_buf = nullptr;
    if (spi_open_and_init(nullptr, &recv_buf) < 0) {
        std::fputs("Failed to open and init SPI to Image Chip!\n", stderr);
        return EXIT_NO_LINK;
    }

    // 2. Is the module powered? An output driven to 0 on the DC/DC enable
    // means it is not, and the IMC is not asked for anything.
    int step = 0;
    bool ask_status = true;
    int dir = -1;
    int val = -1;
    if (read_line_state(GPIO_DCDC_EN, &dir, &val) < 0)
        step = -1;
    else if (dir == 0 && val == 0)
        ask_status = false;

    // 3. The first status block.
    bool have_status = false;
    if (ask_status) {
        if (buffer_send_camera_status_cmd(STATUS_REQ_TIMEOUT_US) == 0)
            have_status = true;
        else
            step = 3;
    }

    // 4. Only --all is a full run.
    if (std::strcmp(argv[1], "--all") != 0) {
        std::fputs("Argument not supported!\n", stderr);
        out(usage(argv[0]));
        spi_close();
        return EXIT_UNSUPPORTED;
    }

    // 5, 6. First snapshot and interrupt counters.
    std::vector<uint8_t> first;
    if (have_status)
        first.assign(recv_buf, recv_buf + CAMERA_STATUS_SIZE);
    std::optional<std::vector<std::string>> irq_before = read_lines(platform_path(INTERRUPTS));

    // The firmware decoder asks the IMC for a fresh block: the decoders that
    // follow read the first snapshot.
    const uint8_t *status = have_status ? first.data() : nullptr;

    // 7. Firmware revision.
    int firmware_result = 0;
    section("Firmware");
    int revision = have_status ? firmware_get_imc_revision(recv_buf) : -1;
    if (revision >= 0) {
        std::printf("%d\n", revision);
    } else {
        out(NO_STATUS);
        firmware_result = -1;
    }

    // 8. Serial id.
    int serial_result = 0;
    section("Camera Serial ID");
    char serial[CAMERA_SERIAL_BUF_SIZE] = {};
    if (status != nullptr)
        camera_get_serial_id(status, serial);
    if (serial[0] != '\0') {
        out(serial_digits(serial));
    } else {
        out(NO_STATUS);
        serial_result = -1;
    }

    // 9-12. Lens and protector.
    section("Mounted Lens Information");
    if (status != nullptr)
        std::printf("%s\n", lens_get_name(status));
    else
        out(NO_STATUS);

    section("Lens Status");
    if (status != nullptr) {
        int code = -1;
        const char *text = lens_get_status(status, &code);
        if (code == -1)
            std::printf("%s\n", text);
        else
            std::printf("%s%d\n", text, code);
    } else {
        out(NO_STATUS);
    }

    section("Lens Drive Status");
    if (status != nullptr)
        std::printf("%s\n", lens_get_drive_status(status));
    else
        out(NO_STATUS);

    section("Sunlight Protector Status");
    if (status != nullptr)
        std::printf("%s\n", sunlight_get_status(status));
    else
        out(NO_STATUS);

    // 13. Image stabilization time, kept by the daemon in seconds.
    section("Image Stabilization Time");
    std::printf("%d hour(s)\n", stabilization_hours(platform_path(STABILIZATION_TIME)));
    out("\n");

    // 14. FPGA registers.
    section("FPGA Status");
    fpga_status fpga = {};
    int fpga_result = get_all_fpga_regs(&fpga);
    if (fpga_result < 0)
        out("Failed\n");
    else
        out(fpga_rows(fpga));

    // 15. Module GPIO lines.
    out("\nGPIO States:\n");
    out(gpio_header());
    bool gpio_failed = false;
    for (size_t i = 0; i < MODULE_GPIO_LISTED_COUNT; ++i) {
        const char *name = module_gpio_lines[i].name;
        int d = -1;
        int v = -1;
        if (read_line_state(name, &d, &v) < 0) {
            out(gpio_failed_row(name));
            gpio_failed = true;
        } else {
            out(gpio_row(name, d, v));
        }
    }

    // 16, 17. Second snapshot half a second later.
    std::fflush(stdout);
    clock_sleep_us(SNAPSHOT_GAP_US);
    int second_result = 0;
    bool have_second = false;
    if (have_status) {
        second_result = buffer_send_camera_status_cmd(STATUS_REQ_TIMEOUT_US);
        have_second = second_result == 0;
    }
    std::optional<std::vector<std::string>> irq_after = read_lines(platform_path(INTERRUPTS));

    // 18. Both snapshots side by side. A failed second request leaves no
    // second snapshot: the receive buffer then holds no reply to compare.
    out("\n");
    section("Camera Status Dump");
    if (have_status && have_second)
        out(status_dump(first.data(), recv_buf, CAMERA_STATUS_SIZE));
    else
        out(NO_STATUS);

    // 19. Interrupt counters before and after.
    out("\n");
    section("Interrupts");
    if (irq_before && irq_after)
        out(interrupts_diff(*irq_before, *irq_after));
    else
        out("Failed\n");

    // 20.
    std::fflush(stdout);
    spi_close();

    const bool all_ok = step == 0 && firmware_result == 0 && serial_result == 0 && fpga_result == 0 && !gpio_failed &&
                        second_result == 0;
    return all_ok ? 0 : EXIT_FAILED_STEP;
}
