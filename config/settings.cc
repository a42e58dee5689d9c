#include "config/settings.h"

#include "platform/file_replace.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <cstring>
#include <string>

namespace optad {

#define SETTINGS_ERROR(func, fmt, ...) \
    OPTAD_LOG_ERROR("ERROR:optad:settings:%s - " fmt, func, ##__VA_ARGS__)

namespace {

bool key_file_missing(GKeyFile *key_file, const char *func)
{
    if (key_file != nullptr)
        return false;
    SETTINGS_ERROR(func, "Key file is not opened!\n");
    return true;
}

// A value written as "text" by hand or by an older tool: keep what follows
// the opening quote up to the next quote (or the end), in place.
void unwrap_quotes(char *value)
{
    size_t len = std::strlen(value);
    if (len == 0 || value[0] != '"' || value[len - 1] != '"')
        return;
    const char *start = value + 1;
    const char *end = std::strchr(start, '"');
    size_t keep = end != nullptr ? static_cast<size_t>(end - start) : std::strlen(start);
    std::memmove(value, start, keep);
    value[keep] = '\0';
}

struct ChannelDeleter {
    void operator()(GIOChannel *channel) const { g_io_channel_unref(channel); }
};

}  // namespace

GKeyFile *settings_open(const char *path, int *existed)
{
    const std::string real = platform_path(path);
    int unused = 0;
    if (existed == nullptr)
        existed = &unused;

    if (!g_file_test(real.c_str(), G_FILE_TEST_EXISTS)) {
        *existed = 0;
        return g_key_file_new();
    }
    *existed = 1;

    // "r+" on purpose: a file the daemon could read but not write back would
    // silently stop persisting changes, so it counts as not openable.
    g_autoptr(GError) error = nullptr;
    std::unique_ptr<GIOChannel, ChannelDeleter> channel(
        g_io_channel_new_file(real.c_str(), "r+", &error));
    if (!channel) {
        SETTINGS_ERROR("settings_open", "Could not open file '%s': %s\n", path, error->message);
        return nullptr;
    }
    if (g_io_channel_set_encoding(channel.get(), nullptr, &error) != G_IO_STATUS_NORMAL) {
        SETTINGS_ERROR("settings_open", "Failed to read '%s': %s\n", path, error->message);
        return nullptr;
    }

    g_autofree char *raw = nullptr;
    gsize raw_len = 0;
    if (g_io_channel_read_to_end(channel.get(), &raw, &raw_len, &error) != G_IO_STATUS_NORMAL) {
        SETTINGS_ERROR("settings_open", "Failed to read '%s': %s\n", path,
                       error != nullptr ? error->message : "unknown error");
        return nullptr;
    }
    channel.reset();

    const char *text = raw != nullptr ? raw : "";
    gsize text_len = raw_len;
    g_autofree char *converted = nullptr;
    if (!g_utf8_validate(text, static_cast<gssize>(text_len), nullptr)) {
        // Older tools wrote the file in ISO-8859-1. The converted text is
        // longer than what was read (every byte above 0x7F becomes two), so
        // its own length is used from here on.
        gsize converted_len = 0;
        converted = g_convert(text, static_cast<gssize>(text_len), "UTF-8", "ISO-8859-1", nullptr,
                              &converted_len, &error);
        if (converted == nullptr) {
            SETTINGS_ERROR("settings_open", "Could not convert file '%s' from ISO-8859-1: %s\n",
                           path, error->message);
            return nullptr;
        }
        text = converted;
        text_len = converted_len;
    }

    GKeyFile *key_file = g_key_file_new();
    if (!g_key_file_load_from_data(key_file, text, text_len, G_KEY_FILE_NONE, &error)) {
        SETTINGS_ERROR("settings_open", "Could not load settings from '%s': %s\n", path,
                       error->message);
        g_key_file_free(key_file);
        return nullptr;
    }
    return key_file;
}

void settings_free(GKeyFile *key_file)
{
    if (key_file != nullptr)
        g_key_file_free(key_file);
}

char *settings_get_string(GKeyFile *key_file, const char *group, const char *key, const char *def)
{
    if (key_file_missing(key_file, "settings_get_string"))
        return g_strdup(def);
    char *value = g_key_file_get_string(key_file, group, key, nullptr);
    if (value == nullptr)
        return g_strdup(def);
    unwrap_quotes(value);
    return value;
}

int settings_get_int(GKeyFile *key_file, const char *group, const char *key, int def)
{
    if (key_file_missing(key_file, "settings_get_int"))
        return def;
    g_autoptr(GError) error = nullptr;
    int value = g_key_file_get_integer(key_file, group, key, &error);
    return error != nullptr ? def : value;
}

int settings_set_string(GKeyFile *key_file, const char *group, const char *key, const char *value)
{
    if (key_file_missing(key_file, "settings_set_string"))
        return -1;
    g_key_file_set_string(key_file, group, key, value);
    return 0;
}

int settings_set_int(GKeyFile *key_file, const char *group, const char *key, int value)
{
    if (key_file_missing(key_file, "settings_set_int"))
        return -1;
    g_key_file_set_integer(key_file, group, key, value);
    return 0;
}

bool settings_remove_key(GKeyFile *key_file, const char *group, const char *key)
{
    if (key_file_missing(key_file, "settings_remove_key"))
        return false;
    return g_key_file_remove_key(key_file, group, key, nullptr) != FALSE;
}

int settings_write_to_disk(GKeyFile *key_file, const char *path)
{
    if (key_file_missing(key_file, "settings_write_to_disk"))
        return 0;
    // The file is written beside the old one and renamed over it, so a
    // reader never sees half a file, and it is on the flash before the
    // change counts as kept. It keeps its mode and owner, and a link to it
    // stays a link.
    const std::string real = platform_path(path);
    // The configuration directory belongs to this daemon: on a fresh file
    // system (or a wiped one) it is created with the file rather than
    // leaving the daemon without a persisted configuration.
    g_autofree char *dir = g_path_get_dirname(real.c_str());
    g_mkdir_with_parents(dir, 0755);
    gsize len = 0;
    g_autofree char *data = g_key_file_to_data(key_file, &len, nullptr);
    const int rc = file_replace(real.c_str(), data, len, 0644);
    if (rc < 0) {
        SETTINGS_ERROR("settings_write_to_disk", "Failed to write file %s\n", path);
        OPTAD_LOG_DEBUG("DEBUG:optad:settings:settings_write_to_disk - %s\n", g_strerror(-rc));
        return 0;
    }
    return 1;
}

}  // namespace optad
