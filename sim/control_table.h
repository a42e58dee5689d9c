// The control interface's command tables: each command and sub-command is
// one row (name, argument shape, handler, usage and help text), and one
// loop dispatches over a table. Shared by the files that hold the tables
// (control.cc, control_show.cc, control_set.cc, control_fault.cc,
// control_fail.cc); not part of the simulator's interface.
#pragma once

#include "sim/board.h"
#include "sim/control.h"

#include <span>
#include <string>
#include <vector>

namespace optad::sim::ctl {

// One command line split into words, with where each word starts in the
// raw text (free text such as lens names keeps its blanks).
struct Words {
    explicit Words(const std::string &line);
    std::string raw;
    std::vector<std::string> words;
    std::vector<size_t> starts;
};

// What a handler gets: the board, its arguments (the words after the
// command and sub-command names that led to it), and the raw text.
struct Call {
    Board &board;
    const Words &line;
    size_t first;  // index in line.words of args[0]
    std::span<const std::string> args;

    size_t size() const { return args.size(); }
    const std::string &operator[](size_t i) const { return args[i]; }
    // The raw text from argument i to the end of the line ("" when none).
    std::string text_from(size_t i) const;
    // The same call for a sub-table: the arguments after the first.
    Call shifted() const { return {board, line, first + 1, args.subspan(1)}; }
};

using Handler = ControlAnswer (*)(const Call &call);

// The argument count a row takes (after its own name); ANY as max: no limit.
inline constexpr int ANY = -1;

struct Row {
    const char *name;
    int min_args;
    int max_args;
    Handler handler;
    const char *usage;  // what to type, the name included ("set temperature <degrees>")
    const char *help;   // what it does
};

// Finds the row named by call[0] and runs it with the words after the name
// when their count fits; else an error naming the usage. `what` names the
// table in messages ("command", "fault", ...).
ControlAnswer dispatch(std::span<const Row> table, const Call &call, const char *what);

// The help text of a table: "usage  help" lines.
std::string help_text(std::span<const Row> table);

// The sub-tables (each in its own file).
std::span<const Row> show_rows();
std::span<const Row> set_rows();
std::span<const Row> fault_rows();
std::span<const Row> lens_rows();
std::span<const Row> fail_rows();

// set lens_error and fault lens_error: <code>|off.
ControlAnswer set_lens_error(const Call &call);

ControlAnswer ok(const std::string &text = "ok\n");
ControlAnswer error(const std::string &text);

// A number (decimal or 0x-hex) within [min, max].
bool number(const std::string &word, long min, long max, long *value);
// All arguments from `from` on as numbers within [min, max]; false (with
// *bad) at the first one that is not.
bool numbers(const Call &call, size_t from, long min, long max, long *out, std::string *bad);
bool on_off(const std::string &word, bool *value);

}  // namespace optad::sim::ctl
