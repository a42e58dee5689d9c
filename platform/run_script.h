// Running a shell script that the camera's image supplies at a fixed path.
//
// The script runs through the system shell, as system(3) runs a command, and
// only its exit status is used. The path goes through platform_path(), so
// the host build runs the copy under its sandbox root.
#pragma once

namespace optad {

// Runs the script at fixed_path through /bin/sh and waits for it. Returns
// its exit status (0 to 255; the shell's 127 when the script is missing and
// 126 when it is not executable), or -1 (logged) when no shell could be
// started or the script was ended by a signal.
int run_script(const char *fixed_path);

}  // namespace optad
