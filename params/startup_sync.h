// The start-up parameter sync: after each power-up with current firmware,
// bring the module's whole image configuration in line with the parameter
// table before the video stream is declared ready.
//
// Driven by the daemon state: the first status poll in
// OPTAD_STARTUP_UPDATE_PARAMS runs init_imc_params (queues every parameter
// job, or only the capture-mode job when the IMC runs another mode); every
// poll in OPTAD_STARTUP_WAIT_UPDATE runs startup_check_confirmations, which
// queues JT_WAIT_STREAM once no parameter job is pending. Main-loop thread,
// holding no lock.
#pragma once

namespace optad {

// Copies the configured CaptureMode's row into the capture settings record
// (an invalid mode: logged, and the row of mode 1 is used, the mode the
// capture-mode job sends for such a value).
void capture_mode_init();

// capture_mode_init, then the main SoC's video input window and the FPGA
// for that size. Returns the FPGA's result (callers ignore it).
int startup_init_nwc_params();

// First status poll after the firmware check (recv_buf and scam_sts hold
// the IMC's status): opens the IMC-ready gate, sets up the video path,
// publishes limits, lens and day/night state, queues the start-up push.
// Leaves the daemon in OPTAD_STARTUP_WAIT_UPDATE.
void init_imc_params();

// Queues JT_WAIT_STREAM once no parameter job is pending.
void startup_check_confirmations();

}  // namespace optad
