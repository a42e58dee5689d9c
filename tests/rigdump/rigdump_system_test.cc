// The host-built rigdump against the module simulator: a powered and an
// unpowered module, no simulator at all, and the argument handling.
#include "tests/support/rig.h"

#include <gtest/gtest.h>

#include <glib.h>

#include <algorithm>
#include <string>
#include <vector>

namespace optad {
namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs rigdump with the sandbox root and the given arguments.
Outcome rigdump(const test::SandboxRoot &root, const std::vector<std::string> &args)
{
    std::vector<std::string> cmd = test::program_command("rigdump");
    cmd.insert(cmd.end(), args.begin(), args.end());
    test::Program run(cmd, test::clean_environment({"OPTAD_ROOT=" + root.dir()}),
                      test::rig_dir(root) + "/rigdump");
    Outcome r;
    r.status = run.wait(test::scaled_ms(30000));
    EXPECT_GE(r.status, 0) << "rigdump still runs";
    r.out = run.text(test::Program::Stream::Out);
    r.err = run.text(test::Program::Stream::Err);
    return r;
}

std::string usage_text()
{
    return "Usage: " + test::program_command("rigdump").back() +
           " [do]\n  --all                    Prints all camera info\n"
           "  -h, -u, --help, --usage  Prints usage of rigdump\n";
}

int count_lines(const std::string &text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

const char *const NO_STATUS_SECTIONS[] = {
    "Firmware:                      Couldn't retrieve status!\n",
    "Camera Serial ID:              Couldn't retrieve status!\n",
    "Mounted Lens Information:      Couldn't retrieve status!\n",
    "Lens Status:                   Couldn't retrieve status!\n",
    "Lens Drive Status:             Couldn't retrieve status!\n",
    "Sunlight Protector Status:     Couldn't retrieve status!\n",
    "Camera Status Dump:            Couldn't retrieve status!\n",
};

// The module simulator in a bare sandbox; rigdump needs no bus.
class RigdumpSim : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rig.ok()); }
    test::Rig rig{test::RigOptions()
                      .with_simulator({"--set", "req_period_ms=5", "--set", "req_high_ms=3"})
                      .without_bus()
                      .without_camera_directories()};
    test::SandboxRoot &root = rig.root();
    test::Simulator &sim = rig.sim();
};

TEST_F(RigdumpSim, PoweredModulePrintsEverySectionAndSucceeds)
{
    ASSERT_TRUE(sim.ok("power on"));
    ASSERT_TRUE(sim.wait_for("show state", "imc running"));
    ASSERT_TRUE(sim.ok("clear all"));
    root.write("/lib/persistent/var/lib/optics/image_stabilization_total_time", "7199\n");
    // The simulator keeps /proc/interrupts (its timer row moves with time).
    for (int i = 0; i < 100 && !g_file_test(root.path("/proc/interrupts").c_str(), G_FILE_TEST_EXISTS); ++i)
        g_usleep(20'000);
    Outcome r = rigdump(root, {"--all"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const char *const sections[] = {
        "Firmware:                      300\n",
        "Mounted Lens Information:      Canon EF 50mm f/1.4 USM\n",
        "Lens Status:                   Attached\n",
        "Lens Drive Status:             Not running\n",
        "Sunlight Protector Status:     Closed\n",
        "Image Stabilization Time:      1 hour(s)\n\nFPGA Status:                   \n rw_capt:",
        " io_exp:                       0x30\n\nGPIO States:\n Name                          Dir  State\n",
        " imc_dcdc_en                   out  1\n",
        " imc_fwup_cmplt                in   0\n\nCamera Status Dump:            \n",
        "\n      0 1 2 3 4 5 6 7 8 9 A B C D E F    0 1 2 3 4 5 6 7 8 9 A B C D E F\n000: ",
        "\n1F0: ",
        "\nInterrupts:                    \n  ",
        "\n!  17:",  // the timer row moved in the half second between the reads
    };
    for (const char *s : sections)
        EXPECT_NE(r.out.find(s), std::string::npos) << "missing: " << s << "\n" << r.out;
    // The serial id: 16 characters, each printed as a digit value.
    size_t serial = r.out.find("Camera Serial ID:              ");
    ASSERT_NE(serial, std::string::npos);
    std::string line = r.out.substr(serial + 31, r.out.find('\n', serial) - serial - 31);
    EXPECT_EQ(line.find_first_not_of("0123456789"), std::string::npos) << line;
    // First snapshot, the firmware decoder's fresh block, second snapshot.
    EXPECT_EQ(sim.ctl("log imc"), "00f8000800f80000\n00f8000800f80000\n00f8000800f80000\n");
    EXPECT_EQ(sim.violations(), "");
    // 16 GPIO rows, 32 dump rows.
    size_t gpio = r.out.find(" Name ");
    size_t dump = r.out.find("Camera Status Dump");
    EXPECT_EQ(count_lines(r.out.substr(gpio, dump - gpio)), 1 + 16 + 1);
    EXPECT_EQ(r.err, "");
}

TEST_F(RigdumpSim, UnpoweredModuleIsNotAskedForStatus)
{
    ASSERT_TRUE(sim.ok("power off"));
    ASSERT_TRUE(sim.ok("clear all"));
    Outcome r = rigdump(root, {"--all"});
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    EXPECT_EQ(sim.ctl("log imc"), "");
    for (const char *s : NO_STATUS_SECTIONS)
        EXPECT_NE(r.out.find(s), std::string::npos) << "missing: " << s << "\n" << r.out;
    EXPECT_NE(r.out.find(" imc_dcdc_en                   out  0\n"), std::string::npos);
    EXPECT_NE(r.out.find("Image Stabilization Time:      0 hour(s)\n"), std::string::npos);
}

TEST_F(RigdumpSim, FpgaFailureOnlyChangesTheExitStatus)
{
    ASSERT_TRUE(sim.ok("power on"));
    ASSERT_TRUE(sim.wait_for("show state", "imc running"));
    ASSERT_TRUE(sim.ok("fault device /dev/spidev3.0 missing"));
    Outcome r = rigdump(root, {"--all"});
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.out.find("FPGA Status:                   Failed\n\nGPIO States:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Firmware:                      300\n"), std::string::npos);
    EXPECT_NE(r.out.find("000: "), std::string::npos);
}

TEST_F(RigdumpSim, UnknownArgumentOpensTheLinkThenExitsFive)
{
    ASSERT_TRUE(sim.ok("power on"));
    ASSERT_TRUE(sim.wait_for("show state", "imc running"));
    ASSERT_TRUE(sim.ok("clear all"));
    Outcome r = rigdump(root, {"--foo"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "Argument not supported!\n");
    EXPECT_EQ(r.out, usage_text());
    EXPECT_EQ(sim.ctl("log imc"), "00f8000800f80000\n") << "the first status request comes before the check";
}

TEST(RigdumpNoSim, LinkFailureExitsTwo)
{
    test::SandboxRoot root;
    for (const char *arg : {"--all", "--foo"}) {
        Outcome r = rigdump(root, {arg});
        EXPECT_EQ(r.status, 2) << arg;
        EXPECT_EQ(r.out, "") << arg;
        EXPECT_NE(r.err.find("Failed to open and init SPI to Image Chip!\n"), std::string::npos) << r.err;
    }
}

TEST(RigdumpNoSim, UsageNeverOpensTheLink)
{
    // Without a simulator opening the link fails (exit 2): 0 proves it was
    // never opened.
    test::SandboxRoot root;
    for (const char *arg : {"-h", "--help", "-u", "--usage"}) {
        Outcome r = rigdump(root, {arg});
        EXPECT_EQ(r.status, 0) << arg;
        EXPECT_EQ(r.out, usage_text()) << arg;
        EXPECT_EQ(r.err, "") << arg;
    }
    Outcome r = rigdump(root, {"-hx"});
    EXPECT_EQ(r.status, 2) << "only the exact two characters -h";
}

TEST(RigdumpNoSim, OneArgumentRequired)
{
    test::SandboxRoot root;
    for (const std::vector<std::string> &args : {std::vector<std::string>{}, {"--all", "--all"}}) {
        Outcome r = rigdump(root, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "One argument required!\n");
        EXPECT_EQ(r.out, usage_text());
    }
}

}  // namespace
}  // namespace optad
