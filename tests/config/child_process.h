// Checks that run in a forked child: the death tests and the checks that
// need the file permissions an ordinary user meets on the camera.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace optad::test {

// In a forked child only: drop to "nobody" when running as root (test runs
// as root would otherwise open any file whatever its mode), after letting
// others into the sandbox directory (it is made 0700; the directories below
// it are made 0755). Returns false if that failed.
inline bool become_unprivileged(const std::string &sandbox_dir)
{
    if (geteuid() != 0)
        return true;
    return chmod(sandbox_dir.c_str(), 0755) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
}

}  // namespace optad::test
