#include "tests/daemon/daemon_fixture.h"

#include "daemon/main_loop.h"
#include "daemon/ops.h"
#include "imc/spi.h"
#include "imc/status_block.h"

#include <cstring>

namespace optad::test {

void PauseClock::sleep_us(int64_t us)
{
    sleeps.push_back(us);
    bool free = false;
    if (job_list_mutex != nullptr && g_mutex_trylock(job_list_mutex)) {
        free = true;
        g_mutex_unlock(job_list_mutex);
    }
    mutex_free_while_sleeping.push_back(free);
    VirtualClock::sleep_us(us);
}

void DaemonTest::SetUp()
{
    process_state_reset_for_tests();
    ASSERT_EQ(sync_objects_create(), 0);
    install_fake_ops();
    imc_buffers.send_buf = fakes().send_buf;
    imc_buffers.recv_buf = fakes().recv_buf;
    s_capture = capture_settings_initial();
    std::memset(scam_sts, 0, sizeof scam_sts);
    // The real status checks read the link's own reply buffer.
    std::memset(spi_recv_buffer(), 0, SPI_BUFFER_SIZE);
    std::memset(spi_send_buffer(), 0, SPI_BUFFER_SIZE);
    clock_set_source(&clock);
}

void DaemonTest::TearDown()
{
    clock_set_source(nullptr);
    process_state_reset_for_tests();
    daemon_ops = default_daemon_ops();
}

void DaemonTest::queue(std::initializer_list<int> ids)
{
    for (int id : ids)
        ASSERT_EQ(queue_job(id, false), 0);
}

std::vector<int> DaemonTest::jobs() const
{
    std::vector<int> v;
    for (size_t i = 0; i < job_list.size(); i++)
        v.push_back(job_list.at(i));
    return v;
}

bool DaemonTest::work()
{
    return main_loop_work();
}

}  // namespace optad::test
