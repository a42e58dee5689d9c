// What happens when the parameter service accepts a value for a property.
//
// One row per exposed parameter, in the service's table order: the
// parameter, its set handler and, for the common handler, the parameter job
// that sends the value to the IMC. A handler checks what needs checking,
// stores the value in the parameter table (which persists and announces
// it) and queues the jobs that bring the IMC in line. Jobs are queued only
// when the IMC was ready when the call came in; otherwise the start-up
// parameter sync sends every value anyway.
//
// Handlers run on the D-Bus thread with the parameter table's lock held
// (ParamLock); they queue their jobs with queue_param_job().
#pragma once

#include <glib.h>

namespace optad {

struct property_handler_row;

// ival: the decoded int, or null; sval: the decoded string, or null. ready:
// 1 when the IMC-ready gate was open just before the call. Returns true, or
// false with *error set (and the refusal logged).
using property_set_handler = bool (*)(const property_handler_row &row, const int *ival, const char *sval,
                                      int ready, GError **error);

struct property_handler_row {
    int param_id;
    property_set_handler set;
    int job;  // the common handler's job; NO_JOB for the rest
};

inline constexpr int NO_JOB = -1;
inline constexpr int PROPERTY_HANDLER_COUNT = 34;
extern const property_handler_row property_handlers[PROPERTY_HANDLER_COUNT];

// The row of a parameter, or null when the parameter is not exposed.
const property_handler_row *property_handler_find(int param_id);

}  // namespace optad
