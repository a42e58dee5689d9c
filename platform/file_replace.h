// Atomic replacement of a file that other processes read.
//
// The daemon's configuration file, the mapping files the configuration
// system reads and the run-time status files are all replaced the same way:
// the new content goes to a temporary file in the target's own directory,
// which is then renamed over the target, so that a reader sees either the
// old file or the new one whole, never a mix, and never a missing file.
//
// What the target is stays what it was. A symbolic link (or a chain of them,
// absolute or relative) is followed and the file it finally names is
// replaced; the link itself stays a link. An existing file keeps its
// permission bits and its owner and group. Only a file that did not exist
// yet gets the mode the caller asks for.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace optad {

// Which part of a failed replacement went wrong, for callers whose messages
// tell "could not open" from "could not write".
enum class FileReplaceStep {
    OPEN,   // the target could not be looked up or no temporary file created
    WRITE,  // setting owner or mode, writing, syncing or renaming failed
};

// Replaces the file at real_path (already mapped with platform_path) with
// the len bytes at data, atomically, and returns 0 once the new content is
// in place and on stable storage.
//
// Symbolic links are followed (at most 40, like a path lookup in the
// kernel). A link that names nothing (dangling) gets its target created,
// just as open(2) with O_CREAT through such a link would. An existing
// target keeps its permission bits (set-id and sticky bits included), owner
// and group; a new one gets new_file_mode exactly, whatever the process's
// umask. The directory that is to hold the target must exist: it is never
// created here.
//
// On failure returns -errno, the target is as it was and no temporary file
// is left behind; *failed_step (when given) says where it failed. Failures
// are logged at DEBUG with their detail; the caller logs its own message.
int file_replace(const char *real_path, const void *data, size_t len, mode_t new_file_mode,
                 FileReplaceStep *failed_step = nullptr);

}  // namespace optad
