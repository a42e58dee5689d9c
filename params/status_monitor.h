// The status monitor's state that other threads read or restart.
//
// The monitor itself runs on the main loop at every camera status poll. The
// power sequences ask whether the IMC runs without heart-beat supervision.
// The D-Bus property handlers need three things from it: the lens focus switch
// (is the lens switched to auto focus?), the exposure time the IMC runs at
// now, and a way to restart the exposure-settle watch after an exposure
// setting was given again. The handlers call these with the job-list mutex
// held, which the main loop also holds while it polls.
#pragma once

namespace optad {

// 1 when the lens is switched to auto focus (the last status byte 0x9C the
// start-up sync or the monitor saw), 0 otherwise.
int get_lens_focus_switch();
void set_lens_focus_switch(int value);

// The current exposure time in µs, from the shutter index of the saved
// status block; -1 when the index is out of range.
int get_current_shutter_time();

// Marks the exposure as settling again: the in-progress flag set, the
// deadline not started (the next poll starts it).
void start_exposure_settle_watch();

// 1 when the heart-beat word of the latest status reply (recv_buf bytes
// 0xA0 and 0xA1) is 0xFFFF, else 0. 0xFFFF means the IMC runs without
// heart-beat supervision, and the power sequences then leave the module's
// supplies alone. Reads whatever reply is in the buffer; requests nothing.
// Main loop only.
int is_heartbeat_unset();

}  // namespace optad
