// Runs a check the way the daemon meets file permissions on the camera: as
// an ordinary user. Test runs as root (containers, CI) would otherwise open
// any file whatever its mode.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace optad::test {

// In a forked child only: drop to "nobody" when running as root, after
// letting others into the sandbox directory (it is made 0700; the
// directories below it are made 0755). Returns false if that failed.
inline bool become_unprivileged(const std::string &sandbox_dir)
{
    if (geteuid() != 0)
        return true;
    return chmod(sandbox_dir.c_str(), 0755) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
}

}  // namespace optad::test
