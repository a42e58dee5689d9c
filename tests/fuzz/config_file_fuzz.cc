// The configuration file at start-up, whatever its bytes: loaded into the
// parameter table (ISO-8859-1 conversion, quoted values, the old layout's
// Shutter index migrated), checked as the parameter service checks it when
// it starts, and pushed to the IMC as the start-up sync does, every
// parameter through its command encoder. The devices the capture mode's
// encoder sets up are the test fakes.
//
// Then the file the start wrote back must give the same table when the
// daemon starts again: what the daemon stores it must be able to read.
//
// Input: the whole file.
#include "config/param_settings.h"
#include "config/settings.h"
#include "daemon/jobs.h"
#include "daemon/process_state.h"
#include "dbus/imc_control_dbus.h"
#include "imc/spi.h"
#include "params/capture_settings.h"
#include "params/encoders.h"
#include "platform/clock.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/imc/fake_hw.h"

#include <cstring>
#include <string>
#include <vector>

using namespace optad;
using optad::fuzz::fuzz_check;

namespace {

void start_from_file()
{
    param_reset_for_tests();
    param_init();
    validate_exposure_config();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::FuzzRun run;
    process_state_reset_for_tests();
    s_capture = capture_settings_initial();
    fuzz::write_fixed_file(OPTAD_CONF_PATH, data, size);

    // A file the store cannot load is left alone (and nothing is
    // persisted into it); every other one is rewritten complete.
    int existed = 0;
    const bool loadable = SettingsPtr(settings_open(OPTAD_CONF_PATH, &existed)) != nullptr;

    start_from_file();
    for (int job = JOB_FIRST_PARAM; job <= JOB_LAST_PARAM; ++job) {
        std::memset(spi_send_buffer(), 0, SPI_BUFFER_SIZE);
        encode_param_job(job);
    }
    const std::vector<std::string> first = fuzz::table_snapshot();

    start_from_file();
    if (loadable)
        fuzz_check(fuzz::table_snapshot() == first, "the file written at start loads to the same table");
    param_reset_for_tests();
    process_state_reset_for_tests();
    return 0;
}
