#include "tests/system/daemon_rig.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace optad::test {

const std::vector<std::string> interface_property_names = {
    "Iris", "Shutter", "Gain", "WhiteBalanceManualR", "WhiteBalanceManualB", "NoiseReduction",
    "NoiseReductionTuning", "Stabilizer", "StabilizerType", "FocusTraceCurve", "DynamicContrastEnabled",
    "DynamicContrastLevel", "Exposure", "Brightness", "MaxExposureTime", "ExposureWindow",
    "CustomExposureWindow.C0.Top", "CustomExposureWindow.C0.Bottom", "CustomExposureWindow.C0.Left",
    "CustomExposureWindow.C0.Right", "MaxGain", "MaxAutoGainControlNormal", "WhiteBalance", "WhiteBalanceWindow",
    "Sharpness", "ColorLevel", "IrCutFilter", "ShiftLevel", "AutoIrCutFilterHysteresis", "FocusMode", "FocusDrive",
    "FocusW0", "SensorProtector", "WhiteBalanceManual", "ExposureProgress", "VignettingCorrection",
    "AberrationCorrection", "OnvifExposurePriorityNormal"};

std::vector<PeerStart> all_peers(const std::vector<PeerStart> &replaced)
{
    std::vector<PeerStart> peers;
    for (Peer p : ALL_PEERS) {
        PeerStart start{p, ""};
        for (const PeerStart &r : replaced) {
            if (r.peer == p)
                start = r;
        }
        peers.push_back(start);
    }
    return peers;
}

std::vector<PeerStart> peers_without_grant(const std::vector<PeerStart> &replaced)
{
    std::vector<PeerStart> with = {{Peer::Wattd, R"({"answer": false})"}};
    with.insert(with.end(), replaced.begin(), replaced.end());
    return all_peers(with);
}

namespace {

RigOptions without_daemon(const std::vector<PeerStart> &peers, const ModuleSetup &module)
{
    RigOptions options;
    options.simulator = true;
    options.simulator_args = module.simulator_args;
    options.peers = peers;
    options.board_data = true;
    options.board = module.board;
    return options;
}

}  // namespace

DaemonRig::DaemonRig(const std::vector<PeerStart> &peers, Board board, const ModuleSetup &module)
    : Rig(without_daemon(peers, module))
{
    if (!Rig::ok() || !sim().ok(board == Board::PoE ? "drive dc_off 1" : "drive dc_off 0"))
        return;
    for (const auto &[fixed, content] : module.files)
        root().write(fixed, content);
    for (const std::string &command : module.before_optad) {
        if (!sim().ok(command))
            return;
    }
    daemon_ok_ = start_optad() != nullptr && wait_for_optad_on_bus(scaled_ms(20000));
}

bool optad_logged(Rig &rig, const std::string &fragment, int timeout_ms)
{
    return rig.optad() != nullptr &&
           rig.optad()->wait_for_line(Program::Stream::Err, fragment, scaled_ms(timeout_ms));
}

int optad_log_count(Rig &rig, const std::string &fragment)
{
    if (rig.optad() == nullptr)
        return 0;
    const std::vector<std::string> lines = rig.optad()->lines(Program::Stream::Err);
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string &l) {
        return l.find(fragment) != std::string::npos;
    }));
}

GVariant *imc_get(Rig &rig, const char *name, GError **error)
{
    return rig.get_property(IMC_CONTROL_NAME, IMC_CONTROL_PATH, IMC_CONTROL_INTERFACE, name, error);
}

std::string imc_get_text(Rig &rig, const char *name)
{
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) value = imc_get(rig, name, &error);
    if (value == nullptr)
        return "";
    g_autofree char *text = g_variant_print(value, TRUE);
    return text;
}

std::string error_text(const GError *error)
{
    if (error == nullptr)
        return "";
    g_autoptr(GError) copy = g_error_copy(error);
    g_dbus_error_strip_remote_error(copy);
    return copy->message;
}

std::string imc_set(Rig &rig, const char *name, GVariant *value)
{
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply =
        rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, "org.freedesktop.DBus.Properties", "Set",
                 g_variant_new("(ssv)", IMC_CONTROL_INTERFACE, name, value), &error);
    return reply != nullptr ? "" : error_text(error);
}

namespace {

std::string reply_text(GVariant *reply, const GError *error)
{
    if (reply == nullptr)
        return "error: " + error_text(error);
    g_autofree char *text = g_variant_print(reply, TRUE);
    return text;
}

}  // namespace

std::string imc_set_properties(Rig &rig, const std::string &list_text, const char *interface)
{
    g_autoptr(GError) parse_error = nullptr;
    GVariant *list = g_variant_parse(G_VARIANT_TYPE("a(sv)"), list_text.c_str(), nullptr, nullptr, &parse_error);
    if (list == nullptr) {
        ADD_FAILURE() << "bad list " << list_text << ": " << parse_error->message;
        return "";
    }
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, IMC_CONTROL_INTERFACE, "SetProperties",
                                         g_variant_new("(s@a(sv))", interface, list), &error);
    return reply_text(reply, error);
}

std::string imc_get_ranges(Rig &rig, const std::vector<std::string> &names, const char *interface)
{
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("as"));
    for (const std::string &n : names)
        g_variant_builder_add(&b, "s", n.c_str());
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = rig.call(IMC_CONTROL_NAME, IMC_CONTROL_PATH, IMC_CONTROL_INTERFACE, "GetRanges",
                                         g_variant_new("(sas)", interface, &b), &error);
    return reply_text(reply, error);
}

std::string conf_value(Rig &rig, const char *group, const char *key)
{
    g_autoptr(GKeyFile) kf = g_key_file_new();
    if (!g_key_file_load_from_file(kf, rig.root().path("/etc/optad/optad.conf").c_str(), G_KEY_FILE_NONE,
                                   nullptr))
        return "";
    g_autofree char *value = g_key_file_get_value(kf, group, key, nullptr);
    return value != nullptr ? value : "";
}

bool kill_bus(Rig &rig)
{
    const std::string marker = "--config-file=" + rig.dir() + "/bus.conf";
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return false;
    bool killed = false;
    while (dirent *entry = readdir(proc)) {
        const long pid = std::strtol(entry->d_name, nullptr, 10);
        if (pid <= 0)
            continue;
        g_autofree char *cmdline = nullptr;
        gsize length = 0;
        const std::string path = std::string("/proc/") + entry->d_name + "/cmdline";
        if (!g_file_get_contents(path.c_str(), &cmdline, &length, nullptr))
            continue;
        // Arguments are NUL-separated.
        for (gsize at = 0; at < length; at += std::strlen(cmdline + at) + 1) {
            if (marker == cmdline + at) {
                killed = kill(static_cast<pid_t>(pid), SIGKILL) == 0 || killed;
                break;
            }
        }
    }
    closedir(proc);
    return killed;
}

}  // namespace optad::test
