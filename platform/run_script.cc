#include "platform/run_script.h"

#include "platform/log.h"
#include "platform/paths.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace optad {

namespace {

// The path as one word for the shell: in single quotes, each quote inside
// written as '\'' so that no character of the path is ever interpreted.
std::string shell_quoted(const std::string &path)
{
    std::string word = "'";
    for (char c : path) {
        if (c == '\'')
            word += "'\\''";
        else
            word += c;
    }
    word += '\'';
    return word;
}

}  // namespace

int run_script(const char *fixed_path)
{
    const std::string command = shell_quoted(platform_path(fixed_path));
    const int status = std::system(command.c_str());
    if (status == -1) {
        const int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:run_script - Failed to start the shell for %s!\n", e, strerror(e),
                        fixed_path);
        return -1;
    }
    if (WIFSIGNALED(status)) {
        OPTAD_LOG_ERROR("ERROR:optad:run_script - %s was ended by signal %d!\n", fixed_path, WTERMSIG(status));
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace optad
