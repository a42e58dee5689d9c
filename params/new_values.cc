#include "params/status_check.h"

#include "config/param_settings.h"
#include "daemon/job_queue.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "imc/decoders.h"
#include "imc/spi.h"
#include "imc/status_block.h"
#include "params/day_night.h"
#include "params/lens_cache.h"
#include "params/limits.h"
#include "params/sdl.h"
#include "params/stabilizer_time.h"
#include "params/status_monitor.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "video/datacache.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

// Everything here compares recv_buf with scam_sts byte by byte and only
// acts on a difference, so a poll in which nothing changed costs a few
// dozen comparisons and no allocation.

namespace optad {

namespace {

constexpr const char *IMC_TEMPERATURE_FILE = "/var/run/optad/imc_temperature";
constexpr int64_t STABILIZER_SAVE_PERIOD_S = 3600;

// The image stabilizer's running time goes into its persistent total at
// least once an hour, so that a power cut loses at most an hour of it.
void save_stabilizer_time()
{
    if (!daemon_state.stabilizer_active)
        return;
    const int64_t now_s = clock_now_us() / 1'000'000;
    const int64_t elapsed = now_s - daemon_state.stabilizer_start_s;
    if (elapsed <= STABILIZER_SAVE_PERIOD_S)
        return;
    int seconds = static_cast<int>(elapsed);
    if (save_is_time(seconds) != 0)
        OPTAD_LOG_ERROR("ERROR:optad:check_new_values - Failed to save image stabilization time, lost %d seconds !!!\n",
                        seconds);
    daemon_state.stabilizer_start_s = now_s;
}

void copy_lens_state(const uint8_t *recv)
{
    scam_sts[STS_LENS_ATTACHED] = recv[STS_LENS_ATTACHED];
    scam_sts[STS_LENS_STATUS] = recv[STS_LENS_STATUS];
}

// A lens just attached needs the protector open, and a detached one needs
// it closed to keep sunlight off the bare sensor. Returns false when the
// combination needs no protector command.
bool protector_follows_lens(const uint8_t *recv)
{
    const uint8_t lens = recv[STS_LENS_ATTACHED];
    const uint8_t protector = recv[STS_SUNLIGHT];
    if (lens == 1 && protector == STS_SUNLIGHT_CLOSED) {
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:check_new_values - Detected Lens Attached => Open Sunlight Protector!\n");
        param_set_string_value(PARAM_SENSOR_PROTECTOR, "open");
        scam_sts[STS_SUNLIGHT] = STS_SUNLIGHT_OPEN;
    } else if (lens == 0 && protector == STS_SUNLIGHT_OPEN) {
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:check_new_values - Detected Lens Detached => Close Sunlight Protector!\n");
        param_set_string_value(PARAM_SENSOR_PROTECTOR, "close");
        scam_sts[STS_SUNLIGHT] = STS_SUNLIGHT_CLOSED;
    } else {
        return false;
    }
    copy_lens_state(recv);
    queue_job(JOB_SUNLIGHT, false);
    return true;
}

void follow_lens(const uint8_t *recv)
{
    if (recv[STS_LENS_ATTACHED] != scam_sts[STS_LENS_ATTACHED]) {
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:check_new_values - Lens Status: scam_sts[0x12-13-15]=0x%02X-%02X-%02X, "
                        "recv_buf[0x12-13-15]=0x%02X-%02X-%02X\n",
                        scam_sts[STS_LENS_ATTACHED], scam_sts[STS_LENS_STATUS], scam_sts[STS_SUNLIGHT],
                        recv[STS_LENS_ATTACHED], recv[STS_LENS_STATUS], recv[STS_SUNLIGHT]);
        if (!protector_follows_lens(recv)) {
            OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:check_new_values - No need to update Sunlight Protector!\n");
            copy_lens_state(recv);
            scam_sts[STS_SUNLIGHT] = recv[STS_SUNLIGHT];
        }
        update_lens_cache(lens_get_name(recv));
        return;
    }
    // The protector moved while the lens stayed: a protector command and a
    // lens change crossed. Unless a protector command is on its way, put
    // the protector where the lens needs it.
    if (!job_records[JOB_SUNLIGHT].pending && recv[STS_SUNLIGHT] != scam_sts[STS_SUNLIGHT]) {
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:check_new_values - Averted race condition!\n");
        protector_follows_lens(recv);
    }
}

// With automatic day/night the IMC recommends day or night, and the
// day/night job switches the filter accordingly.
void follow_day_night(const uint8_t *recv)
{
    if (recv[STS_AUTO_DAY_NIGHT] != 1)
        return;
    const uint8_t recommendation = recv[STS_DAY_NIGHT_RECOMMENDATION];
    const char *wanted = recommendation == 0x10 ? "yes" : recommendation == 0x11 ? "no" : nullptr;
    const char *preferred = preferred_day_night();
    if (wanted != nullptr && (preferred == nullptr || std::strcmp(preferred, wanted) != 0)) {
        set_preferred_day_night(wanted);
        queue_job(JOB_DN, false);
    }
    // Before the IMC's first recommendation it reports the filter state
    // itself (0 day, 1 night): a starting point, not worth a command.
    if (preferred_day_night() == nullptr) {
        if (recommendation == 0)
            set_preferred_day_night("yes");
        else if (recommendation == 1)
            set_preferred_day_night("no");
    }
}

// A pair of limit bytes: true (and scam_sts updated) when either changed.
bool take_pair(const uint8_t *recv, size_t offset, int32_t &min, int32_t &max)
{
    if (recv[offset] == scam_sts[offset] && recv[offset + 1] == scam_sts[offset + 1])
        return false;
    scam_sts[offset] = recv[offset];
    scam_sts[offset + 1] = recv[offset + 1];
    min = recv[offset];
    max = recv[offset + 1];
    return true;
}

// The ranges the lens and mode allow; the property choices and the data
// cache's limits follow them.
void follow_limits(const uint8_t *recv)
{
    bool changed = false;
    if (take_pair(recv, STS_IRIS_MIN, s_sdl.diaphragm_min, s_sdl.diaphragm_max)) {
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:check_new_values - Updated Diaphragm Min[0x46]=0x%02X, Max[0x47]=0x%02X!\n",
                        recv[STS_IRIS_MIN], recv[STS_IRIS_MAX]);
        changed = true;
    }
    if (take_pair(recv, STS_SHUTTER_MIN, s_sdl.shutter_speed_min, s_sdl.shutter_speed_max)) {
        OPTAD_LOG_DEBUG(
            "DEBUG:optad:main_loop:check_new_values - Updated Shutter Speed Min[0x48]=0x%02X, Max[0x49]=0x%02X!\n",
            recv[STS_SHUTTER_MIN], recv[STS_SHUTTER_MAX]);
        changed = true;
    }
    for (size_t i = STS_KEPT_IN_STEP; i < STS_KEPT_IN_STEP + STS_KEPT_IN_STEP_LEN; ++i)
        if (scam_sts[i] != recv[i])
            scam_sts[i] = recv[i];
    if (take_pair(recv, STS_GAIN_MIN, s_sdl.gain_min, s_sdl.gain_max)) {
        OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:check_new_values - Updated Gain Min[0x4A]=0x%02X, Max[0x4B]=0x%02X!\n",
                        recv[STS_GAIN_MIN], recv[STS_GAIN_MAX]);
        changed = true;
    }
    if (changed) {
        update_shutter_gain_iris_config();
        write_limits_datacache(s_sdl);
    }
}

void follow_exposure(const uint8_t *recv)
{
    if (recv[STS_SHUTTER_INDEX] == scam_sts[STS_SHUTTER_INDEX] && recv[STS_GAIN_INDEX] == scam_sts[STS_GAIN_INDEX] &&
        recv[STS_IRIS_INDEX] == scam_sts[STS_IRIS_INDEX])
        return;
    scam_sts[STS_SHUTTER_INDEX] = recv[STS_SHUTTER_INDEX];
    scam_sts[STS_GAIN_INDEX] = recv[STS_GAIN_INDEX];
    scam_sts[STS_IRIS_INDEX] = recv[STS_IRIS_INDEX];
    write_sensor_datacache(recv[STS_SHUTTER_INDEX], recv[STS_GAIN_INDEX], recv[STS_IRIS_INDEX]);
}

void follow_optics(const uint8_t *recv)
{
    constexpr size_t first = STS_OPTICS_FOCAL_LENGTH;
    constexpr size_t end = STS_OPTICS_THIRD + 2;
    if (std::memcmp(recv + first, scam_sts + first, end - first) == 0)
        return;
    std::memcpy(scam_sts + first, recv + first, end - first);
    datacache_api_optics_type(sts_u16(recv, STS_OPTICS_FOCAL_LENGTH), sts_u16(recv, STS_OPTICS_SECOND),
                              sts_u16(recv, STS_OPTICS_THIRD));
}

// The temperature as the camera's other services read it: a signed
// decimal, no newline.
void write_temperature(uint8_t raw)
{
    char text[8];
    int len = raw <= 0x7F ? std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(raw))
                          : std::snprintf(text, sizeof text, "-%i", 0x100 - raw);
    const std::string path = platform_path(IMC_TEMPERATURE_FILE);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        OPTAD_LOG_ERROR("OPTAD failed to open /var/run/optad/imc_temperature: %i", errno);
        return;
    }
    ssize_t written = ::write(fd, text, static_cast<size_t>(len));
    if (written != len) {
        int err = written < 0 ? errno : EIO;
        OPTAD_LOG_ERROR("OPTAD failed to write /var/run/optad/imc_temperature: %i", err);
    }
    ::close(fd);
}

void follow_temperature(const uint8_t *recv)
{
    if (recv[STS_TEMPERATURE] == scam_sts[STS_TEMPERATURE])
        return;
    scam_sts[STS_TEMPERATURE] = recv[STS_TEMPERATURE];
    write_temperature(recv[STS_TEMPERATURE]);
}

void follow_lens_focus_switch(const uint8_t *recv)
{
    if (recv[STS_LENS_FOCUS_SWITCH] == scam_sts[STS_LENS_FOCUS_SWITCH])
        return;
    scam_sts[STS_LENS_FOCUS_SWITCH] = recv[STS_LENS_FOCUS_SWITCH];
    set_lens_focus_switch(recv[STS_LENS_FOCUS_SWITCH]);
    OPTAD_LOG_DEBUG("DEBUG:optad:main_loop:check_new_values - Lens focus switch updated to 0x%02X!\n",
                    recv[STS_LENS_FOCUS_SWITCH]);
}

}  // namespace

void check_new_values()
{
    const uint8_t *recv = spi_recv_buffer();
    save_stabilizer_time();
    follow_lens(recv);
    follow_day_night(recv);
    follow_limits(recv);
    follow_exposure(recv);
    follow_optics(recv);
    follow_temperature(recv);
    follow_lens_focus_switch(recv);
}

}  // namespace optad
