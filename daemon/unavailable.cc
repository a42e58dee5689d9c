#include "daemon/unavailable.h"

#include "daemon/ops.h"
#include "platform/log.h"

namespace optad::unavailable {

namespace {

void report(const char *operation)
{
    OPTAD_LOG_ERROR("ERROR:optad:unavailable - %s is not available yet!\n", operation);
}

}  // namespace

void capture_mode_init() { report("capture_mode_init"); }
int update_lens_cache(const char *)
{
    report("update_lens_cache");
    return 0;
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
