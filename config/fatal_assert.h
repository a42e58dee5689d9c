// Fatal checks of programming errors in the fixed tables.
//
// Like g_assert, but the message names the operation plainly ("param_init")
// instead of the full C++ signature, and the check stays in release builds:
// a broken table must not run on.
#pragma once

#include <glib.h>

#define OPTAD_FATAL_ASSERT(func, expr)                                                   \
    do {                                                                                 \
        if (G_LIKELY(expr)) {                                                            \
        } else {                                                                         \
            g_assertion_message_expr(G_LOG_DOMAIN, __FILE__, __LINE__, (func), #expr);   \
        }                                                                                \
    } while (0)
