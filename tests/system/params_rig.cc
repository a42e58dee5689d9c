#include "tests/system/params_rig.h"

#include <gio/gio.h>

#include <cstdio>
#include <sstream>

namespace optad::test {

std::string set_frame(uint8_t group, uint8_t item, const std::vector<uint8_t> &values)
{
    const size_t n = values.size();
    std::vector<uint8_t> f = {0,
                              0,
                              0,
                              static_cast<uint8_t>(12 + n),
                              0x00,
                              0x10,
                              0,
                              static_cast<uint8_t>(n + 4),
                              static_cast<uint8_t>(n + 3),
                              0x00,
                              group,
                              item};
    f.insert(f.end(), values.begin(), values.end());
    unsigned sum = 0;
    for (size_t i = 4; i < f.size(); ++i)
        sum += f[i];
    f[0] = static_cast<uint8_t>(sum >> 8);
    f[1] = static_cast<uint8_t>(sum);
    std::string hex;
    char byte[3];
    for (uint8_t b : f) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        hex += byte;
    }
    return hex;
}

// The values, from the parameter defaults of a fresh configuration:
//   Exposure "auto" -> mode 0; Brightness 50 -> step 0; Iris 7, Gain 7
//   (inside the limits); ExposureWindow "center" -> 0; the exposure window
//   3333..6666 on both axes fits into 85..171 of 256, stored back as
//   3320..6679 and sent as position 85, 85 and size 86, 86; MaxGain 60 ->
//   60 / 6 = 10; WhiteBalance "auto" -> 0 (WhiteBalanceManual "no");
//   R 63 -> 63 * 1023 / 255 = 252, B 57 -> 228; IrCutFilter "auto" -> auto
//   day/night 1 and no day/night job; ShiftLevel 50 -> 2; hysteresis 2;
//   Sharpness 40 -> 2; NoiseReductionTuning 50 -> 1; ColorLevel 50 -> 3;
//   Stabilizer "off" -> 0; FocusTraceCurve "normal" -> 0, 0; rotation 0;
//   FocusW0 default -> corner 115, 115 (0x73) and size 142 - 115 = 27;
//   DynamicContrastLevel 4; DynamicContrastEnabled "no" -> 0; both lens
//   corrections "yes" -> 0 sent, 1 expected back; SensorProtector "open" ->
//   1; MaxExposureTime 40000 with Exposure "auto" -> slow shutter 8;
//   Shutter 20000 us -> index 22; CaptureMode 1 -> 0x72 at 8 fps.
std::vector<JobFrame> startup_push(bool with_protector_job)
{
    std::vector<JobFrame> push = {
        {12, 0x03, 0x00, {0x00}, "Confirmed Exposure change: scam_sts[0x40]=0x00, recv_buf[0x40]=0x00"},
        {13, 0x03, 0x01, {0x00}, "Confirmed Exposure Compensation change: scam_sts[0x45]=0x00, recv_buf[0x45]=0x00"},
        {14, 0x03, 0x02, {0x07}, "Confirmed Diaphragm change: scam_sts[0x52]=0x07, recv_buf[0x52]=0x07"},
        {16, 0x03, 0x04, {0x07}, "Confirmed Gain change: scam_sts[0x54]=0x07, recv_buf[0x54]=0x07"},
        {20, 0x03, 0x06, {0x00}, "Confirmed metering mode change: scam_sts[0x41]=0x00, recv_buf[0x41]=0x00"},
        {21, 0x03, 0x11, {0x55, 0x55},
         "Confirmed exposure window position change:scam_sts[0x56]=0x55, recv_buf[0x56]=0x55, scam_sts[0x57]=0x55"},
        {22, 0x03, 0x12, {0x56, 0x56},
         "Confirmed exposure window size change:scam_sts[0x5C]=0x56, recv_buf[0x5C]=0x56, scam_sts[0x5D]=0x56"},
        {23, 0x03, 0x07, {0x0A}, "Confirmed AGC limit / Max Gain: scam_sts[0x4f]=0x0A, recv_buf[0x4f]=0x0A"},
        {24, 0x04, 0x00, {0x00}, "Confirmed White Balance Mode: scam_sts[0x70]=0x00, recv_buf[0x70]=0x00"},
        {26, 0x04, 0x02, {0x00, 0xFC, 0x00, 0xE4},
         "Confirmed White Balance R Gain: scam_sts[0x6C6D]=0xFC00, recv_buf[0x6C6D]=0xFC00"},
        {36, 0x05, 0x00, {0x01}, "Confirmed Auto Day/Night mode: scam_sts[0x60]=0x01, recv_buf[0x60]=0x01"},
        {38, 0x05, 0x02, {0x02}, "Confirmed Switching brightness: scam_sts[0x62]=0x02, recv_buf[0x62]=0x02"},
        {39, 0x05, 0x03, {0x02}, "Confirmed Time of Day/Night filter: scam_sts[0x63]=0x02, recv_buf[0x63]=0x02"},
        {27, 0x07, 0x00, {0x02}, "Confirmed Sharpness: scam_sts[0x80]=0x02, recv_buf[0x80]=0x02"},
        {28, 0x07, 0x01, {0x01}, "Confirmed Noise Reduction: scam_sts[0x84]=0x01, recv_buf[0x84]=0x01"},
        {29, 0x07, 0x03, {0x03}, "Confirmed Color Level: scam_sts[0x82]=0x03, recv_buf[0x82]=0x03"},
        {35, 0x08, 0x07, {0x00}, "Confirmed Image Stabilizer Mode: scam_sts[0x67]=0x00, recv_buf[0x67]=0x00"},
        {42, 0x01, 0x07, {0x00, 0x00}, "Confirmed IR Focus Correction: scam_sts[0x2F]=0x00,recv_buf[0x2F]=0x00"},
        {41, 0x08, 0x0A, {0x00}, "Confirmed Notify Rotate Image: scam_sts[0x9E]=0x00, recv_buf[0x9E]=0x00"},
        {32, 0x01, 0x05, {0x73, 0x73}, "Confirmed FocusWindow: scam_sts[0x2B]=0x73,recv_buf[0x2B]=0x73"},
        {33, 0x01, 0x09, {0x1B, 0x1B}, "Confirmed FocusWindowSize: scam_sts[0x2D]=0x1B,recv_buf[0x2D]=0x1B"},
        {44, 0x07, 0x15, {0x04}, "Confirmed WDR Level: scam_sts[0x87]=0x04, recv_buf[0x87]=0x04"},
        {43, 0x07, 0x14, {0x00}, "Confirmed WDR Mode: scam_sts[0x86]=0x00, recv_buf[0x86]=0x00"},
        {46, 0x0B, 0x01, {0x00}, "Confirmed Aberration Correction: scam_sts[0x8B]=0x01, recv_buf[0x8B]=0x01"},
        {45, 0x0B, 0x00, {0x00}, "Confirmed Vignetting Correction: scam_sts[0x8A]=0x01, recv_buf[0x8A]=0x01"},
    };
    if (with_protector_job)
        push.push_back({40, 0x08, 0x09, {0x01}, "Confirmed Sunlight Protection change"});
    push.push_back({17, 0x03, 0x05, {0x08}, "Confirmed slow shutter speed change: scam_sts[0x4e]=0x08, recv_buf[0x4e]=0x08"});
    push.push_back({15, 0x03, 0x03, {0x16}, "Confirmed shutter speed change: scam_sts[0x53]=0x16, recv_buf[0x53]=0x16"});
    push.push_back({30, 0x08, 0x04, {0x00, 0x72, 0x08},
                    "Confirmed Capture Mode change: scam_sts[0x16]=0x72, scam_sts[0x17]=0x08"});
    return push;
}

std::vector<std::string> frames_of(const std::vector<JobFrame> &jobs)
{
    std::vector<std::string> frames;
    for (const JobFrame &j : jobs)
        frames.push_back(j.frame());
    return frames;
}

std::vector<std::string> command_frames(Simulator &sim)
{
    std::vector<std::string> frames;
    for (const std::string &line : sim_log_lines(sim, "imc")) {
        if (line != STATUS_REQUEST_FRAME)
            frames.push_back(line);
    }
    return frames;
}

std::vector<SimEvent> stamped_command_frames(Simulator &sim)
{
    std::vector<SimEvent> frames;
    for (SimEvent &e : stamped_log(sim, "imc")) {
        if (e.text != STATUS_REQUEST_FRAME)
            frames.push_back(std::move(e));
    }
    return frames;
}

bool optad_logged_times(Rig &rig, const std::string &fragment, int n, int timeout_ms)
{
    return rig.iterate_until([&] { return optad_log_count(rig, fragment) >= n; }, scaled_ms(timeout_ms));
}

RunningModule::RunningModule(const ModuleSetup &module, const std::vector<PeerStart> &peers)
    : rig_(peers, Board::DC, module)
{
    ready_ = rig_.ok() && optad_logged(rig_, STARTUP_DONE, 60000);
    if (rig_.ok() && !ready_)
        ADD_FAILURE() << "the module did not reach OPTAD_STARTUP_DONE";
}

std::vector<std::pair<std::string, std::string>> changed_entries(const SignalRecorder &changed)
{
    std::vector<std::pair<std::string, std::string>> entries;
    for (size_t i = 0; i < changed.count(); ++i) {
        GVariant *body = changed.body(i);
        if (!g_variant_is_of_type(body, G_VARIANT_TYPE("(sa{sv}as)")))
            continue;
        g_autoptr(GVariant) dict = g_variant_get_child_value(body, 1);
        GVariantIter iter;
        g_variant_iter_init(&iter, dict);
        const char *name = nullptr;
        GVariant *value = nullptr;
        while (g_variant_iter_next(&iter, "{&sv}", &name, &value)) {
            g_autofree char *text = g_variant_print(value, TRUE);
            entries.emplace_back(name, text);
            g_variant_unref(value);
        }
    }
    return entries;
}

bool wait_for_change(Rig &rig, SignalRecorder &changed, const std::string &name, const std::string &value,
                     int timeout_ms)
{
    return rig.iterate_until(
        [&] {
            for (const auto &[n, v] : changed_entries(changed)) {
                if (n == name && v == value)
                    return true;
            }
            return false;
        },
        scaled_ms(timeout_ms));
}

std::string lens_cache_info(Rig &rig)
{
    bool exists = false;
    const std::string text = rig.root().read("/var/run/valuepool/LENS", &exists);
    if (!exists)
        return "";
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("INFO=", 0) == 0)
            return line.substr(5);
    }
    return "";
}

std::vector<std::string> datacache_entries(Simulator &sim, const std::string &name)
{
    std::vector<std::string> lines;
    std::istringstream in(sim.ctl("show datacache " + name));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

std::string hex_words(const std::vector<uint32_t> &words)
{
    std::string out;
    char w[12];
    for (size_t i = 0; i < words.size(); ++i) {
        std::snprintf(w, sizeof w, "%s%08x", i == 0 ? "" : " ", words[i]);
        out += w;
    }
    return out;
}

namespace {

// The physical values of the IMC's indices.
constexpr uint32_t IRIS_F_NUMBER_X10[] = {10, 11, 12, 13, 14, 15, 16, 18, 20, 21, 23, 25, 28, 30, 33,
                                          36, 40, 43, 47, 51, 56, 61, 67, 73, 80, 87, 95, 103, 113};
constexpr uint32_t SHUTTER_US[] = {
    1000000, 833333, 666667, 500000, 454545, 370370, 312500, 250000, 222222, 200000, 166667, 125000, 111111,
    90909,   76923,  66667,  55556,  47619,  40000,  33333,  28571,  23810,  20000,  16667,  14286,  11765,
    10000,   8333,   6667,   5556,   4762,   4000,   3333,   2778,   2381,   2000,   1667,   1389,   1190,
    1000,    833,    714,    588,    500,    417,    357,    294,    250,    208,    179,    156,    125};
constexpr uint32_t GAIN_ISO[] = {100,   125,   140,   160,   200,   250,   285,   320,   400,   500,   570,
                                 640,   800,   1000,  1250,  1425,  1600,  2000,  2225,  2500,  3200,  4000,
                                 4500,  5000,  6400,  8000,  9600,  11200, 12800, 16000, 19200, 22400, 25600,
                                 32000, 38400, 44800, 51200, 64000, 76800, 89600, 102400};

template <size_t N>
uint32_t lookup(const uint32_t (&table)[N], int index, uint32_t fallback)
{
    return index >= 0 && static_cast<size_t>(index) < N ? table[index] : fallback;
}

}  // namespace

std::string sensor_entry(int iris, int shutter, int gain)
{
    const uint32_t db = gain >= 0 && gain <= 40 ? static_cast<uint32_t>(gain * 3 / 2) : 60;
    return hex_words({db, lookup(GAIN_ISO, gain, 102400), lookup(IRIS_F_NUMBER_X10, iris, 113),
                      lookup(SHUTTER_US, shutter, 125)});
}

std::string settled_sensor_entry(Rig &rig, Simulator &sim)
{
    std::string last = sim.ctl("show status 0x42 3");
    int steady_ms = 0;
    const bool settled = rig.iterate_until(
        [&] {
            g_usleep(100 * 1000);
            const std::string now = sim.ctl("show status 0x42 3");
            steady_ms = now == last ? steady_ms + 100 : 0;
            last = now;
            return steady_ms >= 1000;
        },
        scaled_ms(15000));
    if (!settled)
        return "";
    unsigned iris = 0, shutter = 0, gain = 0;
    if (std::sscanf(last.c_str(), "%x %x %x", &iris, &shutter, &gain) != 3)
        return "";
    return sensor_entry(static_cast<int>(iris), static_cast<int>(shutter), static_cast<int>(gain));
}

std::vector<std::string> herald_events(Rig &rig)
{
    std::vector<std::string> lines;
    std::istringstream in(rig.root().read("/var/run/herald/events.log"));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

}  // namespace optad::test
