// Durable replacement of a small file's whole content: the camera's file
// utility call that persistent counters are written with.
//
// The new content reaches the file through file_replace(): written to a
// temporary file beside it, synced, renamed over it, so that a power cut at
// any moment leaves either the old content or the new one, never a torn
// file. The call has C linkage so that the platform's library can be
// linked in place of this implementation on the camera; ours serves the
// host build and, where asked for, stands in on the camera.
#pragma once

#include <cstddef>

extern "C" {

// Replaces the content of the file at path (a fixed path, mapped here with
// platform_path) with the length bytes at contents and syncs it. A file that
// did not exist is created with mode 0644; an existing one keeps its mode
// and owner. The directory must exist. Returns non-zero on success, 0 on
// failure with errno set (the file is then as it was).
int storix_set_file_contents_with_sync(const char *path, const char *contents, size_t length);

}  // extern "C"
