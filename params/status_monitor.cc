#include "params/status_monitor.h"

#include "config/shutter_table.h"
#include "imc/spi.h"
#include "imc/status_block.h"

#include <atomic>

namespace optad {

namespace {

// Read by the D-Bus thread without the main loop's cooperation, so atomic.
std::atomic<int> lens_focus_switch{0};
// Published by the main loop for the D-Bus thread.
std::atomic<uint8_t> current_shutter_index{0};
// Set by the D-Bus thread, taken by the main loop's settle watch.
std::atomic<bool> settle_requested{false};

}  // namespace

int get_lens_focus_switch()
{
    return lens_focus_switch.load(std::memory_order_relaxed);
}

void set_lens_focus_switch(int value)
{
    lens_focus_switch.store(value, std::memory_order_relaxed);
}

int get_current_shutter_time()
{
    return shutter_index_to_time(current_shutter_index.load(std::memory_order_relaxed));
}

void publish_current_shutter_index(uint8_t index)
{
    current_shutter_index.store(index, std::memory_order_relaxed);
}

void request_exposure_settle_watch()
{
    settle_requested.store(true, std::memory_order_relaxed);
}

bool take_exposure_settle_request()
{
    return settle_requested.load(std::memory_order_relaxed) &&
           settle_requested.exchange(false, std::memory_order_relaxed);
}

int is_heartbeat_unset()
{
    const uint8_t *reply = spi_recv_buffer();
    return reply[STS_HEART_BEAT] == 0xFF && reply[STS_HEART_BEAT + 1] == 0xFF ? 1 : 0;
}

}  // namespace optad
