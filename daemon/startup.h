// optad's start-up and the teardown after a failed start.
//
// Start-up runs on the main thread in a fixed order: load the parameter
// table, create the shared synchronisation objects, open the IMC link, close
// the IMC-ready gate, start the D-Bus listener thread, wait for the image
// pipeline service (however late it comes), set up the capture mode, start the three GPIO listener
// threads, write the legacy mapping files, fill the data cache and the lens
// status cache, register with the power budget service, and queue the first
// job. The main thread then becomes the main loop for good.
#pragma once

namespace optad {

// The whole of the daemon's main: start-up, then the main loop (never
// returns) or, after a failed start, the teardown (returns 0).
int optad_main();

// Start-up steps up to queueing JT_CHECK_POWER. Returns 0 when the main loop
// may run, -1 when the start failed and the teardown must follow.
int daemon_start();

// The teardown: join the threads that were started (a started D-Bus
// listener thread never ends, so neither does this wait), stop the stream,
// close the link, free the event producer, the synchronisation objects, the
// job list and the parameter values. Logs the exit line and returns 0.
int daemon_teardown();

}  // namespace optad
