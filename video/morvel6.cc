// The main SoC's video input unit, /dev/cam0.
//
// The records are built as byte arrays of little-endian 32-bit words at
// fixed offsets. The constant words of the input record and the mode words
// of the pipeline record belong to the video input driver and are passed as
// the driver expects them.
#include "video/morvel6.h"

#include "config/param_settings.h"
#include "platform/devio.h"
#include "platform/kernel_abi.h"
#include "platform/log.h"

#include <fcntl.h>

#include <cstdint>
#include <cstring>

namespace optad {

namespace {

constexpr const char *CAM0_DEVICE = "/dev/cam0";

void put_le32(uint8_t *rec, size_t off, uint32_t v)
{
    rec[off] = static_cast<uint8_t>(v);
    rec[off + 1] = static_cast<uint8_t>(v >> 8);
    rec[off + 2] = static_cast<uint8_t>(v >> 16);
    rec[off + 3] = static_cast<uint8_t>(v >> 24);
}

// Input record: the constant words, then width and height.
struct record_word {
    size_t offset;
    uint32_t value;
};
constexpr record_word input_words[] = {
    {0x00, 1}, {0x04, 1}, {0x10, 1}, {0x38, 16}, {0x50, 171}, {0x54, 128}, {0x58, 182}, {0x5C, 157},
};
constexpr size_t INPUT_WIDTH = 0x2C;
constexpr size_t INPUT_HEIGHT = 0x30;

// Pipeline record words overwritten after the read.
constexpr size_t PIPE_0X10 = 0x10;
constexpr size_t PIPE_0X14 = 0x14;
constexpr size_t PIPE_WIDTH = 0x18;
constexpr size_t PIPE_HEIGHT = 0x1C;
constexpr size_t PIPE_0X2C = 0x2C;
constexpr size_t PIPE_OUT_WIDTH = 0x30;
constexpr size_t PIPE_OUT_HEIGHT = 0x34;
constexpr size_t PIPE_0X38 = 0x38;
constexpr size_t PIPE_MODE_WORDS = 0x1A8;  // three words: 0x1A8, 0x1AC, 0x1B0

// The mode words by capture mode; other modes keep what the driver gave.
struct mode_words {
    int capture_mode;
    uint32_t words[3];
};
constexpr mode_words pipeline_mode_words[] = {
    {1, {0, 290000, 1}},  // 5472 x 3648
    {2, {0, 0, 0}},       // 3840 x 2160
    {3, {0, 125000, 1}},  // 3840 x 2880
};

// Size record: width and height.
constexpr size_t SIZEREC_WIDTH = 0x10;
constexpr size_t SIZEREC_HEIGHT = 0x14;

}  // namespace

int init_morvel6(int width, int height)
{
    return init_morvel6_mode(width, height, param_get_int_value(PARAM_CAPTURE_MODE));
}

int init_morvel6_mode(int width, int height, int capture_mode)
{
    uint8_t input[CAM0_INPUT_RECORD_SIZE] = {};
    for (const record_word &w : input_words)
        put_le32(input, w.offset, w.value);
    put_le32(input, INPUT_WIDTH, static_cast<uint32_t>(width));
    put_le32(input, INPUT_HEIGHT, static_cast<uint32_t>(height));

    uint8_t pipeline[CAM0_PIPELINE_RECORD_SIZE] = {};
    uint8_t size[CAM0_SIZE_RECORD_SIZE] = {};
    put_le32(size, SIZEREC_WIDTH, static_cast<uint32_t>(width));
    put_le32(size, SIZEREC_HEIGHT, static_cast<uint32_t>(height));
    uint8_t window[CAM0_WINDOW_RECORD_SIZE] = {};

    // Only the window read and write-back are checked: the driver's answer
    // to the other requests is not needed to go on.
    int fd = dev_open(CAM0_DEVICE, O_RDWR);

    bool have_window = dev_ioctl(fd, CAM0_GET_WINDOW, window) >= 0;
    if (!have_window)
        OPTAD_LOG_ERROR("ERROR:optad:main:init_morvel6 - Unable to retrieve current window");

    dev_ioctl_value(fd, CAM0_STREAM, 0);
    dev_ioctl(fd, CAM0_SET_INPUT, input);

    dev_ioctl(fd, CAM0_GET_PIPELINE, pipeline);
    put_le32(pipeline, PIPE_0X10, 0);
    put_le32(pipeline, PIPE_0X14, 0);
    put_le32(pipeline, PIPE_WIDTH, static_cast<uint32_t>(width));
    put_le32(pipeline, PIPE_HEIGHT, static_cast<uint32_t>(height));
    put_le32(pipeline, PIPE_0X2C, 0);
    put_le32(pipeline, PIPE_OUT_WIDTH, static_cast<uint32_t>(width));
    put_le32(pipeline, PIPE_OUT_HEIGHT, static_cast<uint32_t>(height));
    put_le32(pipeline, PIPE_0X38, 1);
    for (const mode_words &m : pipeline_mode_words) {
        if (m.capture_mode != capture_mode)
            continue;
        for (size_t i = 0; i < 3; ++i)
            put_le32(pipeline, PIPE_MODE_WORDS + 4 * i, m.words[i]);
    }
    dev_ioctl(fd, CAM0_SET_PIPELINE, pipeline);

    dev_ioctl(fd, CAM0_SET_SIZE, size);
    dev_ioctl_value(fd, CAM0_BLACK_VIDEO, 1);
    dev_ioctl_value(fd, CAM0_STREAM, 1);

    if (have_window && dev_ioctl(fd, CAM0_SET_WINDOW, window) < 0)
        OPTAD_LOG_ERROR("ERROR:optad:main:init_morvel6 - Unable to set original window");

    if (fd >= 0)
        dev_close(fd);
    return 0;
}

void set_black_video_morvel6(int on)
{
    OPTAD_LOG_DEBUG("DEBUG:optad:main:set_black_video_morvel6 set to %d\n", on);
    int fd = dev_open(CAM0_DEVICE, O_RDWR);
    dev_ioctl_value(fd, CAM0_BLACK_VIDEO, static_cast<unsigned long>(on));
    if (fd >= 0)
        dev_close(fd);
}

void set_stream_morvel6(int on)
{
    OPTAD_LOG_DEBUG("DEBUG:optad:main:set_stream_morvel6 set to %d\n", on);
    int fd = dev_open(CAM0_DEVICE, O_RDWR);
    dev_ioctl_value(fd, CAM0_STREAM, static_cast<unsigned long>(on));
    if (fd >= 0)
        dev_close(fd);
}

}  // namespace optad
