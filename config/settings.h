// The key-file store under the parameter table.
//
// A thin layer over GLib key files for the daemon's configuration file. On
// top of the plain key-file calls it accepts files written in ISO-8859-1
// (converted to UTF-8 on reading), unwraps string values that were stored in
// double quotes, and checks every call for a missing key file, logging
// instead of failing hard. The file is opened, changed and written back as a
// whole on every use; nothing stays open between uses.
//
// Paths are the system's fixed paths ("/etc/optad/optad.conf"); they are
// relocated with platform_path() only where the file is touched, and the
// messages name the fixed path.
#pragma once

#include <glib.h>

#include <memory>

namespace optad {

// Opens the key file at path. *existed is set to 1 when a file was there and
// to 0 when not; a missing file is not a failure and gives a new, empty key
// file (the first write creates it). Returns nullptr (logged) when the file
// exists but cannot be opened for reading and writing, read, converted or
// parsed. The caller frees the result with settings_free().
GKeyFile *settings_open(const char *path, int *existed);

// Frees a key file from settings_open(); accepts nullptr.
void settings_free(GKeyFile *key_file);

// The stored string, unwrapped from surrounding double quotes, or a copy of
// def (nullptr when def is nullptr). Newly allocated; free with g_free().
char *settings_get_string(GKeyFile *key_file, const char *group, const char *key,
                          const char *def);

// The stored integer; def when the key is missing, does not hold an integer,
// or the key file is missing.
int settings_get_int(GKeyFile *key_file, const char *group, const char *key, int def);

// 0 on success, -1 when the key file is missing.
int settings_set_string(GKeyFile *key_file, const char *group, const char *key,
                        const char *value);
int settings_set_int(GKeyFile *key_file, const char *group, const char *key, int value);

// true when the key was there and is removed; false otherwise.
bool settings_remove_key(GKeyFile *key_file, const char *group, const char *key);

// Saves the whole key file to path, replacing the old file atomically
// (temporary file in the same directory, then rename). 1 on success, 0 on
// failure.
int settings_write_to_disk(GKeyFile *key_file, const char *path);

struct SettingsDeleter {
    void operator()(GKeyFile *key_file) const { settings_free(key_file); }
};
// Owning handle for a key file from settings_open().
using SettingsPtr = std::unique_ptr<GKeyFile, SettingsDeleter>;

}  // namespace optad
