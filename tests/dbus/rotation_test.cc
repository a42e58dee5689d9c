// The rotation client's handling of a reported rotation: 0 and 180 degrees
// are stored as ImageRotation and, while the IMC runs, sent to it.
#include "config/param_settings.h"
#include "daemon/job_queue.h"
#include "dbus/rotation_service_dbus.h"
#include "tests/dbus/service_fixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace optad {
namespace {

using test::Change;
using Jobs = std::vector<int>;

class Rotation : public test::ServiceTest {
protected:
    // As the signal handler runs it, holding no lock.
    void rotated(int degrees) { handle_rotation_changed(degrees); }
};

TEST_F(Rotation, UpsideDownIsStoredAndToldToTheImcEveryTime)
{
    imc_ready(true);
    rotated(180);
    EXPECT_EQ(param(PARAM_IMAGE_ROTATION), "1");
    EXPECT_EQ(conf("Rotation1", "ImageRotation"), "1");
    EXPECT_EQ(jobs(), Jobs{41});
    // The same rotation again is sent again once the main loop has taken
    // the first job; while that one waits, the two are one.
    rotated(180);
    EXPECT_EQ(jobs(), Jobs{41});
    clear_jobs();
    rotated(180);
    EXPECT_EQ(jobs(), Jobs{41});
    rotated(0);
    EXPECT_EQ(param(PARAM_IMAGE_ROTATION), "0");
    EXPECT_EQ(jobs(), Jobs{41});
    EXPECT_EQ(changes(), (std::vector<Change>{{"ImageRotation", "1"}, {"ImageRotation", "0"}}));
    EXPECT_TRUE(log.lines().empty()) << log.text();
}

TEST_F(Rotation, WithTheImcNotReadyOnlyStored)
{
    imc_ready(false);
    rotated(180);
    EXPECT_EQ(param(PARAM_IMAGE_ROTATION), "1");
    EXPECT_TRUE(jobs().empty());
}

TEST_F(Rotation, OtherAnglesAreRefused)
{
    imc_ready(true);
    for (int degrees : {90, 270, -180, 360, 1}) {
        log.clear();
        rotated(degrees);
        EXPECT_EQ(log.count("ERROR:optad:rotation_service_dbus:handle_rotation_changed - Invalid rotation value: " +
                            std::to_string(degrees) + "\n"),
                  1)
            << log.text();
    }
    EXPECT_EQ(param(PARAM_IMAGE_ROTATION), "0");
    EXPECT_TRUE(jobs().empty());
    EXPECT_TRUE(changes().empty());
}

}  // namespace
}  // namespace optad
