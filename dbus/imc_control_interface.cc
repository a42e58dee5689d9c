#include "dbus/imc_control_interface.h"

#include <glib.h>

#include <mutex>

namespace optad {

const interface_property interface_properties[INTERFACE_PROPERTY_COUNT] = {
    {"Iris", "i", true},
    {"Shutter", "i", true},
    {"Gain", "i", true},
    {"WhiteBalanceManualR", "i", true},
    {"WhiteBalanceManualB", "i", true},
    {"NoiseReduction", "ay", false},
    {"NoiseReductionTuning", "i", true},
    {"Stabilizer", "ay", true},
    {"StabilizerType", "ay", true},
    {"FocusTraceCurve", "ay", true},
    {"DynamicContrastEnabled", "ay", true},
    {"DynamicContrastLevel", "i", true},
    {"Exposure", "ay", true},
    {"Brightness", "i", true},
    {"MaxExposureTime", "i", true},
    {"ExposureWindow", "ay", true},
    {"CustomExposureWindow.C0.Top", "i", true},
    {"CustomExposureWindow.C0.Bottom", "i", true},
    {"CustomExposureWindow.C0.Left", "i", true},
    {"CustomExposureWindow.C0.Right", "i", true},
    {"MaxGain", "i", true},
    {"MaxAutoGainControlNormal", "i", true},
    {"WhiteBalance", "ay", true},
    {"WhiteBalanceWindow", "ay", true},
    {"Sharpness", "i", true},
    {"ColorLevel", "i", true},
    {"IrCutFilter", "ay", true},
    {"ShiftLevel", "i", true},
    {"AutoIrCutFilterHysteresis", "i", true},
    {"FocusMode", "i", true},
    {"FocusDrive", "ay", true},
    {"FocusW0", "ay", true},
    {"SensorProtector", "ay", true},
    {"WhiteBalanceManual", "ay", true},
    // 1 while a new exposure setting settles. An int, and always sent as
    // one; declared as such so that clients checking values against this
    // document accept it.
    {"ExposureProgress", "i", false},
    {"VignettingCorrection", "ay", true},
    {"AberrationCorrection", "ay", true},
    {"OnvifExposurePriorityNormal", "i", true},
};

namespace {

constexpr const char METHODS_XML[] =
    "    <method name='SetPower'>\n"
    "      <arg type='d' name='power' direction='in'/>\n"
    "    </method>\n"
    "    <method name='GetRanges'>\n"
    "      <arg type='s' name='interface_name' direction='in'/>\n"
    "      <arg type='as' name='properties' direction='in'/>\n"
    "      <arg type='a{sv}' name='ranges' direction='out'/>\n"
    "    </method>\n"
    "    <method name='SetProperties'>\n"
    "      <arg type='s' name='interface_name' direction='in'/>\n"
    "      <arg type='a(sv)' name='properties' direction='in'/>\n"
    "      <arg type='b' name='status' direction='out'/>\n"
    "    </method>\n";

char *build_document()
{
    GString *xml = g_string_new(nullptr);
    g_string_append_printf(xml, "<node name='%s'>\n  <interface name='%s'>\n", IMC_CONTROL_OBJECT_PATH,
                           IMC_CONTROL_INTERFACE);
    for (const interface_property &p : interface_properties)
        g_string_append_printf(xml, "    <property name='%s' type='%s' access='%s'/>\n", p.name, p.type,
                               p.writable ? "readwrite" : "read");
    g_string_append(xml, METHODS_XML);
    g_string_append(xml, "  </interface>\n</node>\n");
    return g_string_free(xml, FALSE);
}

}  // namespace

const char *imc_control_introspection_xml()
{
    static std::once_flag once;
    static char *document = nullptr;
    std::call_once(once, [] { document = build_document(); });
    return document;
}

}  // namespace optad
