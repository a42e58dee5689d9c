// The platform's GPIO library, as the programs use it.
//
// Lines are reached by name (or by number and label), opened, read, written
// and watched for edges. The descriptor of pinio_fd() is reported by
// select() as an exceptional condition after each edge of the kind asked
// for with pinio_set_edge(); reading the value (pinio_get_value) clears it.
// Every failure returns as documented and leaves errno set.
//
// On the camera the platform's own library can be linked in place of ours;
// the host build serves the lines from the module simulator.
#pragma once

extern "C" {

typedef struct pinio_line pinio_line;

// Edge codes for pinio_set_edge().
enum {
    PINIO_EDGE_NONE = 0,
    PINIO_TRIG_FALL = 4,
    PINIO_TRIG_RISE = 8,
    PINIO_TRIG_BOTH = 12,  // "GPIOF_TRIG_FALL | GPIOF_TRIG_RISE"
};

// A handle for the line of that name; nullptr on failure.
pinio_line *pinio_request_named(const char *name);
// A handle for GPIO number gpio, labelled for its user; nullptr on failure.
pinio_line *pinio_request(int gpio, const char *label);
// Opens the line for use; negative on failure.
int pinio_full_open(pinio_line *line);
// Non-zero when the line's direction may be changed.
int pinio_alterable_direction(pinio_line *line);
// Direction: 0 output, non-zero input; negative on failure.
int pinio_get_direction(pinio_line *line);
// Makes the line an input; negative on failure.
int pinio_direction_input(pinio_line *line);
// Makes the line an output driving level; non-zero on failure.
int pinio_direction_output(pinio_line *line, int level);
// Drives the line; negative on failure.
int pinio_set_value(pinio_line *line, int level);
// The line's level (0 or 1); negative on failure.
int pinio_get_value(pinio_line *line);
// Which edges are reported on pinio_fd(); negative on failure.
int pinio_set_edge(pinio_line *line, int edge);
// Descriptor for select(); negative on failure.
int pinio_fd(pinio_line *line);
void pinio_close(pinio_line *line);
void pinio_free(pinio_line *line);

}  // extern "C"
