// The parameter service's D-Bus interface: its names and the introspection
// document the object is exported with.
#pragma once

namespace optad {

inline constexpr const char IMC_CONTROL_BUS_NAME[] = "com.tavik.ImcControl";
inline constexpr const char IMC_CONTROL_OBJECT_PATH[] = "/com/tavik/ImcControl";
inline constexpr const char IMC_CONTROL_INTERFACE[] = "com.tavik.Configuration.Legacy";

// One property of the interface, in document order.
struct interface_property {
    const char *name;
    const char *type;  // "i" or "ay" (strings travel as byte strings)
    bool writable;
};

inline constexpr int INTERFACE_PROPERTY_COUNT = 38;
extern const interface_property interface_properties[INTERFACE_PROPERTY_COUNT];

// The introspection document: node "/com/tavik/ImcControl" with the one
// interface, its properties in the order above and the methods SetPower,
// GetRanges and SetProperties. Built once; never freed.
const char *imc_control_introspection_xml();

}  // namespace optad
