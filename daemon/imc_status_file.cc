#include "daemon/imc_status_file.h"

#include "platform/file_replace.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <cstddef>
#include <string>

namespace optad {

namespace {

constexpr const char IMC_STATUS_PATH[] = "/var/run/optad/imc_status";
constexpr const char IMC_STATUS_TEXT[] = "FIRMWARE_UP_TO_DATE";
constexpr size_t IMC_STATUS_LENGTH = sizeof IMC_STATUS_TEXT - 1;  // 19

}  // namespace

// The directory belongs to the system's start scripts, which create the
// run-time directories; a missing one is reported like any file that cannot
// be opened, not created here. A new file is for every reader, like one
// created by open(2) with the usual umask.
int write_imc_status_file()
{
    const std::string path = platform_path(IMC_STATUS_PATH);
    FileReplaceStep step = FileReplaceStep::OPEN;
    const int rc = file_replace(path.c_str(), IMC_STATUS_TEXT, IMC_STATUS_LENGTH, 0644, &step);
    if (rc < 0) {
        if (step == FileReplaceStep::OPEN)
            OPTAD_LOG_ERROR("OPTAD failed to open %s: %i", IMC_STATUS_PATH, -rc);
        else
            OPTAD_LOG_ERROR("OPTAD failed to write %s: %i", IMC_STATUS_PATH, -rc);
        return -1;
    }
    return 0;
}

}  // namespace optad
