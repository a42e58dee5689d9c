// The event library of the host build: every declaration, event and
// withdrawal becomes one line of /var/run/herald/events.log, appended with a
// single write so that lines from several producers never interleave.
//
//   declare 1 "optad events": topic0:4="VideoSource" ns="tns1" value_nice="Video source"; ...
//   event 1: day=0
//   undeclare 1
//
// Keys appear in the order they were added, each as name:type=value followed
// by its namespace, display names, tags and "property" for a stateful key
// (whose value is the state the property callback gives at declaration).
// A declaration or event whose line cannot be written fails (-1), as one the
// camera's event service cannot take does; a failed declaration uses up no
// identifier.
#include "platform/herald.h"

#include "platform/paths.h"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr const char EVENTS_LOG_PATH[] = "/var/run/herald/events.log";

struct Key {
    std::string name;
    int type = 0;
    bool has_value = false;
    int number = 0;
    std::string text;
    std::string key_nice;
    std::string value_nice;
    std::string name_space;
    std::vector<std::string> tags;
    event_property_cb property = nullptr;
    void *property_data = nullptr;
};

Key *find_key(std::vector<Key> &keys, const char *name)
{
    for (Key &k : keys) {
        if (name != nullptr && k.name == name)
            return &k;
    }
    return nullptr;
}

void set_key_value(Key &key, const void *value)
{
    if (value == nullptr) {
        key.has_value = false;
        return;
    }
    key.has_value = true;
    if (key.type == EVENT_VALUE_STRING)
        key.text = static_cast<const char *>(value);
    else
        key.number = *static_cast<const int *>(value);
}

std::string quoted(const std::string &s)
{
    g_autofree char *escaped = g_strescape(s.c_str(), nullptr);
    return std::string("\"") + escaped + "\"";
}

std::string key_value_text(const Key &key)
{
    if (!key.has_value)
        return "-";
    if (key.type == EVENT_VALUE_STRING)
        return quoted(key.text);
    return std::to_string(key.number);
}

// Whether the whole line was written.
bool append_line(const std::string &line)
{
    const std::string path = optad::platform_path(EVENTS_LOG_PATH);
    g_autofree char *dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0755);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::string text = line + "\n";
    ssize_t n;
    do {
        n = write(fd, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
    close(fd);
    return n == static_cast<ssize_t>(text.size());
}

}  // namespace

struct event_declaration {
    std::vector<Key> keys;
};

struct event {
    int declaration_id = -1;
    std::vector<Key> keys;  // the declaration's keys, values as set
};

struct event_producer {
    std::string name;
    std::mutex lock;
    int next_id = 1;
    std::map<int, event_declaration> declared;
};

extern "C" {

event_producer *event_producer_new(const char *name)
{
    event_producer *p = new event_producer;
    p->name = name != nullptr ? name : "";
    return p;
}

void event_producer_free(event_producer *producer)
{
    delete producer;
}

event_declaration *event_declaration_new(int)
{
    return new event_declaration;
}

void event_declaration_free(event_declaration *declaration)
{
    delete declaration;
}

int event_declaration_add_key_value(event_declaration *d, const char *key, const void *value, int type)
{
    if (d == nullptr || key == nullptr || find_key(d->keys, key) != nullptr)
        return -1;
    Key k;
    k.name = key;
    k.type = type;
    set_key_value(k, value);
    d->keys.push_back(std::move(k));
    return 0;
}

int event_declaration_add_key(event_declaration *d, const char *key, int type)
{
    return event_declaration_add_key_value(d, key, nullptr, type);
}

int event_declaration_set_nice_names(event_declaration *d, const char *key, const char *key_nice_name,
                                     const char *value_nice_name)
{
    Key *k = d != nullptr ? find_key(d->keys, key) : nullptr;
    if (k == nullptr)
        return -1;
    k->key_nice = key_nice_name != nullptr ? key_nice_name : "";
    k->value_nice = value_nice_name != nullptr ? value_nice_name : "";
    return 0;
}

int event_declaration_add_key_tag(event_declaration *d, const char *key, const char *tag)
{
    Key *k = d != nullptr ? find_key(d->keys, key) : nullptr;
    if (k == nullptr || tag == nullptr)
        return -1;
    k->tags.emplace_back(tag);
    return 0;
}

int event_declaration_set_property(event_declaration *d, const char *key, event_property_cb callback,
                                   void *user_data)
{
    Key *k = d != nullptr ? find_key(d->keys, key) : nullptr;
    if (k == nullptr)
        return -1;
    k->property = callback;
    k->property_data = user_data;
    return 0;
}

int event_declaration_set_name_space(event_declaration *d, const char *key, const char *name_space)
{
    Key *k = d != nullptr ? find_key(d->keys, key) : nullptr;
    if (k == nullptr || name_space == nullptr)
        return -1;
    k->name_space = name_space;
    return 0;
}

int event_producer_declare(event_producer *producer, const event_declaration *declaration)
{
    if (producer == nullptr || declaration == nullptr)
        return -1;
    std::lock_guard<std::mutex> guard(producer->lock);
    const int id = producer->next_id;
    event_declaration copy = *declaration;

    // A stateful key starts with the state its property gives now.
    event initial;
    initial.declaration_id = id;
    initial.keys = copy.keys;
    for (const Key &k : copy.keys) {
        if (k.property != nullptr)
            k.property(&initial, k.property_data);
    }

    std::string line = "declare " + std::to_string(id) + " " + quoted(producer->name) + ":";
    const char *sep = " ";
    for (size_t i = 0; i < copy.keys.size(); i++) {
        const Key &k = copy.keys[i];
        const Key &state = initial.keys[i];
        line += sep + k.name + ":" + std::to_string(k.type) + "=" + key_value_text(state);
        if (!k.name_space.empty())
            line += " ns=" + quoted(k.name_space);
        if (!k.key_nice.empty())
            line += " key_nice=" + quoted(k.key_nice);
        if (!k.value_nice.empty())
            line += " value_nice=" + quoted(k.value_nice);
        for (const std::string &t : k.tags)
            line += " tag=" + quoted(t);
        if (k.property != nullptr)
            line += " property";
        sep = "; ";
    }
    if (!append_line(line))
        return -1;
    producer->declared[id] = std::move(copy);
    producer->next_id++;
    return id;
}

int event_producer_undeclare(event_producer *producer, int declaration_id)
{
    if (producer == nullptr)
        return -1;
    std::lock_guard<std::mutex> guard(producer->lock);
    if (producer->declared.erase(declaration_id) == 0)
        return -1;
    append_line("undeclare " + std::to_string(declaration_id));
    return 0;
}

event *event_producer_prepare_event(event_producer *producer, int declaration_id)
{
    if (producer == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> guard(producer->lock);
    auto it = producer->declared.find(declaration_id);
    if (it == producer->declared.end())
        return nullptr;
    event *ev = new event;
    ev->declaration_id = declaration_id;
    ev->keys = it->second.keys;
    for (Key &k : ev->keys) {
        // Only the keys without a fixed value are the event's to fill in.
        if (k.property != nullptr || !k.has_value)
            k.has_value = false;
    }
    return ev;
}

int event_set_value(event *ev, const char *key, const void *value)
{
    Key *k = ev != nullptr ? find_key(ev->keys, key) : nullptr;
    if (k == nullptr)
        return -1;
    set_key_value(*k, value);
    return 0;
}

int event_producer_send_event_async(event_producer *producer, event *ev)
{
    if (producer == nullptr || ev == nullptr)
        return -1;
    std::string line = "event " + std::to_string(ev->declaration_id) + ":";
    const char *sep = " ";
    {
        std::lock_guard<std::mutex> guard(producer->lock);
        auto it = producer->declared.find(ev->declaration_id);
        if (it == producer->declared.end())
            return -1;
        // The keys an event carries: those without a fixed value.
        for (size_t i = 0; i < ev->keys.size(); i++) {
            const Key &declared = it->second.keys[i];
            if (declared.has_value && declared.property == nullptr)
                continue;
            line += sep + ev->keys[i].name + "=" + key_value_text(ev->keys[i]);
            sep = " ";
        }
    }
    return append_line(line) ? 0 : -1;
}

void event_free(event *ev)
{
    delete ev;
}

}  // extern "C"
