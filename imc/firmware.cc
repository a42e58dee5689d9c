// The IMC firmware: revision check and upgrade procedure.
#include "imc/firmware.h"

#include "board/gpio.h"
#include "imc/buffer.h"
#include "imc/decoders.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/log_format.h"
#include "platform/paths.h"
#include "platform/pinio.h"
#include "platform/read_up_to.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

namespace optad {

namespace {

// ---- the version text ----

constexpr size_t VERSION_TEXT_SIZE = 60;
constexpr char MARKER[] = "Rev.";
constexpr size_t MARKER_LEN = sizeof MARKER - 1;
// The marker must start at position 56 or before, so that it ends within
// the version text.
constexpr size_t MARKER_LAST_START = VERSION_TEXT_SIZE - MARKER_LEN;
// The revision number ends at a blank within this many characters.
constexpr size_t REVISION_FIELD = 5;

// ---- timings ----

// How long the IMC may take to raise REQ for the status requests: the
// answer to the start command comes at once, the write-in answer only after
// the IMC has written the whole image.
constexpr int64_t START_ANSWER_REQ_TIMEOUT_US = 10'000'000;
constexpr int64_t WRITE_ANSWER_REQ_TIMEOUT_US = 30'000'000;
// After a write-in wait time-out the IMC needs this long before a restart.
constexpr int64_t WAIT_TIMEOUT_PAUSE_US = 180'000'000;
// FWUP_CMPLT: up to 30 000 polls 10 ms apart, five minutes.
constexpr int FWUP_CMPLT_POLLS = 30'000;
constexpr int64_t FWUP_CMPLT_POLL_US = 10'000;
constexpr int FWUP_CMPLT_TIMEOUT_MIN = 5;

// ---- banners ----

// One line of a boxed banner: a frame of `stars` asterisks between two
// slashes, or (stars 0) a text line, a printf format. A banner ends with an
// empty line.
struct banner_line {
    int stars = 0;
    const char *text = nullptr;
};

constexpr banner_line FILE_REVISION_BANNER[] = {
    {76}, {0, "/* optad:firmware - Get IMC firmware revision from firmware file at NWC side */\n"}, {76}, {}};
constexpr banner_line IMC_REVISION_BANNER[] = {
    {63}, {0, "/* optad:firmware - Get installed firmware revision at IMC side */\n"}, {63}, {}};
constexpr banner_line EQUAL_BANNER[] = {
    {64}, {0, "/* optad:firmware - IMC firmware is already the latest firmware! */\n"}, {64}, {}};
constexpr banner_line UPGRADE_BANNER[] = {
    {64}, {0, "/* optad:firmware - IMC firmware needs upgrade to newer version! */\n"}, {64}, {}};
constexpr banner_line DOWNGRADE_BANNER[] = {
    {66}, {0, "/* optad:firmware - IMC firmware needs downgrade to older version! */\n"}, {66}, {}};

// Step 0; its argument is the image's path.
constexpr banner_line STEP_0[] = {
    {40},
    {0, "/* Step 0. Starting Firmware upgrade!   */\n"},
    {0, "/* The below steps are mapped to:       */\n"},
    {0, "/* 'QEB FIRMUP v0.1' chapter 5, page 9. */\n"},
    {40},
    {40},
    {0, "/* Step 0. Using default firmware file: */\n"},
    {0, "/* %s       */\n"},
    {40},
    {},
};
constexpr banner_line STEP_1_2[] = {
    {62},
    {0, "/* Step 1-2. NWC sends Firmware version-up start command.     */\n"},
    {0, "/* IMC receives and activates Firmware version-up start mode. */\n"},
    {62},
    {},
};
constexpr banner_line STEP_3[] = {
    {56},
    {0, "/* Step 3. NWC requests Camera status over SPI to get   */\n"},
    {0, "/* feedback from the Firmware version-up start command. */\n"},
    {56},
    {},
};
// Argument: the start answer byte.
constexpr banner_line STEP_4_NG[] = {
    {52},
    {0, "/* Step 4. NWC Received NG for Firmware version-up! */\n"},
    {0, "/* Expected byte 0x1a to be 0x01, but it was 0x%02x!  */\n"},
    {0, "/* NWC will restart IMC!                            */\n"},
    {52},
    {},
};
constexpr banner_line STEP_5[] = {{52}, {0, "/* Step 5. NWC received OK for Firmware version-up! */\n"}, {52}, {}};
constexpr banner_line STEP_6_7[] = {
    {54},
    {0, "/* Step 6-7. Whole Firmware file has been transfered! */\n"},
    {0, "/* NWC requests Camera status over SPI to get         */\n"},
    {0, "/* feedback regarding the Firmware write-in.          */\n"},
    {56},
    {},
};
constexpr banner_line STEP_8_WAIT_TIMEOUT[] = {
    {60},
    {0, "/* Step 8. NWC received Wait Timeout for Firmware write-in! */\n"},
    {0, "/* Expected byte 0x1b to be 0x01, but it was 0x00!          */\n"},
    {0, "/* NWC will sleep 3min and then restart IMC!                */\n"},
    {60},
    {},
};
// Argument: the write-in answer byte.
constexpr banner_line STEP_8_NG[] = {
    {51},
    {0, "/* Step 8. NWC received NG for Firmware write-in!  */\n"},
    {0, "/* Expected byte 0x1b to be 0x01, but it was 0x%02x! */\n"},
    {0, "/* NWC will restart IMC!                           */\n"},
    {51},
    {},
};
constexpr banner_line STEP_9[] = {
    {50},
    {0, "/* Step 9. NWC received OK for Firmware write-in! */\n"},
    {50},
    {72},
    {0, "/* Step 9-11. NWC waits for response for the Firmware write-in complete */\n"},
    {0, "/* IMC will set GPIO FWUP_CMPLT to HIGH when response is ready          */\n"},
    {72},
    {},
};
// Arguments: the step (12) and the wait in minutes.
constexpr banner_line FWUP_CMPLT_TIMEOUT[] = {
    {71},
    {0, "/* Step %d. Timeout (%dmin) occurred while waiting for GPIO FWUP_CMPLT! */\n"},
    {0, "/* NWC will restart IMC!                                               */\n"},
    {71},
    {},
};
// Argument: the step (12).
constexpr banner_line STEP_12[] = {
    {50},
    {0, "/* Step %d. NWC received HIGH on GPIO FWUP_CMPLT! */\n"},
    {50},
    {32},
    {0, "/* Step 12. Upgrade Completed!! */\n"},
    {0, "/* NWC will restart IMC         */\n"},
    {32},
    {},
};
constexpr int STEP_COMPLETE = 12;

template <const auto &Lines, size_t I, typename... Args>
void write_banner_line(int priority, Args... args)
{
    static constexpr char STARS[] = "********************************************************************************";
    constexpr banner_line line = Lines[I];
    static_assert(line.stars < static_cast<int>(sizeof STARS));
    if constexpr (line.stars != 0)
        log_write(priority, "/%.*s/\n", line.stars, STARS);
    // The text straight from the table: a local constexpr copy is not a
    // constant expression to every compiler's consteval.
    else if constexpr (format_takes<>(Lines[I].text))
        log_line(priority, LogFormat<>(Lines[I].text));
    else
        log_line(priority, LogFormat<Args...>(Lines[I].text), args...);
}

// Writes the banner Lines with the arguments its text lines take: each
// text line takes either none of them or all, in order (checked when the
// call is compiled). Banners at debug level are written only while the
// verbose flag is set.
template <const auto &Lines, typename... Args>
void write_banner(int priority, Args... args)
{
    constexpr banner_line end = Lines[std::size(Lines) - 1];
    static_assert(end.stars == 0 && end.text == nullptr, "a banner ends with an empty line");
    if (priority == LOG_DEBUG && !log_verbose())
        return;
    [&]<size_t... I>(std::index_sequence<I...>) {
        (write_banner_line<Lines, I>(priority, args...), ...);
    }(std::make_index_sequence<std::size(Lines) - 1>());
}

// ---- the image file ----

// The open image; closed on every way out of the scope.
class FirmwareFile {
public:
    FirmwareFile() = default;
    ~FirmwareFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FirmwareFile(const FirmwareFile &) = delete;
    FirmwareFile &operator=(const FirmwareFile &) = delete;

    // 0, or -1 (logged with the fixed path, as the camera names it).
    int open()
    {
        const std::string path = platform_path(FIRMWARE_FILE_PATH);
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            const int e = errno;
            OPTAD_LOG_ERROR("%d (%s) ERROR:optad:firmware - Failed to open %s\n", e, strerror(e), FIRMWARE_FILE_PATH);
            return -1;
        }
        return 0;
    }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// The revision in a version text of VERSION_TEXT_SIZE bytes (text[] holds
// one more, a terminator): the number, 0 without a marker, -1 without a
// blank after the number. A number written negative stays negative, and the
// check takes it as no revision at all.
int parse_version_text(const char *text)
{
    const char *marker = nullptr;
    for (size_t i = 0; i <= MARKER_LAST_START; ++i) {
        if (std::memcmp(text + i, MARKER, MARKER_LEN) == 0) {
            marker = text + i;
            break;
        }
    }
    if (marker == nullptr) {
        OPTAD_LOG_ERROR("ERROR:optad:firmware - Did not find 'Rev.' in firmware file!!\n");
        return 0;
    }
    OPTAD_LOG_DEBUG("DEBUG:optad:firmware - Firmware version information=%s\n", marker);

    // The field after the marker may run past the 60 bytes when the marker
    // starts late; the terminator then ends the search.
    const char *number = marker + MARKER_LEN;
    size_t length = 0;
    while (length < REVISION_FIELD && number[length] != ' ' && number[length] != '\0')
        ++length;
    if (length == REVISION_FIELD || number[length] != ' ') {
        OPTAD_LOG_ERROR("ERROR:optad:firmware - Did not find revision number in firmware file!!\n");
        return -1;
    }
    // At most four characters before the blank, read as a decimal number
    // the way the C library reads one: leading white space, a sign, then
    // digits as far as they go; an empty or non-numeric text gives 0. So
    // "-12" is -12, which the check refuses, and not the 0 that reading
    // digits alone made of it, which had any IMC "downgraded" to the image.
    char field[REVISION_FIELD] = {};
    std::memcpy(field, number, length);
    const int revision = static_cast<int>(std::strtol(field, nullptr, 10));
    OPTAD_LOG_DEBUG("DEBUG:optad:firmware - Firmware revision (integer)=%d\n", revision);
    return revision;
}

// One poll of the firmware-complete line, by number and label: its level,
// or -1 (logged) when a GPIO call failed. The line is released either way.
int read_fwup_cmplt()
{
    pinio_line *line = pinio_request(GPIO_FWUP_CMPLT_NUMBER, GPIO_FWUP_CMPLT_LABEL);
    if (line == nullptr) {
        const int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:firmware - Not possible to request GPIO%d %s!\n", e, strerror(e),
                        GPIO_FWUP_CMPLT_NUMBER, GPIO_FWUP_CMPLT_LABEL);
        return -1;
    }
    if (pinio_full_open(line) < 0) {
        const int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:firmware - Not possible to full open GPIO%d %s!\n", e, strerror(e),
                        GPIO_FWUP_CMPLT_NUMBER, GPIO_FWUP_CMPLT_LABEL);
        pinio_free(line);
        return -1;
    }
    const int value = pinio_get_value(line);
    if (value < 0) {
        const int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:firmware - Not possible to get value of GPIO%d %s!\n", e, strerror(e),
                        GPIO_FWUP_CMPLT_NUMBER, GPIO_FWUP_CMPLT_LABEL);
    }
    pinio_close(line);
    pinio_free(line);
    return value < 0 ? -1 : value;
}

// Steps 9-11: the IMC raises FWUP_CMPLT when its write-in is complete. 0
// once it reads 1, -1 after a GPIO failure (not retried) or the time-out.
int wait_for_fwup_cmplt()
{
    for (int poll = 1; poll <= FWUP_CMPLT_POLLS; ++poll) {
        const int value = read_fwup_cmplt();
        if (value < 0)
            return -1;
        if (value == 1)
            return 0;
        // No pause after the last poll: nothing follows it but the time-out.
        if (poll < FWUP_CMPLT_POLLS)
            clock_sleep_us(FWUP_CMPLT_POLL_US);
    }
    write_banner<FWUP_CMPLT_TIMEOUT>(LOG_WARNING, STEP_COMPLETE, FWUP_CMPLT_TIMEOUT_MIN);
    return -1;
}

// The image's size, when it is one the IMC can be given: a regular file of
// 1 byte to INT_MAX bytes. -1 (logged) otherwise.
int image_size(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        const int e = errno;
        OPTAD_LOG_ERROR("%d (%s) ERROR:optad:firmware - fstat failed!\n", e, strerror(e));
        return -1;
    }
    // Starting the IMC's upgrade mode with nothing to write would leave it
    // waiting for an image that never comes.
    if (!S_ISREG(st.st_mode) || st.st_size <= 0 || st.st_size > INT_MAX) {
        OPTAD_LOG_ERROR("ERROR:optad:firmware - %s is no firmware image (%lld bytes)!\n", FIRMWARE_FILE_PATH,
                        static_cast<long long>(st.st_size));
        return -1;
    }
    return static_cast<int>(st.st_size);
}

}  // namespace

int get_firmware_file_revision()
{
    write_banner<FILE_REVISION_BANNER>(LOG_DEBUG);
    FirmwareFile file;
    if (file.open() != 0)
        return -1;
    char text[VERSION_TEXT_SIZE + 1] = {};
    if (read_up_to(file.fd(), text, VERSION_TEXT_SIZE) != static_cast<ssize_t>(VERSION_TEXT_SIZE)) {
        // A file too short for its version text is no firmware image at all
        // (an empty or truncated file in the camera's image). Counting it as
        // revision 0 would "downgrade" the IMC with it, or, for an empty
        // file, restart the module for ever; as a failed check start-up goes
        // on with the firmware the IMC has.
        OPTAD_LOG_ERROR("ERROR:optad:firmware - Not able to read version information from firmware file!!\n");
        return -1;
    }
    return parse_version_text(text);
}

int get_imc_firmware_revision()
{
    write_banner<IMC_REVISION_BANNER>(LOG_DEBUG);
    if (buffer_send_camera_status_cmd(START_ANSWER_REQ_TIMEOUT_US) != 0)
        return -1;
    // The decoder fetches a fresh reply of its own and reads the revision
    // from it.
    const int revision = firmware_get_imc_revision(spi_recv_buffer());
    if (revision < 0)
        return -1;
    OPTAD_LOG_DEBUG("DEBUG:optad:firmware - Firmware revision at IMC side (integer)=%d\n", revision);
    return revision;
}

int check_firmware_version()
{
    const int file_revision = get_firmware_file_revision();
    if (file_revision < 0)
        return -1;
    const int imc_revision = get_imc_firmware_revision();
    if (imc_revision < 0)
        return -1;
    if (imc_revision == file_revision) {
        write_banner<EQUAL_BANNER>(LOG_DEBUG);
        return -2;
    }
    if (imc_revision < file_revision) {
        write_banner<UPGRADE_BANNER>(LOG_DEBUG);
        return 0;
    }
    write_banner<DOWNGRADE_BANNER>(LOG_DEBUG);
    return 1;
}

int firmware_upgrade()
{
    // Step 0: the image.
    write_banner<STEP_0>(LOG_DEBUG, FIRMWARE_FILE_PATH);
    FirmwareFile file;
    if (file.open() != 0)
        return -1;
    const int size = image_size(file.fd());
    if (size < 0)
        return size;

    // Steps 1-2: the IMC enters its version-up mode.
    write_banner<STEP_1_2>(LOG_DEBUG);
    int result = firmware_version_up_start(static_cast<uint32_t>(size));
    if (result < 0)
        return result;

    // Step 3: its answer.
    write_banner<STEP_3>(LOG_DEBUG);
    result = buffer_send_camera_status_cmd(START_ANSWER_REQ_TIMEOUT_US);
    if (result < 0)
        return result;
    const uint8_t *recv_buf = spi_recv_buffer();
    const uint8_t start_answer = recv_buf[STS_FWUP_START_ANSWER];
    OPTAD_LOG_DEBUG("DEBUG:optad:firmware - recv_buf[0x1a]==%02x\n", start_answer);
    if (start_answer != 0x01) {
        write_banner<STEP_4_NG>(LOG_WARNING, start_answer);
        return result;
    }
    write_banner<STEP_5>(LOG_DEBUG);

    // Steps 6-7: the whole image, then the IMC's answer about the write-in.
    result = spi_send_firmware_file(file.fd(), size);
    if (result < 0)
        return result;
    write_banner<STEP_6_7>(LOG_DEBUG);
    result = buffer_send_camera_status_cmd(WRITE_ANSWER_REQ_TIMEOUT_US);
    if (result < 0)
        return result;
    const uint8_t write_answer = recv_buf[STS_FWUP_WRITE_ANSWER];
    OPTAD_LOG_DEBUG("DEBUG:optad:firmware - recv_buf[0x1b]==%02x\n", write_answer);
    if (write_answer == 0x00) {
        write_banner<STEP_8_WAIT_TIMEOUT>(LOG_WARNING);
        clock_sleep_us(WAIT_TIMEOUT_PAUSE_US);
        return result;
    }
    if (write_answer != 0x01) {
        write_banner<STEP_8_NG>(LOG_WARNING, write_answer);
        return result;
    }

    // Steps 9-11: the IMC writes the image into its flash.
    write_banner<STEP_9>(LOG_DEBUG);
    if (wait_for_fwup_cmplt() != 0)
        return -1;

    // Step 12.
    write_banner<STEP_12>(LOG_DEBUG, STEP_COMPLETE);
    return 0;
}

}  // namespace optad
