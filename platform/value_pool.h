// The camera's status cache: named groups of named values that the daemon
// publishes and other processes of the camera read (the lens name, group
// "LENS", parameter "INFO").
//
// These are the cache library's calls as the daemon uses them, with C
// linkage so that the platform's library can be linked in their place on
// the camera. Our own implementation (value_pool.cc) serves the host build
// and, where asked for, stands in on the camera. Its storage:
//
//   - one text file per group, /var/run/valuepool/<group> (mapped with
//     platform_path, so under the sandbox root on the host), mode 0644;
//   - one line per parameter, "name=value\n", in the order the parameters
//     were first set; in a value a backslash is written "\\", a newline
//     "\n" and a carriage return "\r", so that every value stays on its
//     line whatever bytes it holds;
//   - every change replaces the file atomically (file_replace), so a reader
//     sees the group before or after the change, never a half-written file.
//
// A group has one writer (the process that created it); writers of the
// same group from several processes are not serialised. Group names are
// plain file names (no '/', not "." or ".."); parameter names hold no '=',
// newline or carriage return.
//
// Only string parameters (VP_TYPE_STRING) are supported: the value is the
// buffer's text up to its first NUL, at most size bytes.
#pragma once

#include <cstddef>

namespace optad {

// The fixed directory of our implementation's group files.
inline constexpr const char *VALUE_POOL_DIR = "/var/run/valuepool";

}  // namespace optad

extern "C" {

// Type codes of a parameter record.
enum { VP_TYPE_STRING = 3 };

// Flags of vp_set_group: create the group first when it does not exist.
enum { VP_FLAG_CREATE = 2 };

// One parameter as the caller describes it: its name, the size of its
// buffer, the buffer holding its value, and its type code.
struct vp_param {
    const char *name;
    size_t size;
    void *buffer;
    int type;
};

// Creates the group (its directory too) when it does not exist yet; an
// existing group stays as it is. size is the capacity the caller asks for
// and must be above 0 (the files grow as needed; the values are bounded by
// their buffers). flags: none defined, pass 0. Returns 0, or -1 with errno
// set (EINVAL for a bad name or size, else the file system's errno).
int vp_create_group(const char *name, int size, int flags);

// Sets count parameters of the group, adding those it does not hold yet.
// Without VP_FLAG_CREATE in flags, a group not created yet fails with -1
// and errno ENOENT. Returns the number of parameters set (a parameter with
// a bad name or type is left out, errno EINVAL), or -1 with errno set when
// the group could not be read or written (then nothing changed).
int vp_set_group(const char *name, const vp_param *params, int count, int flags);

}  // extern "C"
