// The parameter command encoders: every job's frame on the wire and the
// bytes it leaves in the saved status block for the confirmation, the
// substitutions and refusals with their messages, and the follow-ups that
// reach beyond the frame (video path, capture settings, MaxExposureTime,
// the remembered maximum exposure time, the preferred day/night string,
// the exposure-settle watch).
//
// Expected frames are written out from the IMC's command tables: bytes 0-1
// the 16-bit sum of bytes 4 .. length-1, big-endian; 2-3 length 12 + N;
// 4-5 0x0010; 6-7 N + 4; 8 N + 3; 9 0x00; 10 group; 11 item; the N value
// bytes; zeros up to byte 15.
#include "params/encoders.h"

#include "config/param_settings.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/capture_settings.h"
#include "params/day_night.h"
#include "params/sdl.h"
#include "platform/log.h"
#include "tests/imc/fake_hw.h"
#include "tests/support/test_support.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace optad {
namespace {

using test::FakeHardware;
using test::LogCapture;
using test::SandboxRoot;

constexpr uint8_t UNTOUCHED = 0x5A;  // scam_sts filler: a byte no encoder wrote

// One parameter value to set before a job runs.
struct setting {
    int id;
    const char *text;  // string parameters; nullptr for int parameters
    int number;
};
setting text(int id, const char *value) { return {id, value, 0}; }
setting number(int id, int value) { return {id, nullptr, value}; }

struct frame_case {
    const char *name;
    int job;
    std::vector<setting> settings;
    std::array<uint8_t, 16> frame;
    std::vector<std::pair<size_t, uint8_t>> expect;  // scam_sts offset, value
    int logged_as;
    const char *line;   // the "Going to send" line (verbose); nullptr: none
    const char *error;  // the one ERROR line of a substitution; nullptr: none
};

// Limits the IMC reports in these tests: iris 2..20, shutter index 10..40
// (1/5 s to 1/1200 s), gain 1..30.
constexpr sdl_limits test_limits = {2, 20, 10, 40, 1, 30};

// Exposure window rows: the four edges are first fitted into the exposure
// window limits (11..244 of 256, size 26..230) and stored back on the
// 0..9999 scale, then sent as round(edge x 256 / 9999):
//   default 3333/6666: 85..171 of 256, stored 3320/6679: position 85, size 86;
//   whole image 0..9999: 256 wide, cut to 230 and moved to 11..241, stored
//     430/9413: position 11, size 230;
//   small corner (left 0..100, top 9000..9100): grown to 26, moved to 11..37
//     and 218..244, stored 430/1445 and 8515/9530: position 11 and 218, size 26.
// Focus window rows: x0 = 0.78125 is 200 of 256, x2 = 0.9765625 is 250: the
// width stops at 244 (44); y0 = 0.9 is 230 (position cut to 218), y2 = 0.98
// is 251, a size of 21 that is sent as the minimum 26.
const std::vector<frame_case> frame_cases = {
    {"exposure auto 50Hz", 12, {text(PARAM_EXPOSURE, "auto"), text(PARAM_CAPTURE_FREQUENCY, "50Hz")},
     {0x00, 0x1C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00},
     {{0x40, 0x00}}, PARAM_EXPOSURE,
     "DEBUG:optad:main_loop:exp_mode - Going to send Exposure Mode=0x00 and string=auto\n",
     nullptr},
    {"exposure iris 50Hz", 12, {text(PARAM_EXPOSURE, "iris"), text(PARAM_CAPTURE_FREQUENCY, "50Hz")},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x00},
     {{0x40, 0x04}}, PARAM_EXPOSURE,
     "DEBUG:optad:main_loop:exp_mode - Going to send Exposure Mode=0x04 and string=iris\n",
     nullptr},
    {"exposure shutter 60Hz", 12, {text(PARAM_EXPOSURE, "shutter"), text(PARAM_CAPTURE_FREQUENCY, "60Hz")},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x00, 0x05, 0x00, 0x00, 0x00},
     {{0x40, 0x05}}, PARAM_EXPOSURE,
     "DEBUG:optad:main_loop:exp_mode - Going to send Exposure Mode=0x05 and string=shutter\n",
     nullptr},
    {"exposure flickerfree 50Hz", 12, {text(PARAM_EXPOSURE, "flickerfree"), text(PARAM_CAPTURE_FREQUENCY, "50Hz")},
     {0x00, 0x1D, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00},
     {{0x40, 0x01}}, PARAM_EXPOSURE,
     "DEBUG:optad:main_loop:exp_mode - Going to send Exposure Mode=0x01 and string=flickerfree\n",
     nullptr},
    {"exposure flickerfree 60Hz", 12, {text(PARAM_EXPOSURE, "flickerfree"), text(PARAM_CAPTURE_FREQUENCY, "60Hz")},
     {0x00, 0x1E, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x00, 0x02, 0x00, 0x00, 0x00},
     {{0x40, 0x02}}, PARAM_EXPOSURE,
     "DEBUG:optad:main_loop:exp_mode - Going to send Exposure Mode=0x02 and string=flickerfree\n",
     nullptr},
    {"exposure flickerreduced 50Hz", 12, {text(PARAM_EXPOSURE, "flickerreduced"), text(PARAM_CAPTURE_FREQUENCY, "50Hz")},
     {0x00, 0x22, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x00, 0x06, 0x00, 0x00, 0x00},
     {{0x40, 0x06}}, PARAM_EXPOSURE,
     "DEBUG:optad:main_loop:exp_mode - Going to send Exposure Mode=0x06 and string=flickerreduced\n",
     nullptr},
    {"exposure flickerreduced 60Hz", 12, {text(PARAM_EXPOSURE, "flickerreduced"), text(PARAM_CAPTURE_FREQUENCY, "60Hz")},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x00, 0x07, 0x00, 0x00, 0x00},
     {{0x40, 0x07}}, PARAM_EXPOSURE,
     "DEBUG:optad:main_loop:exp_mode - Going to send Exposure Mode=0x07 and string=flickerreduced\n",
     nullptr},
    {"exposure manual 60Hz", 12, {text(PARAM_EXPOSURE, "manual"), text(PARAM_CAPTURE_FREQUENCY, "60Hz")},
     {0x00, 0x1F, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x00, 0x03, 0x00, 0x00, 0x00},
     {{0x40, 0x03}}, PARAM_EXPOSURE,
     "DEBUG:optad:main_loop:exp_mode - Going to send Exposure Mode=0x03 and string=manual\n",
     nullptr},
    {"exposure flickerfree 55Hz", 12, {text(PARAM_EXPOSURE, "flickerfree"), text(PARAM_CAPTURE_FREQUENCY, "55Hz")},
     {0x00, 0x1E, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x00, 0x02, 0x00, 0x00, 0x00},
     {{0x40, 0x02}}, PARAM_EXPOSURE,
     "DEBUG:optad:main_loop:exp_mode - Going to send Exposure Mode=0x02 and string=flickerfree\n",
     nullptr},
    {"brightness 0", 13, {number(PARAM_BRIGHTNESS, 0)},
     {0x01, 0x15, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0xF8, 0x00, 0x00, 0x00},
     {{0x45, 0xF8}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0xF8\n",
     nullptr},
    {"brightness 1", 13, {number(PARAM_BRIGHTNESS, 1)},
     {0x01, 0x16, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0xF9, 0x00, 0x00, 0x00},
     {{0x45, 0xF9}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0xF9\n",
     nullptr},
    {"brightness 7", 13, {number(PARAM_BRIGHTNESS, 7)},
     {0x01, 0x16, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0xF9, 0x00, 0x00, 0x00},
     {{0x45, 0xF9}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0xF9\n",
     nullptr},
    {"brightness 8", 13, {number(PARAM_BRIGHTNESS, 8)},
     {0x01, 0x17, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0xFA, 0x00, 0x00, 0x00},
     {{0x45, 0xFA}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0xFA\n",
     nullptr},
    {"brightness 14", 13, {number(PARAM_BRIGHTNESS, 14)},
     {0x01, 0x17, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0xFA, 0x00, 0x00, 0x00},
     {{0x45, 0xFA}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0xFA\n",
     nullptr},
    {"brightness 15", 13, {number(PARAM_BRIGHTNESS, 15)},
     {0x01, 0x18, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0xFB, 0x00, 0x00, 0x00},
     {{0x45, 0xFB}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0xFB\n",
     nullptr},
    {"brightness 22", 13, {number(PARAM_BRIGHTNESS, 22)},
     {0x01, 0x19, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0xFC, 0x00, 0x00, 0x00},
     {{0x45, 0xFC}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0xFC\n",
     nullptr},
    {"brightness 29", 13, {number(PARAM_BRIGHTNESS, 29)},
     {0x01, 0x1A, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0xFD, 0x00, 0x00, 0x00},
     {{0x45, 0xFD}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0xFD\n",
     nullptr},
    {"brightness 36", 13, {number(PARAM_BRIGHTNESS, 36)},
     {0x01, 0x1B, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0xFE, 0x00, 0x00, 0x00},
     {{0x45, 0xFE}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0xFE\n",
     nullptr},
    {"brightness 42", 13, {number(PARAM_BRIGHTNESS, 42)},
     {0x01, 0x1B, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0xFE, 0x00, 0x00, 0x00},
     {{0x45, 0xFE}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0xFE\n",
     nullptr},
    {"brightness 43", 13, {number(PARAM_BRIGHTNESS, 43)},
     {0x01, 0x1C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0xFF, 0x00, 0x00, 0x00},
     {{0x45, 0xFF}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0xFF\n",
     nullptr},
    {"brightness 49", 13, {number(PARAM_BRIGHTNESS, 49)},
     {0x01, 0x1C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0xFF, 0x00, 0x00, 0x00},
     {{0x45, 0xFF}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0xFF\n",
     nullptr},
    {"brightness 50", 13, {number(PARAM_BRIGHTNESS, 50)},
     {0x00, 0x1D, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00},
     {{0x45, 0x00}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x00\n",
     nullptr},
    {"brightness 51", 13, {number(PARAM_BRIGHTNESS, 51)},
     {0x00, 0x1E, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00},
     {{0x45, 0x01}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x01\n",
     nullptr},
    {"brightness 57", 13, {number(PARAM_BRIGHTNESS, 57)},
     {0x00, 0x1E, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00},
     {{0x45, 0x01}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x01\n",
     nullptr},
    {"brightness 58", 13, {number(PARAM_BRIGHTNESS, 58)},
     {0x00, 0x1F, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x02, 0x00, 0x00, 0x00},
     {{0x45, 0x02}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x02\n",
     nullptr},
    {"brightness 64", 13, {number(PARAM_BRIGHTNESS, 64)},
     {0x00, 0x1F, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x02, 0x00, 0x00, 0x00},
     {{0x45, 0x02}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x02\n",
     nullptr},
    {"brightness 65", 13, {number(PARAM_BRIGHTNESS, 65)},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x03, 0x00, 0x00, 0x00},
     {{0x45, 0x03}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x03\n",
     nullptr},
    {"brightness 72", 13, {number(PARAM_BRIGHTNESS, 72)},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x04, 0x00, 0x00, 0x00},
     {{0x45, 0x04}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x04\n",
     nullptr},
    {"brightness 79", 13, {number(PARAM_BRIGHTNESS, 79)},
     {0x00, 0x22, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x05, 0x00, 0x00, 0x00},
     {{0x45, 0x05}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x05\n",
     nullptr},
    {"brightness 86", 13, {number(PARAM_BRIGHTNESS, 86)},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x06, 0x00, 0x00, 0x00},
     {{0x45, 0x06}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x06\n",
     nullptr},
    {"brightness 92", 13, {number(PARAM_BRIGHTNESS, 92)},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x06, 0x00, 0x00, 0x00},
     {{0x45, 0x06}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x06\n",
     nullptr},
    {"brightness 93", 13, {number(PARAM_BRIGHTNESS, 93)},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x07, 0x00, 0x00, 0x00},
     {{0x45, 0x07}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x07\n",
     nullptr},
    {"brightness 99", 13, {number(PARAM_BRIGHTNESS, 99)},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x07, 0x00, 0x00, 0x00},
     {{0x45, 0x07}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x07\n",
     nullptr},
    {"brightness 100", 13, {number(PARAM_BRIGHTNESS, 100)},
     {0x00, 0x25, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x08, 0x00, 0x00, 0x00},
     {{0x45, 0x08}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x08\n",
     nullptr},
    {"brightness -5", 13, {number(PARAM_BRIGHTNESS, -5)},
     {0x01, 0x16, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0xF9, 0x00, 0x00, 0x00},
     {{0x45, 0xF9}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0xF9\n",
     nullptr},
    {"brightness 101", 13, {number(PARAM_BRIGHTNESS, 101)},
     {0x00, 0x1D, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00},
     {{0x45, 0x00}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x00\n",
     nullptr},
    {"brightness 500", 13, {number(PARAM_BRIGHTNESS, 500)},
     {0x00, 0x1D, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00},
     {{0x45, 0x00}}, PARAM_BRIGHTNESS,
     "DEBUG:optad:main_loop:exp_comp - Going to send Exposure Compensation=0x00\n",
     nullptr},
    {"iris 7", 14, {number(PARAM_IRIS, 7)},
     {0x00, 0x25, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x02, 0x07, 0x00, 0x00, 0x00},
     {{0x52, 0x07}}, PARAM_IRIS,
     "DEBUG:optad:main_loop:diaphragm - Going to send Diaphragm=0x07\n",
     nullptr},
    {"iris 2", 14, {number(PARAM_IRIS, 2)},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x02, 0x02, 0x00, 0x00, 0x00},
     {{0x52, 0x02}}, PARAM_IRIS,
     "DEBUG:optad:main_loop:diaphragm - Going to send Diaphragm=0x02\n",
     nullptr},
    {"iris 20", 14, {number(PARAM_IRIS, 20)},
     {0x00, 0x32, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x02, 0x14, 0x00, 0x00, 0x00},
     {{0x52, 0x14}}, PARAM_IRIS,
     "DEBUG:optad:main_loop:diaphragm - Going to send Diaphragm=0x14\n",
     nullptr},
    {"iris 1", 14, {number(PARAM_IRIS, 1)},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x02, 0x02, 0x00, 0x00, 0x00},
     {{0x52, 0x02}}, PARAM_IRIS,
     "DEBUG:optad:main_loop:diaphragm - Going to send Diaphragm=0x02\n",
     nullptr},
    {"iris 21", 14, {number(PARAM_IRIS, 21)},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x02, 0x02, 0x00, 0x00, 0x00},
     {{0x52, 0x02}}, PARAM_IRIS,
     "DEBUG:optad:main_loop:diaphragm - Going to send Diaphragm=0x02\n",
     nullptr},
    {"iris -4", 14, {number(PARAM_IRIS, -4)},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x02, 0x02, 0x00, 0x00, 0x00},
     {{0x52, 0x02}}, PARAM_IRIS,
     "DEBUG:optad:main_loop:diaphragm - Going to send Diaphragm=0x02\n",
     nullptr},
    {"shutter 20000", 15, {number(PARAM_SHUTTER, 20000)},
     {0x00, 0x35, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x03, 0x16, 0x00, 0x00, 0x00},
     {{0x53, 0x16}}, PARAM_SHUTTER,
     "DEBUG:optad:main_loop:shutter - Going to send Shutter Speed=0x16\n",
     nullptr},
    {"shutter 1000000", 15, {number(PARAM_SHUTTER, 1000000)},
     {0x00, 0x29, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x03, 0x0A, 0x00, 0x00, 0x00},
     {{0x53, 0x0A}}, PARAM_SHUTTER,
     "DEBUG:optad:main_loop:shutter - Going to send Shutter Speed=0x0A\n",
     nullptr},
    {"shutter 20001", 15, {number(PARAM_SHUTTER, 20001)},
     {0x00, 0x29, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x03, 0x0A, 0x00, 0x00, 0x00},
     {{0x53, 0x0A}}, PARAM_SHUTTER,
     "DEBUG:optad:main_loop:shutter - Going to send Shutter Speed=0x0A\n",
     nullptr},
    {"shutter 125", 15, {number(PARAM_SHUTTER, 125)},
     {0x00, 0x29, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x03, 0x0A, 0x00, 0x00, 0x00},
     {{0x53, 0x0A}}, PARAM_SHUTTER,
     "DEBUG:optad:main_loop:shutter - Going to send Shutter Speed=0x0A\n",
     nullptr},
    {"shutter 200000", 15, {number(PARAM_SHUTTER, 200000)},
     {0x00, 0x29, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x03, 0x0A, 0x00, 0x00, 0x00},
     {{0x53, 0x0A}}, PARAM_SHUTTER,
     "DEBUG:optad:main_loop:shutter - Going to send Shutter Speed=0x0A\n",
     nullptr},
    {"shutter 166666", 15, {number(PARAM_SHUTTER, 166666)},
     {0x00, 0x29, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x03, 0x0A, 0x00, 0x00, 0x00},
     {{0x53, 0x0A}}, PARAM_SHUTTER,
     "DEBUG:optad:main_loop:shutter - Going to send Shutter Speed=0x0A\n",
     nullptr},
    {"shutter 1000", 15, {number(PARAM_SHUTTER, 1000)},
     {0x00, 0x46, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x03, 0x27, 0x00, 0x00, 0x00},
     {{0x53, 0x27}}, PARAM_SHUTTER,
     "DEBUG:optad:main_loop:shutter - Going to send Shutter Speed=0x27\n",
     nullptr},
    {"shutter 833", 15, {number(PARAM_SHUTTER, 833)},
     {0x00, 0x47, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x03, 0x28, 0x00, 0x00, 0x00},
     {{0x53, 0x28}}, PARAM_SHUTTER,
     "DEBUG:optad:main_loop:shutter - Going to send Shutter Speed=0x28\n",
     nullptr},
    {"shutter 714", 15, {number(PARAM_SHUTTER, 714)},
     {0x00, 0x29, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x03, 0x0A, 0x00, 0x00, 0x00},
     {{0x53, 0x0A}}, PARAM_SHUTTER,
     "DEBUG:optad:main_loop:shutter - Going to send Shutter Speed=0x0A\n",
     nullptr},
    {"gain 7", 16, {number(PARAM_GAIN, 7)},
     {0x00, 0x27, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x04, 0x07, 0x00, 0x00, 0x00},
     {{0x54, 0x07}}, PARAM_GAIN,
     "DEBUG:optad:main_loop:gain - Going to send Gain=0x07\n",
     nullptr},
    {"gain 1", 16, {number(PARAM_GAIN, 1)},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x04, 0x01, 0x00, 0x00, 0x00},
     {{0x54, 0x01}}, PARAM_GAIN,
     "DEBUG:optad:main_loop:gain - Going to send Gain=0x01\n",
     nullptr},
    {"gain 30", 16, {number(PARAM_GAIN, 30)},
     {0x00, 0x3E, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x04, 0x1E, 0x00, 0x00, 0x00},
     {{0x54, 0x1E}}, PARAM_GAIN,
     "DEBUG:optad:main_loop:gain - Going to send Gain=0x1E\n",
     nullptr},
    {"gain 0", 16, {number(PARAM_GAIN, 0)},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x04, 0x01, 0x00, 0x00, 0x00},
     {{0x54, 0x01}}, PARAM_GAIN,
     "DEBUG:optad:main_loop:gain - Going to send Gain=0x01\n",
     nullptr},
    {"gain 31", 16, {number(PARAM_GAIN, 31)},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x04, 0x01, 0x00, 0x00, 0x00},
     {{0x54, 0x01}}, PARAM_GAIN,
     "DEBUG:optad:main_loop:gain - Going to send Gain=0x01\n",
     nullptr},
    {"slow shutter 8333", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 8333)},
     {0x00, 0x2E, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x0D, 0x00, 0x00, 0x00},
     {{0x4E, 0x0D}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x0D\n",
     nullptr},
    {"slow shutter 50Hz 8333", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 8333)},
     {0x00, 0x2B, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_50hz - Received an invalid parameter:8333 Using the default mode 1/25=0x05\n"},
    {"slow shutter 60Hz 8333", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 8333)},
     {0x00, 0x34, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x0D, 0x00, 0x00, 0x00},
     {{0x4E, 0x0D}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x0D\n",
     nullptr},
    {"slow shutter 10000", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 10000)},
     {0x00, 0x2D, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x0C, 0x00, 0x00, 0x00},
     {{0x4E, 0x0C}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x0C\n",
     nullptr},
    {"slow shutter 50Hz 10000", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 10000)},
     {0x00, 0x32, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x0C, 0x00, 0x00, 0x00},
     {{0x4E, 0x0C}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x0C\n",
     nullptr},
    {"slow shutter 60Hz 10000", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 10000)},
     {0x00, 0x2C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_60hz - Received an invalid parameter:10000 Using the default mode 1/30=0x05\n"},
    {"slow shutter 16666", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 16666)},
     {0x00, 0x2C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x0B, 0x00, 0x00, 0x00},
     {{0x4E, 0x0B}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x0B\n",
     nullptr},
    {"slow shutter 50Hz 16666", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 16666)},
     {0x00, 0x2B, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_50hz - Received an invalid parameter:16666 Using the default mode 1/25=0x05\n"},
    {"slow shutter 60Hz 16666", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 16666)},
     {0x00, 0x32, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x0B, 0x00, 0x00, 0x00},
     {{0x4E, 0x0B}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x0B\n",
     nullptr},
    {"slow shutter 20000", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 20000)},
     {0x00, 0x2B, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x0A, 0x00, 0x00, 0x00},
     {{0x4E, 0x0A}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x0A\n",
     nullptr},
    {"slow shutter 50Hz 20000", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 20000)},
     {0x00, 0x30, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x0A, 0x00, 0x00, 0x00},
     {{0x4E, 0x0A}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x0A\n",
     nullptr},
    {"slow shutter 60Hz 20000", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 20000)},
     {0x00, 0x2C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_60hz - Received an invalid parameter:20000 Using the default mode 1/30=0x05\n"},
    {"slow shutter 33333", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 33333)},
     {0x00, 0x2A, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x09, 0x00, 0x00, 0x00},
     {{0x4E, 0x09}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x09\n",
     nullptr},
    {"slow shutter 50Hz 33333", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 33333)},
     {0x00, 0x2B, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_50hz - Received an invalid parameter:33333 Using the default mode 1/25=0x05\n"},
    {"slow shutter 60Hz 33333", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 33333)},
     {0x00, 0x30, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x09, 0x00, 0x00, 0x00},
     {{0x4E, 0x09}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x09\n",
     nullptr},
    {"slow shutter 40000", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 40000)},
     {0x00, 0x29, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x08, 0x00, 0x00, 0x00},
     {{0x4E, 0x08}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x08\n",
     nullptr},
    {"slow shutter 50Hz 40000", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 40000)},
     {0x00, 0x2E, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x08, 0x00, 0x00, 0x00},
     {{0x4E, 0x08}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x08\n",
     nullptr},
    {"slow shutter 60Hz 40000", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 40000)},
     {0x00, 0x2C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_60hz - Received an invalid parameter:40000 Using the default mode 1/30=0x05\n"},
    {"slow shutter 66666", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 66666)},
     {0x00, 0x28, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x07, 0x00, 0x00, 0x00},
     {{0x4E, 0x07}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x07\n",
     nullptr},
    {"slow shutter 50Hz 66666", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 66666)},
     {0x00, 0x2B, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_50hz - Received an invalid parameter:66666 Using the default mode 1/25=0x05\n"},
    {"slow shutter 60Hz 66666", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 66666)},
     {0x00, 0x2E, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x07, 0x00, 0x00, 0x00},
     {{0x4E, 0x07}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x07\n",
     nullptr},
    {"slow shutter 80000", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 80000)},
     {0x00, 0x27, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x06, 0x00, 0x00, 0x00},
     {{0x4E, 0x06}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x06\n",
     nullptr},
    {"slow shutter 50Hz 80000", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 80000)},
     {0x00, 0x2C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x06, 0x00, 0x00, 0x00},
     {{0x4E, 0x06}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x06\n",
     nullptr},
    {"slow shutter 60Hz 80000", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 80000)},
     {0x00, 0x2C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_60hz - Received an invalid parameter:80000 Using the default mode 1/30=0x05\n"},
    {"slow shutter 125000", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 125000)},
     {0x00, 0x26, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x05\n",
     nullptr},
    {"slow shutter 50Hz 125000", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 125000)},
     {0x00, 0x2B, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_50hz - Received an invalid parameter:125000 Using the default mode 1/25=0x05\n"},
    {"slow shutter 60Hz 125000", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 125000)},
     {0x00, 0x2C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x05\n",
     nullptr},
    {"slow shutter 166666", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 166666)},
     {0x00, 0x25, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x04, 0x00, 0x00, 0x00},
     {{0x4E, 0x04}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x04\n",
     nullptr},
    {"slow shutter 50Hz 166666", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 166666)},
     {0x00, 0x2A, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x04, 0x00, 0x00, 0x00},
     {{0x4E, 0x04}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x04\n",
     nullptr},
    {"slow shutter 60Hz 166666", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 166666)},
     {0x00, 0x2C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_60hz - Received an invalid parameter:166666 Using the default mode 1/30=0x05\n"},
    {"slow shutter 250000", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 250000)},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x03, 0x00, 0x00, 0x00},
     {{0x4E, 0x03}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x03\n",
     nullptr},
    {"slow shutter 50Hz 250000", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 250000)},
     {0x00, 0x2B, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_50hz - Received an invalid parameter:250000 Using the default mode 1/25=0x05\n"},
    {"slow shutter 60Hz 250000", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 250000)},
     {0x00, 0x2A, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x03, 0x00, 0x00, 0x00},
     {{0x4E, 0x03}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x03\n",
     nullptr},
    {"slow shutter 312500", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 312500)},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x02, 0x00, 0x00, 0x00},
     {{0x4E, 0x02}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x02\n",
     nullptr},
    {"slow shutter 50Hz 312500", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 312500)},
     {0x00, 0x28, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x02, 0x00, 0x00, 0x00},
     {{0x4E, 0x02}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x02\n",
     nullptr},
    {"slow shutter 60Hz 312500", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 312500)},
     {0x00, 0x2C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_60hz - Received an invalid parameter:312500 Using the default mode 1/30=0x05\n"},
    {"slow shutter 500000", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 500000)},
     {0x00, 0x22, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x01, 0x00, 0x00, 0x00},
     {{0x4E, 0x01}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x01\n",
     nullptr},
    {"slow shutter 50Hz 500000", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 500000)},
     {0x00, 0x27, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x01, 0x00, 0x00, 0x00},
     {{0x4E, 0x01}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x01\n",
     nullptr},
    {"slow shutter 60Hz 500000", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 500000)},
     {0x00, 0x28, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x01, 0x00, 0x00, 0x00},
     {{0x4E, 0x01}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x01\n",
     nullptr},
    {"slow shutter 1000000", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 1000000)},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x00, 0x00, 0x00, 0x00},
     {{0x4E, 0x00}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x00\n",
     nullptr},
    {"slow shutter 50Hz 1000000", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 1000000)},
     {0x00, 0x26, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x00, 0x00, 0x00, 0x00},
     {{0x4E, 0x00}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x00\n",
     nullptr},
    {"slow shutter 60Hz 1000000", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 1000000)},
     {0x00, 0x27, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x00, 0x00, 0x00, 0x00},
     {{0x4E, 0x00}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x00\n",
     nullptr},
    {"slow shutter 12345", 17, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 12345)},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x05, 0x00, 0x00, 0x00, 0x00},
     {{0x4E, 0x00}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter=0x00\n",
     "ERROR:optad:main_loop:slow_shutter - Received an invalid parameter. Using the default slow shutter=0x00\n"},
    {"slow shutter 50Hz 12345", 18, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 12345)},
     {0x00, 0x2B, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0A, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 50Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_50hz - Received an invalid parameter:12345 Using the default mode 1/25=0x05\n"},
    {"slow shutter 60Hz 12345", 19, {text(PARAM_EXPOSURE, "manual"), number(PARAM_MAX_EXPOSURE_TIME, 12345)},
     {0x00, 0x2C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x0B, 0x05, 0x00, 0x00, 0x00},
     {{0x4E, 0x05}}, PARAM_MAX_EXPOSURE_TIME,
     "DEBUG:optad:main_loop:slow_shutter - Going to send Slow Shutter 60Hz=0x05\n",
     "ERROR:optad:main_loop:slow_shutter_60hz - Received an invalid parameter:12345 Using the default mode 1/30=0x05\n"},
    {"metering center", 20, {text(PARAM_EXPOSURE_WINDOW, "center")},
     {0x00, 0x22, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x06, 0x00, 0x00, 0x00, 0x00},
     {{0x41, 0x00}}, PARAM_EXPOSURE_WINDOW,
     "DEBUG:optad:main_loop:metering - Going to send Metering Mode=0x00 and string=center\n",
     nullptr},
    {"metering full", 20, {text(PARAM_EXPOSURE_WINDOW, "full")},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x06, 0x01, 0x00, 0x00, 0x00},
     {{0x41, 0x01}}, PARAM_EXPOSURE_WINDOW,
     "DEBUG:optad:main_loop:metering - Going to send Metering Mode=0x01 and string=full\n",
     nullptr},
    {"metering spot", 20, {text(PARAM_EXPOSURE_WINDOW, "spot")},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x06, 0x02, 0x00, 0x00, 0x00},
     {{0x41, 0x02}}, PARAM_EXPOSURE_WINDOW,
     "DEBUG:optad:main_loop:metering - Going to send Metering Mode=0x02 and string=spot\n",
     nullptr},
    {"metering custom", 20, {text(PARAM_EXPOSURE_WINDOW, "custom")},
     {0x00, 0x25, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x06, 0x03, 0x00, 0x00, 0x00},
     {{0x41, 0x03}}, PARAM_EXPOSURE_WINDOW,
     "DEBUG:optad:main_loop:metering - Going to send Metering Mode=0x03 and string=custom\n",
     nullptr},
    {"metering Center", 20, {text(PARAM_EXPOSURE_WINDOW, "Center")},
     {0x00, 0x22, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x06, 0x00, 0x00, 0x00, 0x00},
     {{0x41, 0x00}}, PARAM_EXPOSURE_WINDOW,
     "DEBUG:optad:main_loop:metering - Going to send Metering Mode=0x00 and string=Center\n",
     "ERROR:optad:main_loop:metering - Received an invalid parameter. Using the default mode center=0x00\n"},
    {"exposure window position default", 21, {number(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP, 3333), number(PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM, 6666), number(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT, 3333), number(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT, 6666)},
     {0x00, 0xD9, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x03, 0x11, 0x55, 0x55, 0x00, 0x00},
     {{0x56, 0x55}, {0x57, 0x55}}, PARAM_CUSTOM_EXPOSURE_WINDOW_TOP,
     "DEBUG:optad:main_loop:exposure_window_position - Going to send Exposure Window Position=0x55,0x55\n",
     nullptr},
    {"exposure window size default", 22, {number(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP, 3333), number(PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM, 6666), number(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT, 3333), number(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT, 6666)},
     {0x00, 0xDC, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x03, 0x12, 0x56, 0x56, 0x00, 0x00},
     {{0x5C, 0x56}, {0x5D, 0x56}}, PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT,
     "DEBUG:optad:main_loop:exposure_window_size - Going to send Focus Window size=0x56,0x56\n",
     nullptr},
    {"exposure window position whole image", 21, {number(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP, 0), number(PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM, 9999), number(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT, 0), number(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT, 9999)},
     {0x00, 0x45, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x03, 0x11, 0x0B, 0x0B, 0x00, 0x00},
     {{0x56, 0x0B}, {0x57, 0x0B}}, PARAM_CUSTOM_EXPOSURE_WINDOW_TOP,
     "DEBUG:optad:main_loop:exposure_window_position - Going to send Exposure Window Position=0x0B,0x0B\n",
     nullptr},
    {"exposure window size whole image", 22, {number(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP, 0), number(PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM, 9999), number(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT, 0), number(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT, 9999)},
     {0x01, 0xFC, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x03, 0x12, 0xE6, 0xE6, 0x00, 0x00},
     {{0x5C, 0xE6}, {0x5D, 0xE6}}, PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT,
     "DEBUG:optad:main_loop:exposure_window_size - Going to send Focus Window size=0xE6,0xE6\n",
     nullptr},
    {"exposure window position small corner", 21, {number(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP, 9000), number(PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM, 9100), number(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT, 0), number(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT, 100)},
     {0x01, 0x14, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x03, 0x11, 0x0B, 0xDA, 0x00, 0x00},
     {{0x56, 0x0B}, {0x57, 0xDA}}, PARAM_CUSTOM_EXPOSURE_WINDOW_TOP,
     "DEBUG:optad:main_loop:exposure_window_position - Going to send Exposure Window Position=0x0B,0xDA\n",
     nullptr},
    {"exposure window size small corner", 22, {number(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP, 9000), number(PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM, 9100), number(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT, 0), number(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT, 100)},
     {0x00, 0x64, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x03, 0x12, 0x1A, 0x1A, 0x00, 0x00},
     {{0x5C, 0x1A}, {0x5D, 0x1A}}, PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT,
     "DEBUG:optad:main_loop:exposure_window_size - Going to send Focus Window size=0x1A,0x1A\n",
     nullptr},
    {"max gain 60", 23, {number(PARAM_MAX_GAIN, 60)},
     {0x00, 0x2D, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x07, 0x0A, 0x00, 0x00, 0x00},
     {{0x4F, 0x0A}}, PARAM_MAX_GAIN,
     "DEBUG:optad:main_loop:AGC - Going to send AGC Limit=0x0A\n",
     nullptr},
    {"max gain 65", 23, {number(PARAM_MAX_GAIN, 65)},
     {0x00, 0x2D, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x07, 0x0A, 0x00, 0x00, 0x00},
     {{0x4F, 0x0A}}, PARAM_MAX_GAIN,
     "DEBUG:optad:main_loop:AGC - Going to send AGC Limit=0x0A\n",
     nullptr},
    {"max gain 66", 23, {number(PARAM_MAX_GAIN, 66)},
     {0x00, 0x2D, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x07, 0x0A, 0x00, 0x00, 0x00},
     {{0x4F, 0x0A}}, PARAM_MAX_GAIN,
     "DEBUG:optad:main_loop:AGC - Going to send AGC Limit=0x0A\n",
     nullptr},
    {"max gain 100", 23, {number(PARAM_MAX_GAIN, 100)},
     {0x00, 0x2D, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x07, 0x0A, 0x00, 0x00, 0x00},
     {{0x4F, 0x0A}}, PARAM_MAX_GAIN,
     "DEBUG:optad:main_loop:AGC - Going to send AGC Limit=0x0A\n",
     nullptr},
    {"max gain 59", 23, {number(PARAM_MAX_GAIN, 59)},
     {0x00, 0x2C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x07, 0x09, 0x00, 0x00, 0x00},
     {{0x4F, 0x09}}, PARAM_MAX_GAIN,
     "DEBUG:optad:main_loop:AGC - Going to send AGC Limit=0x09\n",
     nullptr},
    {"max gain 0", 23, {number(PARAM_MAX_GAIN, 0)},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x07, 0x00, 0x00, 0x00, 0x00},
     {{0x4F, 0x00}}, PARAM_MAX_GAIN,
     "DEBUG:optad:main_loop:AGC - Going to send AGC Limit=0x00\n",
     nullptr},
    {"max gain 6", 23, {number(PARAM_MAX_GAIN, 6)},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x07, 0x01, 0x00, 0x00, 0x00},
     {{0x4F, 0x01}}, PARAM_MAX_GAIN,
     "DEBUG:optad:main_loop:AGC - Going to send AGC Limit=0x01\n",
     nullptr},
    {"max gain 11", 23, {number(PARAM_MAX_GAIN, 11)},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x07, 0x01, 0x00, 0x00, 0x00},
     {{0x4F, 0x01}}, PARAM_MAX_GAIN,
     "DEBUG:optad:main_loop:AGC - Going to send AGC Limit=0x01\n",
     nullptr},
    {"max gain 12", 23, {number(PARAM_MAX_GAIN, 12)},
     {0x00, 0x25, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x07, 0x02, 0x00, 0x00, 0x00},
     {{0x4F, 0x02}}, PARAM_MAX_GAIN,
     "DEBUG:optad:main_loop:AGC - Going to send AGC Limit=0x02\n",
     nullptr},
    {"white balance auto", 24, {text(PARAM_WHITE_BALANCE, "auto")},
     {0x00, 0x1D, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},
     {{0x70, 0x00}}, PARAM_WHITE_BALANCE,
     "DEBUG:optad:main_loop:wb_mode - Going to send White Balance Mode=0x00 and string=auto\n",
     nullptr},
    {"white balance manual", 24, {text(PARAM_WHITE_BALANCE, "manual")},
     {0x00, 0x1F, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00, 0x00},
     {{0x70, 0x02}}, PARAM_WHITE_BALANCE,
     "DEBUG:optad:main_loop:wb_mode - Going to send White Balance Mode=0x02 and string=manual\n",
     nullptr},
    {"white balance oneshot", 24, {text(PARAM_WHITE_BALANCE, "oneshot")},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x04, 0x00, 0x03, 0x00, 0x00, 0x00},
     {{0x70, 0x03}}, PARAM_WHITE_BALANCE,
     "DEBUG:optad:main_loop:wb_mode - Going to send White Balance Mode=0x03 and string=oneshot\n",
     nullptr},
    {"white balance auto_outdoor", 24, {text(PARAM_WHITE_BALANCE, "auto_outdoor")},
     {0x00, 0x1D, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},
     {{0x70, 0x00}}, PARAM_WHITE_BALANCE,
     "DEBUG:optad:main_loop:wb_mode - Going to send White Balance Mode=0x00 and string=auto_outdoor\n",
     nullptr},
    {"white balance sodium", 24, {text(PARAM_WHITE_BALANCE, "sodium")},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x04, 0x00, 0x04, 0x00, 0x00, 0x00},
     {{0x70, 0x04}}, PARAM_WHITE_BALANCE,
     "DEBUG:optad:main_loop:wb_mode - Going to send White Balance Mode=0x04 and string=sodium\n",
     nullptr},
    {"white balance mercury", 24, {text(PARAM_WHITE_BALANCE, "mercury")},
     {0x00, 0x26, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x04, 0x00, 0x09, 0x00, 0x00, 0x00},
     {{0x70, 0x09}}, PARAM_WHITE_BALANCE,
     "DEBUG:optad:main_loop:wb_mode - Going to send White Balance Mode=0x09 and string=mercury\n",
     nullptr},
    {"white balance fixed_outdoor1", 24, {text(PARAM_WHITE_BALANCE, "fixed_outdoor1")},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x04, 0x00, 0x07, 0x00, 0x00, 0x00},
     {{0x70, 0x07}}, PARAM_WHITE_BALANCE,
     "DEBUG:optad:main_loop:wb_mode - Going to send White Balance Mode=0x07 and string=fixed_outdoor1\n",
     nullptr},
    {"white balance fixed_outdoor2", 24, {text(PARAM_WHITE_BALANCE, "fixed_outdoor2")},
     {0x00, 0x25, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x04, 0x00, 0x08, 0x00, 0x00, 0x00},
     {{0x70, 0x08}}, PARAM_WHITE_BALANCE,
     "DEBUG:optad:main_loop:wb_mode - Going to send White Balance Mode=0x08 and string=fixed_outdoor2\n",
     nullptr},
    {"white balance fixed_indoor", 24, {text(PARAM_WHITE_BALANCE, "fixed_indoor")},
     {0x00, 0x22, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x04, 0x00, 0x05, 0x00, 0x00, 0x00},
     {{0x70, 0x05}}, PARAM_WHITE_BALANCE,
     "DEBUG:optad:main_loop:wb_mode - Going to send White Balance Mode=0x05 and string=fixed_indoor\n",
     nullptr},
    {"white balance fixed_fluor1", 24, {text(PARAM_WHITE_BALANCE, "fixed_fluor1")},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x04, 0x00, 0x07, 0x00, 0x00, 0x00},
     {{0x70, 0x07}}, PARAM_WHITE_BALANCE,
     "DEBUG:optad:main_loop:wb_mode - Going to send White Balance Mode=0x07 and string=fixed_fluor1\n",
     nullptr},
    {"white balance fixed_fluor2", 24, {text(PARAM_WHITE_BALANCE, "fixed_fluor2")},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x04, 0x00, 0x06, 0x00, 0x00, 0x00},
     {{0x70, 0x06}}, PARAM_WHITE_BALANCE,
     "DEBUG:optad:main_loop:wb_mode - Going to send White Balance Mode=0x06 and string=fixed_fluor2\n",
     nullptr},
    {"white balance daylight", 24, {text(PARAM_WHITE_BALANCE, "daylight")},
     {0x00, 0x1D, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},
     {{0x70, 0x00}}, PARAM_WHITE_BALANCE,
     "DEBUG:optad:main_loop:wb_mode - Going to send White Balance Mode=0x00 and string=daylight\n",
     "ERROR:optad:main_loop:wb_mode - Received an invalid parameter. Using the default mode auto=0x00\n"},
    {"white balance manual yes", 25, {text(PARAM_WHITE_BALANCE_MANUAL, "yes")},
     {0x00, 0x1F, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00, 0x00},
     {{0x70, 0x02}}, PARAM_WHITE_BALANCE_MANUAL,
     "DEBUG:optad:main_loop:wb_man - Going to send White Balance Mode=0x02 and string=yes\n",
     nullptr},
    {"rb gain 255 63", 26, {number(PARAM_WHITE_BALANCE_MANUAL_R, 255), number(PARAM_WHITE_BALANCE_MANUAL_B, 63)},
     {0x02, 0x23, 0x00, 0x10, 0x00, 0x10, 0x00, 0x08, 0x07, 0x00, 0x04, 0x02, 0x03, 0xFF, 0x00, 0xFC},
     {{0x6C, 0xFF}, {0x6D, 0x03}, {0x6E, 0xFC}, {0x6F, 0x00}}, PARAM_WHITE_BALANCE_MANUAL_R,
     "DEBUG:optad:main_loop:rb_gain - Going to send RGain=0x03FF and BGain=0x00FC\n",
     nullptr},
    {"rb gain 63 57", 26, {number(PARAM_WHITE_BALANCE_MANUAL_R, 63), number(PARAM_WHITE_BALANCE_MANUAL_B, 57)},
     {0x02, 0x05, 0x00, 0x10, 0x00, 0x10, 0x00, 0x08, 0x07, 0x00, 0x04, 0x02, 0x00, 0xFC, 0x00, 0xE4},
     {{0x6C, 0xFC}, {0x6D, 0x00}, {0x6E, 0xE4}, {0x6F, 0x00}}, PARAM_WHITE_BALANCE_MANUAL_R,
     "DEBUG:optad:main_loop:rb_gain - Going to send RGain=0x00FC and BGain=0x00E4\n",
     nullptr},
    {"rb gain 0 255", 26, {number(PARAM_WHITE_BALANCE_MANUAL_R, 0), number(PARAM_WHITE_BALANCE_MANUAL_B, 255)},
     {0x01, 0x27, 0x00, 0x10, 0x00, 0x10, 0x00, 0x08, 0x07, 0x00, 0x04, 0x02, 0x00, 0x00, 0x03, 0xFF},
     {{0x6C, 0x00}, {0x6D, 0x00}, {0x6E, 0xFF}, {0x6F, 0x03}}, PARAM_WHITE_BALANCE_MANUAL_R,
     "DEBUG:optad:main_loop:rb_gain - Going to send RGain=0x0000 and BGain=0x03FF\n",
     nullptr},
    {"rb gain 1 128", 26, {number(PARAM_WHITE_BALANCE_MANUAL_R, 1), number(PARAM_WHITE_BALANCE_MANUAL_B, 128)},
     {0x00, 0x2C, 0x00, 0x10, 0x00, 0x10, 0x00, 0x08, 0x07, 0x00, 0x04, 0x02, 0x00, 0x04, 0x02, 0x01},
     {{0x6C, 0x04}, {0x6D, 0x00}, {0x6E, 0x01}, {0x6F, 0x02}}, PARAM_WHITE_BALANCE_MANUAL_R,
     "DEBUG:optad:main_loop:rb_gain - Going to send RGain=0x0004 and BGain=0x0201\n",
     nullptr},
    {"sharpness 40", 27, {number(PARAM_SHARPNESS, 40)},
     {0x00, 0x22, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x00, 0x02, 0x00, 0x00, 0x00},
     {{0x80, 0x02}}, PARAM_SHARPNESS,
     "DEBUG:optad:main_loop:sharpness - Going to send Sharpness=0x02\n",
     nullptr},
    {"sharpness 100", 27, {number(PARAM_SHARPNESS, 100)},
     {0x00, 0x26, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x00, 0x06, 0x00, 0x00, 0x00},
     {{0x80, 0x06}}, PARAM_SHARPNESS,
     "DEBUG:optad:main_loop:sharpness - Going to send Sharpness=0x06\n",
     nullptr},
    {"sharpness 50", 27, {number(PARAM_SHARPNESS, 50)},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x00, 0x03, 0x00, 0x00, 0x00},
     {{0x80, 0x03}}, PARAM_SHARPNESS,
     "DEBUG:optad:main_loop:sharpness - Going to send Sharpness=0x03\n",
     nullptr},
    {"sharpness 0", 27, {number(PARAM_SHARPNESS, 0)},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00},
     {{0x80, 0x00}}, PARAM_SHARPNESS,
     "DEBUG:optad:main_loop:sharpness - Going to send Sharpness=0x00\n",
     nullptr},
    {"sharpness 16", 27, {number(PARAM_SHARPNESS, 16)},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00},
     {{0x80, 0x00}}, PARAM_SHARPNESS,
     "DEBUG:optad:main_loop:sharpness - Going to send Sharpness=0x00\n",
     nullptr},
    {"sharpness 17", 27, {number(PARAM_SHARPNESS, 17)},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x00, 0x01, 0x00, 0x00, 0x00},
     {{0x80, 0x01}}, PARAM_SHARPNESS,
     "DEBUG:optad:main_loop:sharpness - Going to send Sharpness=0x01\n",
     nullptr},
    {"noise reduction 50", 28, {number(PARAM_NOISE_REDUCTION_TUNING, 50)},
     {0x00, 0x22, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x01, 0x01, 0x00, 0x00, 0x00},
     {{0x84, 0x01}}, PARAM_NOISE_REDUCTION_TUNING,
     "DEBUG:optad:main_loop:NR - Going to send Noise Reduction=0x01\n",
     nullptr},
    {"noise reduction 100", 28, {number(PARAM_NOISE_REDUCTION_TUNING, 100)},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x01, 0x02, 0x00, 0x00, 0x00},
     {{0x84, 0x02}}, PARAM_NOISE_REDUCTION_TUNING,
     "DEBUG:optad:main_loop:NR - Going to send Noise Reduction=0x02\n",
     nullptr},
    {"noise reduction 49", 28, {number(PARAM_NOISE_REDUCTION_TUNING, 49)},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x01, 0x00, 0x00, 0x00, 0x00},
     {{0x84, 0x00}}, PARAM_NOISE_REDUCTION_TUNING,
     "DEBUG:optad:main_loop:NR - Going to send Noise Reduction=0x00\n",
     nullptr},
    {"noise reduction 255", 28, {number(PARAM_NOISE_REDUCTION_TUNING, 255)},
     {0x00, 0x26, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x01, 0x05, 0x00, 0x00, 0x00},
     {{0x84, 0x05}}, PARAM_NOISE_REDUCTION_TUNING,
     "DEBUG:optad:main_loop:NR - Going to send Noise Reduction=0x05\n",
     nullptr},
    {"color level 50", 29, {number(PARAM_COLOR_LEVEL, 50)},
     {0x00, 0x26, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x03, 0x03, 0x00, 0x00, 0x00},
     {{0x82, 0x03}}, PARAM_COLOR_LEVEL,
     "DEBUG:optad:main_loop:color_level - Going to send Color Level=0x03\n",
     nullptr},
    {"color level 100", 29, {number(PARAM_COLOR_LEVEL, 100)},
     {0x00, 0x29, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x03, 0x06, 0x00, 0x00, 0x00},
     {{0x82, 0x06}}, PARAM_COLOR_LEVEL,
     "DEBUG:optad:main_loop:color_level - Going to send Color Level=0x06\n",
     nullptr},
    {"color level 33", 29, {number(PARAM_COLOR_LEVEL, 33)},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x03, 0x01, 0x00, 0x00, 0x00},
     {{0x82, 0x01}}, PARAM_COLOR_LEVEL,
     "DEBUG:optad:main_loop:color_level - Going to send Color Level=0x01\n",
     nullptr},
    {"capture mode 1", 30, {number(PARAM_CAPTURE_MODE, 1)},
     {0x00, 0xA3, 0x00, 0x0F, 0x00, 0x10, 0x00, 0x07, 0x06, 0x00, 0x08, 0x04, 0x00, 0x72, 0x08, 0x00},
     {{0x16, 0x72}, {0x17, 0x08}}, PARAM_CAPTURE_MODE,
     "DEBUG:optad:main_loop:resolution - Going to send Resolution=0x72 and Frame rate=0x08\n",
     nullptr},
    {"capture mode 2", 30, {number(PARAM_CAPTURE_MODE, 2)},
     {0x00, 0xA2, 0x00, 0x0F, 0x00, 0x10, 0x00, 0x07, 0x06, 0x00, 0x08, 0x04, 0x00, 0x60, 0x19, 0x00},
     {{0x16, 0x60}, {0x17, 0x19}}, PARAM_CAPTURE_MODE,
     "DEBUG:optad:main_loop:resolution - Going to send Resolution=0x60 and Frame rate=0x19\n",
     nullptr},
    {"capture mode 3", 30, {number(PARAM_CAPTURE_MODE, 3)},
     {0x00, 0x99, 0x00, 0x0F, 0x00, 0x10, 0x00, 0x07, 0x06, 0x00, 0x08, 0x04, 0x00, 0x61, 0x0F, 0x00},
     {{0x16, 0x61}, {0x17, 0x0F}}, PARAM_CAPTURE_MODE,
     "DEBUG:optad:main_loop:resolution - Going to send Resolution=0x61 and Frame rate=0x0F\n",
     nullptr},
    {"capture mode 0", 30, {number(PARAM_CAPTURE_MODE, 0)},
     {0x00, 0xA3, 0x00, 0x0F, 0x00, 0x10, 0x00, 0x07, 0x06, 0x00, 0x08, 0x04, 0x00, 0x72, 0x08, 0x00},
     {{0x16, 0x72}, {0x17, 0x08}}, PARAM_CAPTURE_MODE,
     "DEBUG:optad:main_loop:resolution - Going to send Resolution=0x72 and Frame rate=0x08\n",
     nullptr},
    {"capture mode 4", 30, {number(PARAM_CAPTURE_MODE, 4)},
     {0x00, 0xA3, 0x00, 0x0F, 0x00, 0x10, 0x00, 0x07, 0x06, 0x00, 0x08, 0x04, 0x00, 0x72, 0x08, 0x00},
     {{0x16, 0x72}, {0x17, 0x08}}, PARAM_CAPTURE_MODE,
     "DEBUG:optad:main_loop:resolution - Going to send Resolution=0x72 and Frame rate=0x08\n",
     nullptr},
    {"focus mode 1", 31, {number(PARAM_FOCUS_MODE, 1)},
     {0x00, 0x1B, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00},
     {{0x20, 0x01}}, PARAM_FOCUS_MODE,
     "DEBUG:optad:main_loop:focus - Going to send Focus Mode=0x01\n",
     nullptr},
    {"focus mode 5", 31, {number(PARAM_FOCUS_MODE, 5)},
     {0x00, 0x1F, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00},
     {{0x20, 0x05}}, PARAM_FOCUS_MODE,
     "DEBUG:optad:main_loop:focus - Going to send Focus Mode=0x05\n",
     nullptr},
    {"focus mode 3", 31, {number(PARAM_FOCUS_MODE, 3)},
     {0x00, 0x1D, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00},
     {{0x20, 0x01}}, PARAM_FOCUS_MODE,
     "DEBUG:optad:main_loop:focus - Going to send Focus Mode=0x03\n",
     nullptr},
    {"focus mode 261", 31, {number(PARAM_FOCUS_MODE, 261)},
     {0x00, 0x1F, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00},
     {{0x20, 0x01}}, PARAM_FOCUS_MODE,
     "DEBUG:optad:main_loop:focus - Going to send Focus Mode=0x05\n",
     nullptr},
    {"focus window default", 32, {text(PARAM_FOCUS_W0, "0.45,0.45:0.555,0.45:0.555,0.555:0.45,0.555")},
     {0x01, 0x07, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x05, 0x73, 0x73, 0x00, 0x00},
     {{0x2B, 0x73}, {0x2C, 0x73}}, PARAM_FOCUS_W0,
     nullptr,
     nullptr},
    {"focus window size default", 33, {text(PARAM_FOCUS_W0, "0.45,0.45:0.555,0.45:0.555,0.555:0.45,0.555")},
     {0x00, 0x5B, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x09, 0x1B, 0x1B, 0x00, 0x00},
     {{0x2D, 0x1B}, {0x2E, 0x1B}}, PARAM_FOCUS_W0,
     nullptr,
     nullptr},
    {"focus window whole image", 32, {text(PARAM_FOCUS_W0, "0,0:1,0:1,1:0,1")},
     {0x00, 0x37, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x05, 0x0B, 0x0B, 0x00, 0x00},
     {{0x2B, 0x0B}, {0x2C, 0x0B}}, PARAM_FOCUS_W0,
     nullptr,
     nullptr},
    {"focus window size whole image", 33, {text(PARAM_FOCUS_W0, "0,0:1,0:1,1:0,1")},
     {0x01, 0x8B, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x09, 0xB3, 0xB3, 0x00, 0x00},
     {{0x2D, 0xB3}, {0x2E, 0xB3}}, PARAM_FOCUS_W0,
     nullptr,
     nullptr},
    {"focus window far edge beyond 244", 32, {text(PARAM_FOCUS_W0, "0.78125,0.9:0.9765625,0.9:0.9765625,0.98:0.78125,0.98")},
     {0x01, 0xC3, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x05, 0xC8, 0xDA, 0x00, 0x00},
     {{0x2B, 0xC8}, {0x2C, 0xDA}}, PARAM_FOCUS_W0,
     nullptr,
     nullptr},
    {"focus window size far edge beyond 244", 33, {text(PARAM_FOCUS_W0, "0.78125,0.9:0.9765625,0.9:0.9765625,0.98:0.78125,0.98")},
     {0x00, 0x6B, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x09, 0x2C, 0x1A, 0x00, 0x00},
     {{0x2D, 0x2C}, {0x2E, 0x1A}}, PARAM_FOCUS_W0,
     nullptr,
     nullptr},
    {"focus window tiny", 32, {text(PARAM_FOCUS_W0, "0.5,0.5:0.55,0.5:0.55,0.55:0.5,0.55")},
     {0x01, 0x21, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x05, 0x80, 0x80, 0x00, 0x00},
     {{0x2B, 0x80}, {0x2C, 0x80}}, PARAM_FOCUS_W0,
     nullptr,
     nullptr},
    {"focus window size tiny", 33, {text(PARAM_FOCUS_W0, "0.5,0.5:0.55,0.5:0.55,0.55:0.5,0.55")},
     {0x00, 0x59, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x09, 0x1A, 0x1A, 0x00, 0x00},
     {{0x2D, 0x1A}, {0x2E, 0x1A}}, PARAM_FOCUS_W0,
     nullptr,
     nullptr},
    {"focus drive +minstep", 34, {text(PARAM_FOCUS_DRIVE, "+minstep")},
     {0x00, 0x23, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x06, 0x00, 0x01, 0x00, 0x00},
     {}, PARAM_FOCUS_DRIVE,
     "DEBUG:optad:main_loop:focus - Going to send Focus Drive=0x000x01\n",
     nullptr},
    {"focus drive +bigstep", 34, {text(PARAM_FOCUS_DRIVE, "+bigstep")},
     {0x00, 0x2A, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x06, 0x00, 0x08, 0x00, 0x00},
     {}, PARAM_FOCUS_DRIVE,
     "DEBUG:optad:main_loop:focus - Going to send Focus Drive=0x000x08\n",
     nullptr},
    {"focus drive -minstep", 34, {text(PARAM_FOCUS_DRIVE, "-minstep")},
     {0x02, 0x20, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x06, 0xFF, 0xFF, 0x00, 0x00},
     {}, PARAM_FOCUS_DRIVE,
     "DEBUG:optad:main_loop:focus - Going to send Focus Drive=0xFF0xFF\n",
     nullptr},
    {"focus drive -bigstep", 34, {text(PARAM_FOCUS_DRIVE, "-bigstep")},
     {0x02, 0x19, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x06, 0xFF, 0xF8, 0x00, 0x00},
     {}, PARAM_FOCUS_DRIVE,
     "DEBUG:optad:main_loop:focus - Going to send Focus Drive=0xFF0xF8\n",
     nullptr},
    {"stabilizer on", 35, {text(PARAM_STABILIZER, "on")},
     {0x00, 0x29, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x08, 0x07, 0x01, 0x00, 0x00, 0x00},
     {{0x67, 0x01}}, PARAM_STABILIZER,
     "DEBUG:optad:main_loop:d/n - Going to send Image Stabilizer Mode=0x01 and string=on\n",
     nullptr},
    {"stabilizer off", 35, {text(PARAM_STABILIZER, "off")},
     {0x00, 0x28, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x08, 0x07, 0x00, 0x00, 0x00, 0x00},
     {{0x67, 0x00}}, PARAM_STABILIZER,
     "DEBUG:optad:main_loop:d/n - Going to send Image Stabilizer Mode=0x00 and string=off\n",
     nullptr},
    {"stabilizer auto", 35, {text(PARAM_STABILIZER, "auto")},
     {0x00, 0x28, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x08, 0x07, 0x00, 0x00, 0x00, 0x00},
     {{0x67, 0x00}}, PARAM_STABILIZER,
     "DEBUG:optad:main_loop:d/n - Going to send Image Stabilizer Mode=0x00 and string=auto\n",
     "ERROR:optad:main_loop:d/n - Received an invalid parameter. Using the default mode off=0x00\n"},
    {"auto day night auto", 36, {text(PARAM_IR_CUT_FILTER, "auto")},
     {0x00, 0x1F, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00},
     {{0x60, 0x01}}, PARAM_IR_CUT_FILTER,
     "DEBUG:optad:main_loop:auto_d/n - Going to send Auto Day Night Mode=0x01 and string=auto\n",
     nullptr},
    {"auto day night yes", 36, {text(PARAM_IR_CUT_FILTER, "yes")},
     {0x00, 0x1E, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00},
     {{0x60, 0x00}}, PARAM_IR_CUT_FILTER,
     "DEBUG:optad:main_loop:auto_d/n - Going to send Auto Day Night Mode=0x00 and string=yes\n",
     nullptr},
    {"auto day night no", 36, {text(PARAM_IR_CUT_FILTER, "no")},
     {0x00, 0x1E, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00},
     {{0x60, 0x00}}, PARAM_IR_CUT_FILTER,
     "DEBUG:optad:main_loop:auto_d/n - Going to send Auto Day Night Mode=0x00 and string=no\n",
     nullptr},
    {"auto day night maybe", 36, {text(PARAM_IR_CUT_FILTER, "maybe")},
     {0x00, 0x1E, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00},
     {{0x60, 0x00}}, PARAM_IR_CUT_FILTER,
     "DEBUG:optad:main_loop:auto_d/n - Going to send Auto Day Night Mode=0x00 and string=maybe\n",
     "ERROR:optad:main_loop:auto_d/n - Received an invalid parameter. Using the default mode manual=0x00\n"},
    {"day night yes", 37, {text(PARAM_IR_CUT_FILTER, "yes")},
     {0x00, 0x1F, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00},
     {{0x66, 0x00}}, PARAM_IR_CUT_FILTER,
     "DEBUG:optad:main_loop:d/n - Going to send Day Night Mode=0x00 and string=yes\n",
     nullptr},
    {"day night no", 37, {text(PARAM_IR_CUT_FILTER, "no")},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x01, 0x01, 0x00, 0x00, 0x00},
     {{0x66, 0x01}}, PARAM_IR_CUT_FILTER,
     "DEBUG:optad:main_loop:d/n - Going to send Day Night Mode=0x01 and string=no\n",
     nullptr},
    {"day night maybe", 37, {text(PARAM_IR_CUT_FILTER, "maybe")},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x01, 0x01, 0x00, 0x00, 0x00},
     {{0x66, 0x01}}, PARAM_IR_CUT_FILTER,
     "DEBUG:optad:main_loop:d/n - Going to send Day Night Mode=0x01 and string=maybe\n",
     "ERROR:optad:main_loop:d/n - Received an invalid parameter value: maybe. Using the default mode: 0x01\n"},
    {"shift level 20", 38, {number(PARAM_SHIFT_LEVEL, 20)},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x02, 0x04, 0x00, 0x00, 0x00},
     {{0x62, 0x04}}, PARAM_SHIFT_LEVEL,
     "DEBUG:optad:main_loop:sw_brightness - Going to send Switching Brightness=0x04\n",
     nullptr},
    {"shift level 21", 38, {number(PARAM_SHIFT_LEVEL, 21)},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x02, 0x03, 0x00, 0x00, 0x00},
     {{0x62, 0x03}}, PARAM_SHIFT_LEVEL,
     "DEBUG:optad:main_loop:sw_brightness - Going to send Switching Brightness=0x03\n",
     nullptr},
    {"shift level 40", 38, {number(PARAM_SHIFT_LEVEL, 40)},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x02, 0x03, 0x00, 0x00, 0x00},
     {{0x62, 0x03}}, PARAM_SHIFT_LEVEL,
     "DEBUG:optad:main_loop:sw_brightness - Going to send Switching Brightness=0x03\n",
     nullptr},
    {"shift level 41", 38, {number(PARAM_SHIFT_LEVEL, 41)},
     {0x00, 0x22, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x02, 0x02, 0x00, 0x00, 0x00},
     {{0x62, 0x02}}, PARAM_SHIFT_LEVEL,
     "DEBUG:optad:main_loop:sw_brightness - Going to send Switching Brightness=0x02\n",
     nullptr},
    {"shift level 60", 38, {number(PARAM_SHIFT_LEVEL, 60)},
     {0x00, 0x22, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x02, 0x02, 0x00, 0x00, 0x00},
     {{0x62, 0x02}}, PARAM_SHIFT_LEVEL,
     "DEBUG:optad:main_loop:sw_brightness - Going to send Switching Brightness=0x02\n",
     nullptr},
    {"shift level 61", 38, {number(PARAM_SHIFT_LEVEL, 61)},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x02, 0x01, 0x00, 0x00, 0x00},
     {{0x62, 0x01}}, PARAM_SHIFT_LEVEL,
     "DEBUG:optad:main_loop:sw_brightness - Going to send Switching Brightness=0x01\n",
     nullptr},
    {"shift level 80", 38, {number(PARAM_SHIFT_LEVEL, 80)},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x02, 0x01, 0x00, 0x00, 0x00},
     {{0x62, 0x01}}, PARAM_SHIFT_LEVEL,
     "DEBUG:optad:main_loop:sw_brightness - Going to send Switching Brightness=0x01\n",
     nullptr},
    {"shift level 81", 38, {number(PARAM_SHIFT_LEVEL, 81)},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x02, 0x00, 0x00, 0x00, 0x00},
     {{0x62, 0x00}}, PARAM_SHIFT_LEVEL,
     "DEBUG:optad:main_loop:sw_brightness - Going to send Switching Brightness=0x00\n",
     nullptr},
    {"shift level 0", 38, {number(PARAM_SHIFT_LEVEL, 0)},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x02, 0x04, 0x00, 0x00, 0x00},
     {{0x62, 0x04}}, PARAM_SHIFT_LEVEL,
     "DEBUG:optad:main_loop:sw_brightness - Going to send Switching Brightness=0x04\n",
     nullptr},
    {"shift level 100", 38, {number(PARAM_SHIFT_LEVEL, 100)},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x02, 0x00, 0x00, 0x00, 0x00},
     {{0x62, 0x00}}, PARAM_SHIFT_LEVEL,
     "DEBUG:optad:main_loop:sw_brightness - Going to send Switching Brightness=0x00\n",
     nullptr},
    {"shift level -3", 38, {number(PARAM_SHIFT_LEVEL, -3)},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x02, 0x04, 0x00, 0x00, 0x00},
     {{0x62, 0x04}}, PARAM_SHIFT_LEVEL,
     "DEBUG:optad:main_loop:sw_brightness - Going to send Switching Brightness=0x04\n",
     nullptr},
    {"hysteresis 0", 39, {number(PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS, 0)},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x03, 0x00, 0x00, 0x00, 0x00},
     {{0x63, 0x00}}, PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS,
     "DEBUG:optad:main_loop:time_d/n - Going to send Time of Day Night Filter=0x00\n",
     nullptr},
    {"hysteresis 1", 39, {number(PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS, 1)},
     {0x00, 0x22, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x03, 0x01, 0x00, 0x00, 0x00},
     {{0x63, 0x01}}, PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS,
     "DEBUG:optad:main_loop:time_d/n - Going to send Time of Day Night Filter=0x01\n",
     nullptr},
    {"hysteresis 2", 39, {number(PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS, 2)},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x03, 0x02, 0x00, 0x00, 0x00},
     {{0x63, 0x02}}, PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS,
     "DEBUG:optad:main_loop:time_d/n - Going to send Time of Day Night Filter=0x02\n",
     nullptr},
    {"hysteresis 3", 39, {number(PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS, 3)},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x03, 0x03, 0x00, 0x00, 0x00},
     {{0x63, 0x03}}, PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS,
     "DEBUG:optad:main_loop:time_d/n - Going to send Time of Day Night Filter=0x03\n",
     nullptr},
    {"hysteresis 4", 39, {number(PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS, 4)},
     {0x00, 0x25, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x03, 0x04, 0x00, 0x00, 0x00},
     {{0x63, 0x04}}, PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS,
     "DEBUG:optad:main_loop:time_d/n - Going to send Time of Day Night Filter=0x04\n",
     nullptr},
    {"hysteresis 5", 39, {number(PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS, 5)},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x03, 0x02, 0x00, 0x00, 0x00},
     {{0x63, 0x02}}, PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS,
     "DEBUG:optad:main_loop:time_d/n - Going to send Time of Day Night Filter=0x02\n",
     "ERROR:optad:main_loop:time_day_night_filter - Received an invalid parameter:5 Using the default time=0x02\n"},
    {"hysteresis -2", 39, {number(PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS, -2)},
     {0x00, 0x23, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x05, 0x03, 0x02, 0x00, 0x00, 0x00},
     {{0x63, 0x02}}, PARAM_AUTO_IR_CUT_FILTER_HYSTERESIS,
     "DEBUG:optad:main_loop:time_d/n - Going to send Time of Day Night Filter=0x02\n",
     "ERROR:optad:main_loop:time_day_night_filter - Received an invalid parameter:-2 Using the default time=0x02\n"},
    {"sensor protector close", 40, {text(PARAM_SENSOR_PROTECTOR, "close")},
     {0x00, 0x2A, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x08, 0x09, 0x00, 0x00, 0x00, 0x00},
     {}, PARAM_SENSOR_PROTECTOR,
     "DEBUG:optad:main_loop:sunlight - Going to send Sunlight Protector=0x00\n",
     nullptr},
    {"sensor protector open", 40, {text(PARAM_SENSOR_PROTECTOR, "open")},
     {0x00, 0x2B, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x08, 0x09, 0x01, 0x00, 0x00, 0x00},
     {}, PARAM_SENSOR_PROTECTOR,
     "DEBUG:optad:main_loop:sunlight - Going to send Sunlight Protector=0x01\n",
     nullptr},
    {"rotation 0", 41, {number(PARAM_IMAGE_ROTATION, 0)},
     {0x00, 0x2B, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x08, 0x0A, 0x00, 0x00, 0x00, 0x00},
     {{0x9E, 0x00}}, PARAM_IMAGE_ROTATION,
     "DEBUG:optad:main_loop:set_notify_rotate_image - Going to send Notify Rotate Image=0x00\n",
     nullptr},
    {"rotation 1", 41, {number(PARAM_IMAGE_ROTATION, 1)},
     {0x00, 0x2C, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x08, 0x0A, 0x01, 0x00, 0x00, 0x00},
     {{0x9E, 0x01}}, PARAM_IMAGE_ROTATION,
     "DEBUG:optad:main_loop:set_notify_rotate_image - Going to send Notify Rotate Image=0x01\n",
     nullptr},
    {"rotation 180", 41, {number(PARAM_IMAGE_ROTATION, 180)},
     {0x00, 0xDF, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x08, 0x0A, 0xB4, 0x00, 0x00, 0x00},
     {{0x9E, 0xB4}}, PARAM_IMAGE_ROTATION,
     "DEBUG:optad:main_loop:set_notify_rotate_image - Going to send Notify Rotate Image=0xB4\n",
     nullptr},
    {"rotation 270", 41, {number(PARAM_IMAGE_ROTATION, 270)},
     {0x00, 0x39, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x08, 0x0A, 0x0E, 0x00, 0x00, 0x00},
     {{0x9E, 0x0E}}, PARAM_IMAGE_ROTATION,
     "DEBUG:optad:main_loop:set_notify_rotate_image - Going to send Notify Rotate Image=0x0E\n",
     nullptr},
    {"focus trace curve normal", 42, {text(PARAM_FOCUS_TRACE_CURVE, "normal")},
     {0x00, 0x23, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x07, 0x00, 0x00, 0x00, 0x00},
     {{0x2F, 0x00}}, PARAM_FOCUS_TRACE_CURVE,
     "DEBUG:optad:main_loop:d/n - Going to send IR Focus correction=0x00,0x00 and string=normal\n",
     nullptr},
    {"focus trace curve fluorescent", 42, {text(PARAM_FOCUS_TRACE_CURVE, "fluorescent")},
     {0x00, 0x24, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x07, 0x01, 0x00, 0x00, 0x00},
     {{0x2F, 0x00}}, PARAM_FOCUS_TRACE_CURVE,
     "DEBUG:optad:main_loop:d/n - Going to send IR Focus correction=0x01,0x00 and string=fluorescent\n",
     nullptr},
    {"focus trace curve 740nm", 42, {text(PARAM_FOCUS_TRACE_CURVE, "740nm")},
     {0x00, 0x26, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x07, 0x01, 0x02, 0x00, 0x00},
     {{0x2F, 0x20}}, PARAM_FOCUS_TRACE_CURVE,
     "DEBUG:optad:main_loop:d/n - Going to send IR Focus correction=0x01,0x02 and string=740nm\n",
     nullptr},
    {"focus trace curve 850nm", 42, {text(PARAM_FOCUS_TRACE_CURVE, "850nm")},
     {0x00, 0x27, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x07, 0x01, 0x03, 0x00, 0x00},
     {{0x2F, 0x30}}, PARAM_FOCUS_TRACE_CURVE,
     "DEBUG:optad:main_loop:d/n - Going to send IR Focus correction=0x01,0x03 and string=850nm\n",
     nullptr},
    {"focus trace curve 940nm", 42, {text(PARAM_FOCUS_TRACE_CURVE, "940nm")},
     {0x00, 0x28, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x07, 0x01, 0x04, 0x00, 0x00},
     {{0x2F, 0x40}}, PARAM_FOCUS_TRACE_CURVE,
     "DEBUG:optad:main_loop:d/n - Going to send IR Focus correction=0x01,0x04 and string=940nm\n",
     nullptr},
    {"focus trace curve 1050nm", 42, {text(PARAM_FOCUS_TRACE_CURVE, "1050nm")},
     {0x00, 0x23, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x07, 0x00, 0x00, 0x00, 0x00},
     {{0x2F, 0x00}}, PARAM_FOCUS_TRACE_CURVE,
     "DEBUG:optad:main_loop:d/n - Going to send IR Focus correction=0x00,0x00 and string=1050nm\n",
     "ERROR:optad:main_loop:d/n - Received an invalid parameter. Using the default mode disable=0x00\n"},
    {"wdr mode yes", 43, {text(PARAM_DYNAMIC_CONTRAST_ENABLED, "yes")},
     {0x00, 0x35, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x14, 0x01, 0x00, 0x00, 0x00},
     {{0x86, 0x01}}, PARAM_DYNAMIC_CONTRAST_ENABLED,
     "DEBUG:optad:main_loop:set_wdr_mode - Going to send WDR Mode=0x01\n",
     nullptr},
    {"wdr mode on", 43, {text(PARAM_DYNAMIC_CONTRAST_ENABLED, "on")},
     {0x00, 0x35, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x14, 0x01, 0x00, 0x00, 0x00},
     {{0x86, 0x01}}, PARAM_DYNAMIC_CONTRAST_ENABLED,
     "DEBUG:optad:main_loop:set_wdr_mode - Going to send WDR Mode=0x01\n",
     nullptr},
    {"wdr mode no", 43, {text(PARAM_DYNAMIC_CONTRAST_ENABLED, "no")},
     {0x00, 0x34, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x14, 0x00, 0x00, 0x00, 0x00},
     {{0x86, 0x00}}, PARAM_DYNAMIC_CONTRAST_ENABLED,
     "DEBUG:optad:main_loop:set_wdr_mode - Going to send WDR Mode=0x00\n",
     nullptr},
    {"wdr mode off", 43, {text(PARAM_DYNAMIC_CONTRAST_ENABLED, "off")},
     {0x00, 0x34, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x14, 0x00, 0x00, 0x00, 0x00},
     {{0x86, 0x00}}, PARAM_DYNAMIC_CONTRAST_ENABLED,
     "DEBUG:optad:main_loop:set_wdr_mode - Going to send WDR Mode=0x00\n",
     nullptr},
    {"wdr mode true", 43, {text(PARAM_DYNAMIC_CONTRAST_ENABLED, "true")},
     {0x00, 0x34, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x14, 0x00, 0x00, 0x00, 0x00},
     {{0x86, 0x00}}, PARAM_DYNAMIC_CONTRAST_ENABLED,
     "DEBUG:optad:main_loop:set_wdr_mode - Going to send WDR Mode=0x00\n",
     "ERROR:optad:main_loop:set_wdr_mode - Received an invalid parameter. Using the default mode off=0x00\n"},
    {"wdr level 4", 44, {number(PARAM_DYNAMIC_CONTRAST_LEVEL, 4)},
     {0x00, 0x39, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x15, 0x04, 0x00, 0x00, 0x00},
     {{0x87, 0x04}}, PARAM_DYNAMIC_CONTRAST_LEVEL,
     "DEBUG:optad:main_loop:set_wdr_level - Going to send WDR Level=0x04\n",
     nullptr},
    {"wdr level 0", 44, {number(PARAM_DYNAMIC_CONTRAST_LEVEL, 0)},
     {0x00, 0x35, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x15, 0x00, 0x00, 0x00, 0x00},
     {{0x87, 0x00}}, PARAM_DYNAMIC_CONTRAST_LEVEL,
     "DEBUG:optad:main_loop:set_wdr_level - Going to send WDR Level=0x00\n",
     nullptr},
    {"wdr level 300", 44, {number(PARAM_DYNAMIC_CONTRAST_LEVEL, 300)},
     {0x00, 0x61, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x07, 0x15, 0x2C, 0x00, 0x00, 0x00},
     {{0x87, 0x2C}}, PARAM_DYNAMIC_CONTRAST_LEVEL,
     "DEBUG:optad:main_loop:set_wdr_level - Going to send WDR Level=0x2C\n",
     nullptr},
    {"vignetting yes", 45, {text(PARAM_VIGNETTING_CORRECTION, "yes")},
     {0x00, 0x24, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00},
     {{0x8A, 0x01}}, PARAM_VIGNETTING_CORRECTION,
     "DEBUG:optad:main_loop:set_vignetting_correction - Going to send Vignetting Correction=0x00\n",
     nullptr},
    {"aberration yes", 46, {text(PARAM_ABERRATION_CORRECTION, "yes")},
     {0x00, 0x25, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x0B, 0x01, 0x00, 0x00, 0x00, 0x00},
     {{0x8B, 0x01}}, PARAM_ABERRATION_CORRECTION,
     "DEBUG:optad:main_loop:set_aberration_correction - Going to send Vignetting Correction=0x00\n",
     nullptr},
    {"vignetting no", 45, {text(PARAM_VIGNETTING_CORRECTION, "no")},
     {0x00, 0x25, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x0B, 0x00, 0x01, 0x00, 0x00, 0x00},
     {{0x8A, 0x00}}, PARAM_VIGNETTING_CORRECTION,
     "DEBUG:optad:main_loop:set_vignetting_correction - Going to send Vignetting Correction=0x01\n",
     nullptr},
    {"aberration no", 46, {text(PARAM_ABERRATION_CORRECTION, "no")},
     {0x00, 0x26, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x0B, 0x01, 0x01, 0x00, 0x00, 0x00},
     {{0x8B, 0x00}}, PARAM_ABERRATION_CORRECTION,
     "DEBUG:optad:main_loop:set_aberration_correction - Going to send Vignetting Correction=0x01\n",
     nullptr},
    {"vignetting YES", 45, {text(PARAM_VIGNETTING_CORRECTION, "YES")},
     {0x00, 0x25, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x0B, 0x00, 0x01, 0x00, 0x00, 0x00},
     {{0x8A, 0x00}}, PARAM_VIGNETTING_CORRECTION,
     "DEBUG:optad:main_loop:set_vignetting_correction - Going to send Vignetting Correction=0x01\n",
     nullptr},
    {"aberration YES", 46, {text(PARAM_ABERRATION_CORRECTION, "YES")},
     {0x00, 0x26, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x0B, 0x01, 0x01, 0x00, 0x00, 0x00},
     {{0x8B, 0x00}}, PARAM_ABERRATION_CORRECTION,
     "DEBUG:optad:main_loop:set_aberration_correction - Going to send Vignetting Correction=0x01\n",
     nullptr},
    {"exposure priority 0", 47, {number(PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL, 0)},
     {0x00, 0x21, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x00, 0x05, 0x00, 0x00, 0x00},
     {{0x40, 0x05}}, PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL,
     "DEBUG:optad:main_loop:set_onvif_exposure_priority_normal - Going to send Exposure Mode=0x05 and int=0\n",
     nullptr},
    {"exposure priority 100", 47, {number(PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL, 100)},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x00},
     {{0x40, 0x04}}, PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL,
     "DEBUG:optad:main_loop:set_onvif_exposure_priority_normal - Going to send Exposure Mode=0x04 and int=100\n",
     nullptr},
    {"exposure priority 1", 47, {number(PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL, 1)},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x00},
     {{0x40, 0x04}}, PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL,
     "DEBUG:optad:main_loop:set_onvif_exposure_priority_normal - Going to send Exposure Mode=0x04 and int=1\n",
     nullptr},
    {"exposure priority -3", 47, {number(PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL, -3)},
     {0x00, 0x20, 0x00, 0x0D, 0x00, 0x10, 0x00, 0x05, 0x04, 0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x00},
     {{0x40, 0x04}}, PARAM_ONVIF_EXPOSURE_PRIORITY_NORMAL,
     "DEBUG:optad:main_loop:set_onvif_exposure_priority_normal - Going to send Exposure Mode=0x04 and int=-3\n",
     nullptr},
};

class EncodersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_mkdir_with_parents(root.path("/etc/optad").c_str(), 0755);
        process_state_reset_for_tests();
        fresh_state();
    }
    void TearDown() override
    {
        param_reset_for_tests();
        process_state_reset_for_tests();
        set_preferred_day_night(nullptr);
        s_sdl = {};
        s_capture = capture_settings_initial();
    }

    // The state at a start of the daemon with the default configuration,
    // the buffers as the main loop leaves them before an encoder runs.
    void fresh_state()
    {
        param_reset_for_tests();
        param_init();
        s_sdl = test_limits;
        s_capture = capture_settings_initial();
        set_preferred_day_night(nullptr);
        daemon_state.same_capture_mode = 0;
        clear_buffers();
    }
    void clear_buffers()
    {
        std::memset(spi_send_buffer(), 0, SPI_BUFFER_SIZE);
        std::memset(spi_recv_buffer(), 0, SPI_BUFFER_SIZE);
        std::memset(scam_sts, UNTOUCHED, sizeof scam_sts);
    }
    void apply(const std::vector<setting> &settings)
    {
        for (const setting &s : settings) {
            int r = s.text != nullptr ? param_set_string_value(s.id, s.text) : param_set_int_value(s.id, s.number);
            ASSERT_NE(r, PARAM_SET_ERROR) << "parameter " << s.id;
        }
    }

    std::vector<std::string> lines_at(int priority) const
    {
        std::vector<std::string> out;
        for (const auto &l : log.lines()) {
            if (l.priority == priority)
                out.push_back(l.text);
        }
        return out;
    }

    // The whole send buffer: the frame, then zeros.
    void expect_frame(const std::array<uint8_t, 16> &frame)
    {
        const uint8_t *buf = spi_send_buffer();
        for (size_t i = 0; i < frame.size(); ++i)
            EXPECT_EQ(buf[i], frame[i]) << "frame byte " << i;
        for (size_t i = frame.size(); i < SPI_BUFFER_SIZE; ++i)
            ASSERT_EQ(buf[i], 0) << "byte " << i << " after the frame";
    }

    // scam_sts: the given bytes, every other byte as it was.
    void expect_status(const std::vector<std::pair<size_t, uint8_t>> &expect)
    {
        std::array<uint8_t, CAMERA_STATUS_SIZE> want;
        want.fill(UNTOUCHED);
        for (const auto &[offset, value] : expect)
            want[offset] = value;
        for (size_t i = 0; i < CAMERA_STATUS_SIZE; ++i)
            EXPECT_EQ(scam_sts[i], want[i]) << "scam_sts[0x" << std::hex << i << "]";
    }

    void expect_status_untouched() { expect_status({}); }

    SandboxRoot root;
    LogCapture log;
    FakeHardware hw;
};

TEST_F(EncodersTest, EveryJobBuildsItsFrameAndExpectedStatus)
{
    std::vector<bool> seen(JOB_COUNT, false);
    for (const frame_case &c : frame_cases) {
        SCOPED_TRACE(c.name);
        fresh_state();
        apply(c.settings);
        clear_buffers();
        log.clear();

        EXPECT_EQ(encode_param_job(c.job), c.logged_as);
        expect_frame(c.frame);
        expect_status(c.expect);
        if (c.line != nullptr) {
            EXPECT_EQ(log.count(c.line), 1) << log.text();
        } else {
            EXPECT_EQ(log.count_containing("Going to send"), 0) << log.text();
        }
        std::vector<std::string> errors = lines_at(LOG_ERR);
        if (c.error != nullptr) {
            EXPECT_EQ(errors, std::vector<std::string>{c.error});
        } else {
            EXPECT_TRUE(errors.empty()) << log.text();
        }
        seen[c.job] = true;
    }
    for (int job = JOB_FIRST_PARAM; job <= JOB_LAST_PARAM; ++job)
        EXPECT_TRUE(seen[job]) << "no frame case for job " << job;
}

// The frame rows' checksums, added up again: a slip in a hand-written row
// would otherwise pass as the encoder's fault or hide one.
TEST_F(EncodersTest, FrameRowsAreConsistent)
{
    for (const frame_case &c : frame_cases) {
        SCOPED_TRACE(c.name);
        unsigned length = c.frame[2] * 256u + c.frame[3];
        ASSERT_GE(length, 13u);
        ASSERT_LE(length, 16u);
        unsigned sum = 0;
        for (unsigned i = 4; i < length; ++i)
            sum += c.frame[i];
        EXPECT_EQ(c.frame[0] * 256u + c.frame[1], sum & 0xFFFF);
        EXPECT_EQ(c.frame[7], length - 8);
        EXPECT_EQ(c.frame[8], length - 9);
    }
}

TEST_F(EncodersTest, NoEncoderOutsideTheParameterJobs)
{
    const int jobs[] = {-1, 0, JT_CHECK_POWER, JT_LAST_JOB_TYPE, JOB_LAST_PARAM + 1, 1000};
    for (int job : jobs) {
        SCOPED_TRACE(job);
        clear_buffers();
        log.clear();
        EXPECT_EQ(encode_param_job(job), ENCODER_NONE);
        expect_frame({});
        expect_status_untouched();
        EXPECT_TRUE(log.lines().empty()) << log.text();
    }
}

TEST_F(EncodersTest, RefusedValuesSendNothingAndStoreNothing)
{
    auto with = [](const char *job_word, const char *value) {
        return std::string("ERROR:optad:optad:") + job_word + " - Invalid focus measure window \"" + value +
               "\" specified";
    };
    const char *window_error = "set_focus_window";
    const char *size_error = "set_focus_window_size";
    struct {
        int job;
        std::vector<setting> settings;
        std::string error;
    } const cases[] = {
        {12, {text(PARAM_EXPOSURE, "Auto")}, "ERROR:optad:main_loop:exp_mode - Unkown exposure mode\n"},
        {12, {text(PARAM_EXPOSURE, "night")}, "ERROR:optad:main_loop:exp_mode - Unkown exposure mode\n"},
        {25, {text(PARAM_WHITE_BALANCE_MANUAL, "no")},
         "ERROR:optad:main_loop:wb_man - Received an invalid parameter. Aborting...\n"},
        {34, {text(PARAM_FOCUS_DRIVE, "+minstep ")}, "ERROR:optad:main_loop:focusdrive - Invalid step value:+minstep \n"},
        {34, {text(PARAM_FOCUS_DRIVE, "minstep")}, "ERROR:optad:main_loop:focusdrive - Invalid step value:minstep\n"},
        {40, {text(PARAM_SENSOR_PROTECTOR, "opened")}, "ERROR:optad:main_loop:sunlight - Invalid command string:opened\n"},
        {32, {text(PARAM_FOCUS_W0, "garbage")}, with(window_error, "garbage")},
        {32, {text(PARAM_FOCUS_W0, "0.5,0.5")}, with(window_error, "0.5,0.5")},
        {32, {text(PARAM_FOCUS_W0, "1.5,0.5:0.6,0.5")}, with(window_error, "1.5,0.5:0.6,0.5")},
        // The position command checks the second corner as well.
        {32, {text(PARAM_FOCUS_W0, "0.45,0.45:5,0.45:0.555,0.555:0.45,0.555")},
         with(window_error, "0.45,0.45:5,0.45:0.555,0.555:0.45,0.555")},
        {32, {text(PARAM_FOCUS_W0, "nan,0.5:0.6,0.5")}, with(window_error, "nan,0.5:0.6,0.5")},
        {32, {text(PARAM_FOCUS_W0, "0.5,-0.1:0.6,0.5")}, with(window_error, "0.5,-0.1:0.6,0.5")},
        {33, {text(PARAM_FOCUS_W0, "0.1,0.1:0.2,0.1")}, with(size_error, "0.1,0.1:0.2,0.1")},
        {33, {text(PARAM_FOCUS_W0, "0.1,0.1:0.2,0.1:1.2,0.2:0.1,0.2")}, with(size_error, "0.1,0.1:0.2,0.1:1.2,0.2:0.1,0.2")},
        {33, {text(PARAM_FOCUS_W0, "0.1,0.1:0.2,0.1:0.2,inf:0.1,0.2")}, with(size_error, "0.1,0.1:0.2,0.1:0.2,inf:0.1,0.2")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error);
        fresh_state();
        apply(c.settings);
        s_capture.settle_in_progress = 0;
        s_capture.settle_deadline_ms = 4321;
        clear_buffers();
        log.clear();

        EXPECT_EQ(encode_param_job(c.job), ENCODER_FAILED);
        expect_status_untouched();
        EXPECT_EQ(lines_at(LOG_ERR), std::vector<std::string>{c.error});
        EXPECT_FALSE(log.contains("Going to send")) << log.text();
        // A refused exposure mode does not start the settle watch.
        EXPECT_EQ(s_capture.settle_in_progress, 0);
        EXPECT_EQ(s_capture.settle_deadline_ms, 4321);
    }
}

// The size command looks at the first and third corners only.
TEST_F(EncodersTest, FocusWindowSizeIgnoresTheOtherCorners)
{
    apply({text(PARAM_FOCUS_W0, "0.45,0.45:5,0.45:0.555,0.555:-3,0.555")});
    clear_buffers();
    EXPECT_EQ(encode_param_job(JOB_SET_FOCUS_WINDOW_SIZE), PARAM_FOCUS_W0);
    expect_frame({0x00, 0x5B, 0x00, 0x0E, 0x00, 0x10, 0x00, 0x06, 0x05, 0x00, 0x01, 0x09, 0x1B, 0x1B, 0x00, 0x00});
    expect_status({{0x2D, 0x1B}, {0x2E, 0x1B}});
}

TEST_F(EncodersTest, ExposureModeStartsTheSettleWatch)
{
    s_capture.settle_in_progress = 0;
    s_capture.settle_deadline_ms = 98765;
    EXPECT_EQ(encode_param_job(JOB_EXP_MODE), PARAM_EXPOSURE);
    EXPECT_EQ(s_capture.settle_in_progress, 1);
    EXPECT_EQ(s_capture.settle_deadline_ms, -1);
}

TEST_F(EncodersTest, ExposureWindowIsFittedAndStoredBeforeItIsSent)
{
    apply({number(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP, 0), number(PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM, 9999),
           number(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT, 0), number(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT, 9999)});
    clear_buffers();
    EXPECT_EQ(encode_param_job(JOB_EXPOSURE_WINDOW_POSITION), PARAM_CUSTOM_EXPOSURE_WINDOW_TOP);
    // 11..241 of 256 on the 0..9999 scale.
    EXPECT_EQ(param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_LEFT), 430);
    EXPECT_EQ(param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_RIGHT), 9413);
    EXPECT_EQ(param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_TOP), 430);
    EXPECT_EQ(param_get_int_value(PARAM_CUSTOM_EXPOSURE_WINDOW_BOTTOM), 9413);
}

// Flicker-free exposure needs the mains half period as its longest
// exposure; job 17 puts MaxExposureTime right before it encodes.
TEST_F(EncodersTest, SlowShutterEnforcesTheFlickerFreeLimit)
{
    struct {
        const char *exposure;
        const char *frequency;
        int max_exposure;
        int stored;  // MaxExposureTime afterwards
        uint8_t code;
        const char *error;
    } const cases[] = {
        {"flickerfree", "50Hz", 40000, 20000, 10,
         "ERROR:optad:main_loop:slow_shutter - Received an invalid parameter. Using the default slow shutter: 1/50\n"},
        {"flickerfree", "60Hz", 33333, 16666, 11,
         "ERROR:optad:main_loop:slow_shutter - Received an invalid parameter. Using the default slow shutter: 1/60\n"},
        {"flickerfree", "50Hz", 20000, 20000, 10, nullptr},
        {"flickerfree", "60Hz", 16666, 16666, 11, nullptr},
        // Neither mains frequency: nothing to enforce.
        {"flickerfree", "55Hz", 40000, 40000, 8, nullptr},
        // Only flicker-free exposure has the limit.
        {"auto", "60Hz", 40000, 40000, 8, nullptr},
        {"flickerreduced", "50Hz", 33333, 33333, 9, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.exposure) + " " + c.frequency + " " + std::to_string(c.max_exposure));
        fresh_state();
        apply({text(PARAM_EXPOSURE, c.exposure), text(PARAM_CAPTURE_FREQUENCY, c.frequency),
               number(PARAM_MAX_EXPOSURE_TIME, c.max_exposure)});
        clear_buffers();
        log.clear();

        EXPECT_EQ(encode_param_job(JOB_SLOW_SHUTTER), PARAM_MAX_EXPOSURE_TIME);
        EXPECT_EQ(param_get_int_value(PARAM_MAX_EXPOSURE_TIME), c.stored);
        EXPECT_EQ(spi_send_buffer()[12], c.code);
        EXPECT_EQ(scam_sts[0x4E], c.code);
        std::vector<std::string> errors = lines_at(LOG_ERR);
        if (c.error != nullptr) {
            EXPECT_EQ(errors, std::vector<std::string>{c.error});
        } else {
            EXPECT_TRUE(errors.empty()) << log.text();
        }
    }
}

TEST_F(EncodersTest, SlowShutterRemembersTheMaxExposureOfTheAutomaticModes)
{
    struct {
        const char *exposure;
        int job;
        int max_exposure;
        int remembered;
    } const cases[] = {
        {"auto", JOB_SLOW_SHUTTER, 80000, 80000},
        {"iris", JOB_SLOW_SHUTTER_50HZ, 40000, 40000},
        {"auto", JOB_SLOW_SHUTTER_60HZ, 8333, 8333},
        {"iris", JOB_SLOW_SHUTTER, 1000000, 1000000},
        {"manual", JOB_SLOW_SHUTTER, 80000, 33333},
        {"shutter", JOB_SLOW_SHUTTER_50HZ, 40000, 33333},
        {"flickerreduced", JOB_SLOW_SHUTTER_50HZ, 40000, 33333},
        // Rewritten to 20000, but flicker-free is no automatic mode.
        {"flickerfree", JOB_SLOW_SHUTTER, 40000, 33333},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.exposure) + " job " + std::to_string(c.job));
        fresh_state();
        ASSERT_EQ(param_get_remembered_max_exposure_time(), 33333);
        apply({text(PARAM_EXPOSURE, c.exposure), text(PARAM_CAPTURE_FREQUENCY, "50Hz"),
               number(PARAM_MAX_EXPOSURE_TIME, c.max_exposure)});
        clear_buffers();
        EXPECT_EQ(encode_param_job(c.job), PARAM_MAX_EXPOSURE_TIME);
        EXPECT_EQ(param_get_remembered_max_exposure_time(), c.remembered);
    }
}

// The FPGA's capture-size register: height in bits 13..25, width in 0..12.
constexpr uint32_t rw_capt(uint32_t width, uint32_t height)
{
    return ((height << 13) & 0x3FFE000u) | (width & 0x1FFFu);
}

TEST_F(EncodersTest, CaptureModeSetsUpTheVideoPathUnlessTheModeIsAlreadyRight)
{
    struct {
        int same_capture_mode;
        int capture_mode;
        bool reconfigured;
        int width, height, code, fps, poll_ms;
    } const cases[] = {
        {0, 1, true, 5472, 3648, 0x72, 8, 250},
        {0, 2, true, 3840, 2160, 0x60, 25, 80},
        {0, 3, true, 3840, 2880, 0x61, 15, 133},
        // Unknown modes run as mode 1 but leave the video path alone.
        {0, 0, false, 5472, 3648, 0x72, 8, 250},
        {0, 4, false, 5472, 3648, 0x72, 8, 250},
        // The start-up sync found the IMC in this mode already.
        {1, 2, false, 3840, 2160, 0x60, 25, 80},
        {1, 3, false, 3840, 2880, 0x61, 15, 133},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("same " + std::to_string(c.same_capture_mode) + " mode " + std::to_string(c.capture_mode));
        fresh_state();
        apply({number(PARAM_CAPTURE_MODE, c.capture_mode)});
        daemon_state.same_capture_mode = c.same_capture_mode;
        // Start from another mode, with a settle watch running.
        s_capture.width = 1;
        s_capture.height = 2;
        s_capture.resolution_code = 3;
        s_capture.frame_rate = 4;
        s_capture.poll_interval_ms = 5;
        s_capture.settle_in_progress = 1;
        s_capture.settle_deadline_ms = 777;
        hw.dev.cam0_log.clear();
        hw.dev.fpga_log.clear();
        hw.dev.opened.clear();
        clear_buffers();

        EXPECT_EQ(encode_param_job(JOB_RESOLUTION), PARAM_CAPTURE_MODE);

        EXPECT_EQ(s_capture.width, c.width);
        EXPECT_EQ(s_capture.height, c.height);
        EXPECT_EQ(s_capture.resolution_code, c.code);
        EXPECT_EQ(s_capture.frame_rate, c.fps);
        EXPECT_EQ(s_capture.poll_interval_ms, c.poll_ms);
        EXPECT_EQ(s_capture.settle_in_progress, 1);
        EXPECT_EQ(s_capture.settle_deadline_ms, 777);
        EXPECT_EQ(daemon_state.same_capture_mode, c.same_capture_mode);
        EXPECT_EQ(spi_send_buffer()[12], 0x00);
        EXPECT_EQ(spi_send_buffer()[13], c.code);
        EXPECT_EQ(spi_send_buffer()[14], c.fps);
        expect_status({{0x16, static_cast<uint8_t>(c.code)}, {0x17, static_cast<uint8_t>(c.fps)}});

        if (!c.reconfigured) {
            EXPECT_TRUE(hw.dev.cam0_log.empty());
            EXPECT_TRUE(hw.dev.fpga_log.empty());
            EXPECT_TRUE(hw.dev.opened.empty());
            continue;
        }
        // The SoC's video input first, then the FPGA's capture window, both
        // for the mode's size.
        EXPECT_EQ(hw.dev.opened, (std::vector<std::string>{"/dev/cam0", "/dev/spidev3.0"}));
        bool size_record = false;
        for (const auto &r : hw.dev.cam0_log) {
            if (r.request != 0x42CC2B04)
                continue;
            size_record = true;
            ASSERT_EQ(r.record.size(), 716u);
            uint32_t w, h;
            std::memcpy(&w, &r.record[0x10], 4);
            std::memcpy(&h, &r.record[0x14], 4);
            EXPECT_EQ(w, static_cast<uint32_t>(c.width));
            EXPECT_EQ(h, static_cast<uint32_t>(c.height));
        }
        EXPECT_TRUE(size_record);
        char capt[48];
        std::snprintf(capt, sizeof capt, "W 0x00=0x%08X", rw_capt(c.width, c.height));
        bool window = false;
        for (const std::string &l : hw.dev.fpga_log)
            window = window || l == capt;
        EXPECT_TRUE(window) << capt;
    }
}

TEST_F(EncodersTest, DayNightFollowsIrCutFilterOrTheImcsRecommendation)
{
    struct {
        const char *ir_cut_filter;
        const char *preferred_before;
        const char *preferred_after;
        uint8_t sent;
        const char *going_to_send;
        const char *processing;  // the "auto" line, nullptr when not logged
        const char *error;
    } const cases[] = {
        {"auto", nullptr, nullptr, 1,
         "DEBUG:optad:main_loop:d/n - Going to send Day Night Mode=0x01 and string=NULL\n",
         "DEBUG:optad:main_loop:d/n - Processing preferred day-night:NULL setting recommended by IMC \n",
         "ERROR:optad:main_loop:d/n - Received an invalid parameter value: NULL. Using the default mode: 0x01\n"},
        {"auto", "yes", "yes", 0,
         "DEBUG:optad:main_loop:d/n - Going to send Day Night Mode=0x00 and string=yes\n",
         "DEBUG:optad:main_loop:d/n - Processing preferred day-night:yes setting recommended by IMC \n", nullptr},
        {"auto", "no", "no", 1,
         "DEBUG:optad:main_loop:d/n - Going to send Day Night Mode=0x01 and string=no\n",
         "DEBUG:optad:main_loop:d/n - Processing preferred day-night:no setting recommended by IMC \n", nullptr},
        {"no", "yes", "no", 1, "DEBUG:optad:main_loop:d/n - Going to send Day Night Mode=0x01 and string=no\n",
         nullptr, nullptr},
        {"yes", nullptr, "yes", 0, "DEBUG:optad:main_loop:d/n - Going to send Day Night Mode=0x00 and string=yes\n",
         nullptr, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.ir_cut_filter) + " / " + (c.preferred_before ? c.preferred_before : "none"));
        fresh_state();
        apply({text(PARAM_IR_CUT_FILTER, c.ir_cut_filter)});
        set_preferred_day_night(c.preferred_before);
        clear_buffers();
        log.clear();

        EXPECT_EQ(encode_param_job(JOB_DN), PARAM_IR_CUT_FILTER);
        EXPECT_EQ(spi_send_buffer()[12], c.sent);
        expect_status({{0x66, c.sent}});
        if (c.preferred_after == nullptr) {
            EXPECT_EQ(preferred_day_night(), nullptr);
        } else {
            EXPECT_STREQ(preferred_day_night(), c.preferred_after);
        }
        EXPECT_EQ(log.count(c.going_to_send), 1) << log.text();
        EXPECT_EQ(log.count_containing("Processing preferred day-night"), c.processing ? 1 : 0);
        if (c.processing != nullptr) {
            EXPECT_EQ(log.count(c.processing), 1) << log.text();
        }
        std::vector<std::string> errors = lines_at(LOG_ERR);
        if (c.error != nullptr) {
            EXPECT_EQ(errors, std::vector<std::string>{c.error});
        } else {
            EXPECT_TRUE(errors.empty()) << log.text();
        }
    }
}

// Lines logged around the "Going to send" line, in their order.
TEST_F(EncodersTest, LinesBeforeTheFrameLine)
{
    apply({text(PARAM_FOCUS_DRIVE, "+bigstep")});
    clear_buffers();
    log.clear();
    EXPECT_EQ(encode_param_job(JOB_FOCUSDRIVE), PARAM_FOCUS_DRIVE);
    EXPECT_EQ(log.text(), "Performing Relative focus movement:+bigstep\n"
                          "DEBUG:optad:main_loop:focus - Going to send Focus Drive=0x000x08\n");

    clear_buffers();
    log.clear();
    EXPECT_EQ(encode_param_job(JOB_DIAPHRAGM), PARAM_IRIS);
    EXPECT_EQ(log.text(), "DEBUG:optad:main_loop:diaphragm - s_sdl.diaphragm_min=2, s_sdl.diaphragm_max=20\n"
                          "DEBUG:optad:main_loop:diaphragm - Going to send Diaphragm=0x07\n");
    for (const auto &l : log.lines())
        EXPECT_EQ(l.priority, LOG_DEBUG) << l.text;
}

// Without the verbose flag the encoders log only their ERROR lines.
TEST_F(EncodersTest, QuietWhenNotVerbose)
{
    log_set_verbose(false);
    apply({text(PARAM_WHITE_BALANCE, "daylight")});
    clear_buffers();
    log.clear();
    for (int job = JOB_FIRST_PARAM; job <= JOB_LAST_PARAM; ++job) {
        if (job != JOB_RESOLUTION)  // reconfigures the video path: covered above
            encode_param_job(job);
    }
    for (const auto &l : log.lines())
        EXPECT_EQ(l.priority, LOG_ERR) << l.text;
    EXPECT_EQ(log.count("ERROR:optad:main_loop:wb_mode - Received an invalid parameter. Using the default mode auto=0x00\n"), 1);
}

TEST(PreferredDayNight, HoldsItsOwnBoundedCopy)
{
    set_preferred_day_night(nullptr);
    EXPECT_EQ(preferred_day_night(), nullptr);

    char value[] = "yes";
    set_preferred_day_night(value);
    value[0] = 'n';
    EXPECT_STREQ(preferred_day_night(), "yes");

    // Its own string again: unchanged.
    set_preferred_day_night(preferred_day_night());
    EXPECT_STREQ(preferred_day_night(), "yes");

    std::string long_text(200, 'x');
    set_preferred_day_night(long_text.c_str());
    ASSERT_NE(preferred_day_night(), nullptr);
    EXPECT_EQ(std::string(preferred_day_night()), std::string(31, 'x'));

    set_preferred_day_night("");
    ASSERT_NE(preferred_day_night(), nullptr);
    EXPECT_STREQ(preferred_day_night(), "");

    set_preferred_day_night(nullptr);
    EXPECT_EQ(preferred_day_night(), nullptr);
}

}  // namespace
}  // namespace optad
