// The data the camera's image supplies beside the programs, for the rig:
// the module's two PMIC command files, the temperature script, and the IMC
// firmware image, installed at their fixed paths in a sandbox root.
//
// The files come from tests/rig/board/ in the source tree; the firmware
// image is made by the build's make-imc-image with the revision asked for.
// The simulated IMC leaves the factory at revision 300, so the default
// image needs no upgrade.
#pragma once

#include "tests/support/test_support.h"

#include <string>
#include <vector>

namespace optad::test {

// The fixed paths on the camera.
constexpr const char PMIC_FILE_DE[] = "/usr/share/imc_pmic_init_cmd_de";
constexpr const char PMIC_FILE_DC[] = "/usr/share/imc_pmic_init_cmd_dc";
constexpr const char TEMPERATURE_SCRIPT[] = "/usr/bin/optad_temperature.sh";
constexpr const char FIRMWARE_FILE[] = "/usr/lib/firmware/optad/IMC.app";
constexpr const char DEBUG_MARKER_FILE[] = "/mnt/flash/root/enable_imc_debug";
constexpr const char IMC_STATUS_FILE[] = "/var/run/optad/imc_status";

// The simulated IMC's firmware revision when it leaves the factory.
constexpr int SIM_FACTORY_REVISION = 300;

struct BoardData {
    bool pmic_files = true;
    bool temperature_script = true;
    // Runs of the temperature script that fail before it succeeds.
    int temperature_failures = 0;
    // The firmware image: its revision and size; no image when size < 0.
    int firmware_revision = SIM_FACTORY_REVISION;
    int firmware_size = 64 * 1024;
};

// Installs what data asks for under root. False (with a test failure) when
// a file could not be written or the image could not be made.
bool install_board_data(const SandboxRoot &root, const BoardData &data = {});

// Makes a firmware image at a fixed path of root with make-imc-image and
// its arguments (for example {"--revision", "310", "--size", "1048576"}).
bool make_firmware_image(const SandboxRoot &root, const std::string &fixed_path,
                         const std::vector<std::string> &arguments);

// The image as make-imc-image writes it for this revision and size (read
// back from the file, for comparing the bytes the simulator received).
std::string read_firmware_image(const SandboxRoot &root, const std::string &fixed_path = FIRMWARE_FILE);

// Makes the rig's temperature script fail its next n runs.
void set_temperature_failures(const SandboxRoot &root, int n);

}  // namespace optad::test
