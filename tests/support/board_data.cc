#include "tests/support/board_data.h"

#include "tests/support/program.h"

#include <gtest/gtest.h>

#include <glib/gstdio.h>
#include <glib.h>

#include <sys/stat.h>

namespace optad::test {

namespace {

std::string source_file(const char *name)
{
    return std::string(OPTAD_SOURCE_DIR) + "/tests/rig/board/" + name;
}

bool copy_file(const SandboxRoot &root, const std::string &from, const char *fixed, mode_t mode)
{
    g_autofree char *content = nullptr;
    gsize length = 0;
    g_autoptr(GError) error = nullptr;
    if (!g_file_get_contents(from.c_str(), &content, &length, &error)) {
        ADD_FAILURE() << "cannot read " << from << ": " << error->message;
        return false;
    }
    root.write(fixed, std::string(content, length));
    if (g_chmod(root.path(fixed).c_str(), mode) != 0) {
        ADD_FAILURE() << "cannot chmod " << root.path(fixed);
        return false;
    }
    return true;
}

}  // namespace

bool install_board_data(const SandboxRoot &root, const BoardData &data)
{
    bool ok = true;
    if (data.pmic_files) {
        ok = copy_file(root, source_file("imc_pmic_init_cmd_de"), PMIC_FILE_DE, 0644) && ok;
        ok = copy_file(root, source_file("imc_pmic_init_cmd_dc"), PMIC_FILE_DC, 0644) && ok;
    }
    if (data.temperature_script) {
        ok = copy_file(root, source_file("optad_temperature.sh"), TEMPERATURE_SCRIPT, 0755) && ok;
        set_temperature_failures(root, data.temperature_failures);
    }
    if (data.firmware_size >= 0) {
        ok = make_firmware_image(root, FIRMWARE_FILE,
                                 {"--revision", std::to_string(data.firmware_revision), "--size",
                                  std::to_string(data.firmware_size)}) &&
             ok;
    }
    return ok;
}

bool make_firmware_image(const SandboxRoot &root, const std::string &fixed_path,
                         const std::vector<std::string> &arguments)
{
    const std::string path = root.path(fixed_path);
    g_autofree char *dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0755);
    std::vector<std::string> argv = program_command("make-imc-image");
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    argv.push_back(path);
    Program maker(argv, clean_environment(), rig_dir(root) + "/make-imc-image");
    const int status = maker.wait(scaled_ms(30000));
    if (status != 0) {
        ADD_FAILURE() << "make-imc-image ended with " << status << ": " << maker.text(Program::Stream::Err);
        return false;
    }
    return true;
}

std::string read_firmware_image(const SandboxRoot &root, const std::string &fixed_path)
{
    return root.read(fixed_path);
}

void set_temperature_failures(const SandboxRoot &root, int n)
{
    // The script keeps its counter next to itself.
    root.write("/usr/bin/optad_temperature.fail", std::to_string(n) + "\n");
}

}  // namespace optad::test
