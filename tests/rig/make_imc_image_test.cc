// make-imc-image, the rig's firmware images: the daemon reads back the
// revision asked for, the bytes are the same for the same arguments, and bad
// arguments end it with status 1.
#include "imc/firmware.h"
#include "tests/support/program.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

namespace optad::test {
namespace {

constexpr const char IMAGE[] = "/usr/lib/firmware/optad/IMC.app";

class MakeImcImage : public ::testing::Test {
protected:
    // Runs the tool with these arguments; its exit status.
    int run(const std::vector<std::string> &arguments)
    {
        std::vector<std::string> argv = program_command("make-imc-image");
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Program p(argv, clean_environment(), rig_dir(root) + "/make-imc-image");
        const int status = p.wait(scaled_ms(60000));
        err = p.text(Program::Stream::Err);
        return status;
    }
    // The same with a file at a fixed path (made empty first) as output.
    int make(std::vector<std::string> arguments, const std::string &fixed = IMAGE)
    {
        root.write(fixed, "");
        arguments.push_back(root.path(fixed));
        return run(arguments);
    }
    long size_of(const std::string &fixed = IMAGE)
    {
        struct stat st;
        return ::stat(root.path(fixed).c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
    }

    SandboxRoot root;
    LogCapture log{false};
    std::string err;
};

TEST_F(MakeImcImage, TheDaemonReadsTheRevisionBackAtEverySize)
{
    struct Case {
        long size;
        int revision;
    } cases[] = {{0, -1}, {1, -1}, {59, -1}, {60, 310}, {61, 310}, {4093, 310}, {1 << 20, 310}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        ASSERT_EQ(make({"--revision", "310", "--size", std::to_string(c.size)}), 0) << err;
        EXPECT_EQ(size_of(), c.size);
        EXPECT_EQ(get_firmware_file_revision(), c.revision);
    }
    ASSERT_EQ(make({"--revision", "7", "--size", "100"}), 0);
    EXPECT_EQ(get_firmware_file_revision(), 7);
}

TEST_F(MakeImcImage, TheVersionTextAndThePayload)
{
    ASSERT_EQ(make({"--revision", "310", "--size", "200"}), 0) << err;
    const std::string image = root.read(IMAGE);
    ASSERT_EQ(image.size(), 200u);
    const std::string text = "IMC application Rev.310 2026-12-08";
    EXPECT_EQ(image.substr(0, 60), text + std::string(60 - text.size(), '\0'));

    // The same arguments give the same bytes; another revision another
    // payload, which is no constant filler.
    ASSERT_EQ(make({"--revision", "310", "--size", "200"}), 0);
    EXPECT_EQ(root.read(IMAGE), image);
    ASSERT_EQ(make({"--revision", "311", "--size", "200"}), 0);
    EXPECT_NE(root.read(IMAGE).substr(60), image.substr(60));
    int distinct[256] = {};
    int kinds = 0;
    for (size_t i = 60; i < image.size(); ++i)
        kinds += distinct[static_cast<unsigned char>(image[i])]++ == 0;
    EXPECT_GT(kinds, 64);
}

TEST_F(MakeImcImage, TextAndMarkerOptions)
{
    ASSERT_EQ(make({"--revision", "310", "--size", "100", "--no-marker"}), 0) << err;
    EXPECT_EQ(root.read(IMAGE).substr(0, 30), "IMC application 310 2026-12-08");
    EXPECT_EQ(get_firmware_file_revision(), 0);

    ASSERT_EQ(make({"--revision", "310", "--size", "100", "--version-text", "Build Rev.42 "}), 0) << err;
    EXPECT_EQ(get_firmware_file_revision(), 42);
    ASSERT_EQ(make({"--revision", "12345", "--size", "100"}), 0) << err;
    EXPECT_EQ(get_firmware_file_revision(), -1) << "no blank within five characters";
}

TEST_F(MakeImcImage, TensOfMebibytes)
{
    const long size = 24L * 1024 * 1024 + 3;
    ASSERT_EQ(make({"--revision", "9", "--size", std::to_string(size)}), 0) << err;
    EXPECT_EQ(size_of(), size);
    EXPECT_EQ(get_firmware_file_revision(), 9);
}

TEST_F(MakeImcImage, BadArgumentsEndWithStatusOne)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--size", "100"},
        {"--revision", "1"},
        {"--revision", "x1", "--size", "100"},
        {"--revision", "-1", "--size", "100"},
        {"--revision", "1", "--size", "12k"},
        {"--revision", "1", "--size", "99999999999"},
        {"--revision", "1", "--size", "100", "--colour"},
        {"--revision", "1", "--size", "100", "--version-text", std::string(61, 'v')},
        {"--revision", "1", "--size", "100", "second-output"},
        {"--revision"},
    };
    for (const std::vector<std::string> &arguments : bad) {
        SCOPED_TRACE(arguments.back());
        EXPECT_EQ(make(arguments, "/rig/out/image"), 1);
        EXPECT_NE(err.find("make-imc-image: "), std::string::npos) << err;
        EXPECT_NE(err.find("usage: make-imc-image --revision N --size BYTES"), std::string::npos) << err;
        EXPECT_EQ(size_of("/rig/out/image"), 0) << "nothing written";
    }

    EXPECT_EQ(run({"--revision", "1", "--size", "1"}), 1);
    EXPECT_NE(err.find("the output file is missing"), std::string::npos) << err;
}

TEST_F(MakeImcImage, AnUnwritableOutputIsAFailure)
{
    // A directory where the image should go.
    EXPECT_EQ(run({"--revision", "1", "--size", "10", rig_dir(root)}), 1);
    EXPECT_NE(err.find("make-imc-image: cannot create"), std::string::npos) << err;
}

}  // namespace
}  // namespace optad::test
