#include "params/stabilizer_time.h"

#include "platform/log.h"
#include "platform/paths.h"
#include "platform/synced_file.h"

#include <glib.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

namespace optad {

namespace {

constexpr int STABILIZER_TIME_DIR_MODE = 0755;

// The stored total, 0 when there is none or it cannot be read. A missing
// file gets its directory created, so that the write that follows can
// create the file.
int read_total()
{
    const std::string real = platform_path(STABILIZER_TIME_FILE);
    struct stat st;
    if (stat(real.c_str(), &st) != 0 && errno == ENOENT) {
        const std::string dir = platform_path(STABILIZER_TIME_DIR);
        g_mkdir_with_parents(dir.c_str(), STABILIZER_TIME_DIR_MODE);
        return 0;
    }
    FILE *f = std::fopen(real.c_str(), "r");
    if (f == nullptr)
        return 0;
    int value = 0;
    int count = std::fscanf(f, "%d", &value);
    std::fclose(f);
    if (count != 1 || value < 0) {
        OPTAD_LOG_WARNING("Could not read %s, setting Image Stabilization Time to 0 (fscan returned %d:%d)",
                          STABILIZER_TIME_FILE, count, value);
        return 0;
    }
    return value;
}

}  // namespace

int save_is_time(int seconds)
{
    if (seconds <= 0)
        return -1;
    int total = read_total();
    // The file holds an int; a total that would pass its largest value
    // stays there rather than wrapping to a negative count.
    total = total > INT_MAX - seconds ? INT_MAX : total + seconds;

    char text[16];
    int len = std::snprintf(text, sizeof text, "%d", total);
    if (storix_set_file_contents_with_sync(STABILIZER_TIME_FILE, text, static_cast<size_t>(len)) == 0) {
        OPTAD_LOG_ERROR("ERROR:optad:save_is_time, could not create %s\n", STABILIZER_TIME_FILE);
        return -1;
    }
    return 0;
}

}  // namespace optad
