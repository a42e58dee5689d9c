#include "daemon/unavailable.h"

#include "daemon/ops.h"
#include "platform/log.h"

namespace optad::unavailable {

namespace {

void report(const char *operation)
{
    OPTAD_LOG_ERROR("ERROR:optad:unavailable - %s is not available yet!\n", operation);
}

// A listener thread without its body: report and end the thread at once.
gpointer listener(const char *operation)
{
    report(operation);
    return nullptr;
}

}  // namespace

void capture_mode_init() { report("capture_mode_init"); }
gpointer gpio_power_good(gpointer) { return listener("gpio_power_good"); }
gpointer gpio_init_done(gpointer) { return listener("gpio_init_done"); }
gpointer gpio_i2n_int(gpointer) { return listener("gpio_i2n_int"); }
int update_lens_cache(const char *)
{
    report("update_lens_cache");
    return 0;
}


int power_up(int, int)
{
    report("power_up");
    return -1;
}
int shutdown(int, int)
{
    report("shutdown");
    return -1;
}
int check_firmware_version()
{
    report("check_firmware_version");
    return -1;
}
int firmware_upgrade()
{
    report("firmware_upgrade");
    return -1;
}
int wait_for_dtct_strm()
{
    report("wait_for_dtct_strm");
    return -1;
}
int check_camera_status()
{
    report("check_camera_status");
    return -1;
}
int send_param(int)
{
    report("send_param");
    return SEND_PARAM_DROPPED;
}
void reset_heart_beat_watch() { report("reset_heart_beat_watch"); }

}  // namespace optad::unavailable
