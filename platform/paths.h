// Fixed file paths of the system and where they really are.
//
// Every fixed path the programs use (/etc/optad/optad.conf,
// /var/run/optad/..., /proc/interrupts, ...) goes through platform_path().
// On the camera it returns the path unchanged. The host build relocates the
// path under the sandbox root named by OPTAD_ROOT, so that a developer PC or
// a test can run the unmodified programs without touching the real files.
#pragma once

#include <string>

namespace optad {

// The real location of a fixed path (which must begin with '/').
std::string platform_path(const char *fixed_path);

// The sandbox root in force ("" on the camera, or when OPTAD_ROOT is unset).
const std::string &platform_root();

#ifdef OPTAD_HOST_BUILD
// Host build only: replace the sandbox root (tests give each case its own).
void platform_set_root(const std::string &root);
#endif

}  // namespace optad
