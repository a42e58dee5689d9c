// The D-Bus side of the daemon driven in process, without a bus: the
// parameter table loaded from a fresh configuration file in a private
// sandbox root, the process-wide locks and job list, the IMC-ready gate
// open or closed, and a change listener that records what the parameter
// service would announce with PropertiesChanged.
#pragma once

#include "tests/support/test_support.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace optad::test {

// One change as the listeners hear it: the parameter's name and its value
// as g_variant_print() shows it ("50" for an int32, "b'auto'" for a byte
// string).
struct Change {
    std::string name;
    std::string value;
    bool operator==(const Change &) const = default;
};
std::ostream &operator<<(std::ostream &os, const Change &c);

// The result of a property write or read through the service.
struct Reply {
    bool ok = false;
    std::string error;  // the error's message, "" when none was set
    std::string value;  // a read's value, printed
};

// Values as a D-Bus caller sends them.
inline GVariant *bytes(const char *text) { return g_variant_new_bytestring(text); }
inline GVariant *text(const char *s) { return g_variant_new_string(s); }
inline GVariant *num(int n) { return g_variant_new_int32(n); }
// A byte string of exactly these bytes (embedded and trailing NULs kept).
GVariant *raw_bytes(const std::string &data);

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens (true) or closes (false) the IMC-ready gate. Closed, the gate
    // is held by this thread and every try-lock of it fails: the IMC counts
    // as not started.
    void imc_ready(bool ready);

    // A property write or read as the bus would make it. The reference
    // passed in (floating or not) is taken and released here. Every error must be a G_IO_ERROR_FAILED.
    Reply set(const char *property, GVariant *value);
    Reply get(const char *property);

    // The job list, head first; and emptied.
    std::vector<int> jobs() const;
    void clear_jobs();

    // What the listener has heard since the last clear.
    std::vector<Change> changes() const;
    void clear_changes();

    // A key of the configuration file as it is on disk ("" when missing).
    std::string conf(const char *group, const char *key) const;

    // The current value of a parameter, printed as a change would be.
    static std::string param(int id);

    SandboxRoot root;
    LogCapture log;
};

}  // namespace optad::test
