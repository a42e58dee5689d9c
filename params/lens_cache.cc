#include "params/lens_cache.h"

#include "platform/log.h"
#include "platform/value_pool.h"

#include <cerrno>
#include <cstring>

namespace optad {

namespace {

constexpr const char *LENS_GROUP = "LENS";
constexpr int LENS_GROUP_SIZE = 100;
constexpr size_t LENS_INFO_SIZE = 64;

// The buffer the cache's parameter record points to.
char lens_info[LENS_INFO_SIZE];

// The lines name the errno text ("%m"). errno is taken once, right after
// the failing call, so that the second line about the same failure shows
// the same cause even when writing the first line changed errno.
int report_partial(int result, int err)
{
    OPTAD_LOG_WARNING("Could only set %d of 1 param: %s", result, std::strerror(err));
    return 0;
}

}  // namespace

int update_lens_cache(const char *lens_name)
{
    const char *text = lens_name != nullptr ? lens_name : "Unknown";
    size_t len = strnlen(text, LENS_INFO_SIZE - 1);
    std::memcpy(lens_info, text, len);
    lens_info[len] = '\0';

    const vp_param info = {"INFO", LENS_INFO_SIZE, lens_info, VP_TYPE_STRING};
    int result = vp_set_group(LENS_GROUP, &info, 1, 0);
    if (result < 0) {
        // The group does not exist yet (first publication since boot).
        int first = result;
        if (vp_create_group(LENS_GROUP, LENS_GROUP_SIZE, 0) < 0) {
            int err = errno;
            OPTAD_LOG_WARNING("Can not create vpool group! %s", std::strerror(err));
            return report_partial(first, err);
        }
        result = vp_set_group(LENS_GROUP, &info, 1, VP_FLAG_CREATE);
        if (result < 0) {
            int err = errno;
            OPTAD_LOG_WARNING("Can not create vpool params! %s", std::strerror(err));
            return report_partial(result, err);
        }
    }
    if (result == 0)
        return report_partial(0, errno);
    return result;
}

}  // namespace optad
