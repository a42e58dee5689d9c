// The status monitor's state that other threads read or restart.
//
// The monitor itself runs on the main loop at every camera status poll. The
// power sequences ask whether the IMC runs without heart-beat supervision.
// The D-Bus property handlers need three things from it: the lens focus switch
// (is the lens switched to auto focus?), the exposure time the IMC runs at
// now, and a way to restart the exposure-settle watch after an exposure
// setting was given again. The handlers run on the D-Bus thread and never
// wait for the main loop, so what they read is published by the main loop
// in atomics and what they ask for is picked up at the next poll.
#pragma once

#include <cstdint>

namespace optad {

// 1 when the lens is switched to auto focus (the last status byte 0x9C the
// start-up sync or the monitor saw), 0 otherwise.
int get_lens_focus_switch();
void set_lens_focus_switch(int value);

// The current exposure time in µs, from the shutter index of the saved
// status block as the main loop last published it; -1 when the index is
// out of range.
int get_current_shutter_time();
// Main loop: publishes the saved status block's shutter index (after each
// status check).
void publish_current_shutter_index(uint8_t index);

// Main loop: marks the exposure as settling again: the in-progress flag
// set, the deadline not started (the next poll starts it).
void start_exposure_settle_watch();
// Any thread: asks the main loop to do the same at its next poll.
void request_exposure_settle_watch();
// Main loop: whether a request is pending (taking it).
bool take_exposure_settle_request();

// 1 when the heart-beat word of the latest status reply (recv_buf bytes
// 0xA0 and 0xA1) is 0xFFFF, else 0. 0xFFFF means the IMC runs without
// heart-beat supervision, and the power sequences then leave the module's
// supplies alone. Reads whatever reply is in the buffer; requests nothing.
// Main loop only.
int is_heartbeat_unset();

}  // namespace optad
