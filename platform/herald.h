// The camera's event library: stateful events that other services of the
// camera subscribe to (the image module's day/night state, for one).
//
// These are the library's calls as the daemon uses them. On the camera the
// platform's own library provides them; the host build has a small library
// of its own with the same calls (herald_file.cc) that writes every
// declaration, event and withdrawal as one line of text to
// /var/run/herald/events.log (under the sandbox root), so that tests and a
// developer can read what the daemon published.
//
// A declaration describes an event: its keys, their types, display names,
// tags and namespaces. Declaring it with a producer gives an identifier;
// events are prepared for that identifier, given values and sent.
#pragma once

extern "C" {

struct event_producer;
struct event_declaration;
struct event;

// Value types of keys.
enum {
    EVENT_VALUE_INT = 1,     // the value points to an int
    EVENT_VALUE_BOOL = 2,    // the value points to an int, 0 or 1
    EVENT_VALUE_STRING = 4,  // the value is a NUL-terminated string
};

// Called by the library whenever it needs the current state of a stateful
// key (for instance for a new subscriber); sets the key's value on ev.
using event_property_cb = void (*)(struct event *ev, void *user_data);

struct event_producer *event_producer_new(const char *name);
void event_producer_free(struct event_producer *producer);

struct event_declaration *event_declaration_new(int flags);
void event_declaration_free(struct event_declaration *declaration);
// A key with a fixed value (value: see the value types).
int event_declaration_add_key_value(struct event_declaration *declaration, const char *key,
                                    const void *value, int type);
// A key whose value each event carries.
int event_declaration_add_key(struct event_declaration *declaration, const char *key, int type);
// Display names of a key and of its value; either may be null.
int event_declaration_set_nice_names(struct event_declaration *declaration, const char *key,
                                     const char *key_nice_name, const char *value_nice_name);
int event_declaration_add_key_tag(struct event_declaration *declaration, const char *key,
                                  const char *tag);
int event_declaration_set_property(struct event_declaration *declaration, const char *key,
                                   event_property_cb callback, void *user_data);
int event_declaration_set_name_space(struct event_declaration *declaration, const char *key,
                                     const char *name_space);

// The declaration's identifier, -1 on failure. The declaration is copied.
int event_producer_declare(struct event_producer *producer,
                           const struct event_declaration *declaration);
int event_producer_undeclare(struct event_producer *producer, int declaration_id);

// A new event of a declaration, null on failure.
struct event *event_producer_prepare_event(struct event_producer *producer, int declaration_id);
// Sets a key of the event (value as for the key's type).
int event_set_value(struct event *ev, const char *key, const void *value);
int event_producer_send_event_async(struct event_producer *producer, struct event *ev);
void event_free(struct event *ev);

}
