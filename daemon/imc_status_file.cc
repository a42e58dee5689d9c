#include "daemon/imc_status_file.h"

#include "platform/log.h"
#include "platform/paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace optad {

namespace {

constexpr const char IMC_STATUS_PATH[] = "/var/run/optad/imc_status";
constexpr const char IMC_STATUS_TEXT[] = "FIRMWARE_UP_TO_DATE";
constexpr size_t IMC_STATUS_LENGTH = sizeof IMC_STATUS_TEXT - 1;  // 19

bool write_all(int fd, const char *data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

// The directory belongs to the system's start scripts, which create the
// run-time directories; a missing one is reported like any file that cannot
// be opened, not created here.
int write_imc_status_file()
{
    const std::string path = platform_path(IMC_STATUS_PATH);
    std::string tmp = path + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        OPTAD_LOG_ERROR("OPTAD failed to open %s: %i", IMC_STATUS_PATH, errno);
        return -1;
    }
    // mkstemp creates the file for its owner only; the file is for every
    // reader, like one created by open(2) with the usual umask.
    bool ok = fchmod(fd, 0644) == 0 && write_all(fd, IMC_STATUS_TEXT, IMC_STATUS_LENGTH);
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(tmp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        OPTAD_LOG_ERROR("OPTAD failed to write %s: %i", IMC_STATUS_PATH, err);
        unlink(tmp.c_str());
        return -1;
    }
    return 0;
}

}  // namespace optad
