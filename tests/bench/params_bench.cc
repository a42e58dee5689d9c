// Parameter control on the rig, timed and weighed as the camera would see
// it: the real optad, the simulator with its default timings, the private
// bus and the mocked services. Each figure is printed next to its floor.
//
//   build/host/tests/params_bench [calls [idle_s [soak_s]]]   (200 60 180)
//
//   start-up   the power budget's SetPower to "OPTAD_STARTUP_DONE": the
//              power-up and the start-up push; floor: the fixed delays of
//              the power-up order plus one REQ period per frame exchanged
//              (frames counted in the simulator's imc log)
//   confirm    a SetProperties call to the daemon's "Confirmed ..." line for
//              it, median and p99 over `calls` calls; floor: the next poll
//              interval plus one exchange
//   idle poll  one status poll with nothing changed (request_camera_status
//              and check_camera_status): instructions in the daemon's own
//              code under callgrind and heap allocations, from
//              idle_poll_driver; and the daemon's CPU time over `idle_s`
//              seconds of idle polling on the rig
//   memory     the daemon's resident memory over `soak_s` seconds of
//              property changes with a module restart every minute (halfway
//              in a run shorter than two), printed as it goes
// Times are taken when the line appears in the daemon's log, read every
// millisecond. The rig's daemon runs verbose (its confirmations are debug
// lines), which its CPU time includes.
#include "tests/bench/log_watch.h"
#include "tests/system/daemon_rig.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace optad::test {
namespace {

int calls_to_make = 200;
int idle_seconds = 60;
int soak_seconds = 180;

constexpr const char *STARTUP_DONE = "OPTAD state changed to OPTAD_STARTUP_DONE";
constexpr const char *STATUS_REQUEST = "00f8000800f80000";
// The fixed sleeps of the power-up order.
constexpr double POWER_UP_FIXED_S = 0.600;

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

int config_value(Simulator &sim, const std::string &name)
{
    for (const std::string &line : lines_of(sim.ctl("config"))) {
        if (line.rfind(name + " ", 0) == 0)
            return std::atoi(line.c_str() + name.size() + 1);
    }
    return 0;
}

long resident_kib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

// utime + stime of a process in seconds.
double cpu_seconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close_paren = text.rfind(')');
    if (close_paren == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close_paren + 2));
    std::string field;
    unsigned long utime = 0;
    unsigned long stime = 0;
    // Fields from the state (3rd) on; utime and stime are the 14th and 15th.
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::strtoul(field.c_str(), nullptr, 10);
        if (i == 15)
            stime = std::strtoul(field.c_str(), nullptr, 10);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void report(const char *what, std::vector<double> ms, double floor_ms, const char *floor_text)
{
    if (ms.empty())
        return;
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const double p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    std::printf("%-10s %4zu calls  median %7.1f ms  p99 %7.1f ms  max %7.1f ms   floor %.1f ms (%s)\n", what,
                ms.size(), median, p99, ms.back(), floor_ms, floor_text);
}

// A SetProperties of one int property; true when the daemon took it.
bool set_int(Rig &rig, const char *name, int value)
{
    return imc_set_properties(rig, std::string("[('") + name + "', <" + std::to_string(value) + ">)]") ==
           "(true,)";
}

TEST(ParamsBench, StartUpConfirmationsAndIdleCpu)
{
    DaemonRig rig(peers_without_grant(), Board::PoE);
    ASSERT_TRUE(rig.ok());
    Simulator &sim = rig.sim();
    LogWatch log(rig.optad()->path(Program::Stream::Err));
    ASSERT_GT(log.wait("Created datacache", 20), 0);
    rig.iterate_until([] { return false; }, 500);
    const int req_ms = config_value(sim, "req_period_ms");

    // Start-up: the grant answers the daemon's SetPower.
    ASSERT_TRUE(sim.ok("clear imc"));
    const double granted = now_s();
    g_autoptr(GVariant) r = rig.peer(Peer::Wattd).control("Grant", g_variant_new("(d)", 25.0));
    const double updating = log.wait("OPTAD state changed to OPTAD_STARTUP_UPDATE_PARAMS", 60);
    ASSERT_GT(updating, 0);
    const double done = log.wait(STARTUP_DONE, 60);
    ASSERT_GT(done, 0);
    const std::vector<std::string> frames = lines_of(sim.ctl("log imc"));
    const size_t pushed = std::count_if(frames.begin(), frames.end(),
                                        [](const std::string &f) { return f != STATUS_REQUEST; });
    const double pacing_s = static_cast<double>(frames.size()) * req_ms / 1000.0;
    std::printf("start-up   SetPower -> STARTUP_DONE %7.3f s (power-up %.3f s, push and sync %.3f s)   "
                "floor %.3f s = fixed delays %.3f s + %zu frames x %d ms REQ (%zu of them the push)\n",
                done - granted, updating - granted, done - updating, POWER_UP_FIXED_S + pacing_s,
                POWER_UP_FIXED_S, frames.size(), req_ms, pushed);
    EXPECT_GT(pushed, 0u);

    // SetProperties to its confirmation. Sharpness 50 and 67 are the IMC's
    // sharpness 3 and 4: each call changes the byte the daemon confirms.
    rig.iterate_until([] { return false; }, 1000);
    std::vector<double> ms;
    for (int i = 0; i < calls_to_make; ++i) {
        const double t0 = now_s();
        if (!set_int(rig, "Sharpness", i % 2 == 0 ? 67 : 50)) {
            ADD_FAILURE() << "SetProperties " << i << " refused";
            break;
        }
        const double confirmed = log.wait("Confirmed Sharpness", 15);
        if (confirmed < 0) {
            ADD_FAILURE() << "call " << i << " never confirmed";
            break;
        }
        ms.push_back((confirmed - t0) * 1000);
    }
    const int poll_ms = 2000 / 8;  // two frame periods of the start capture mode (8 fps)
    const std::string floor_text =
        "next poll " + std::to_string(poll_ms) + " ms + one exchange, " + std::to_string(req_ms) + " ms REQ";
    report("confirm", ms, poll_ms + req_ms, floor_text.c_str());
    EXPECT_EQ(static_cast<int>(ms.size()), calls_to_make);

    // Idle polling: the daemon's CPU time while nothing changes.
    rig.iterate_until([] { return false; }, 2000);
    ASSERT_TRUE(sim.ok("clear imc"));
    const pid_t pid = rig.optad()->pid();
    const double cpu0 = cpu_seconds(pid);
    const double t0 = now_s();
    rig.iterate_until([] { return false; }, idle_seconds * 1000);
    const double cpu1 = cpu_seconds(pid);
    const double wall = now_s() - t0;
    const std::vector<std::string> idle_frames = lines_of(sim.ctl("log imc"));
    const size_t polls = std::count(idle_frames.begin(), idle_frames.end(), std::string(STATUS_REQUEST));
    std::printf("idle cpu   %.1f s of idle polling: optad used %.3f s CPU (%.2f %%), %zu polls, %.0f us per poll "
                "(verbose daemon; the simulator and the link seam's sockets on the host)\n",
                wall, cpu1 - cpu0, 100 * (cpu1 - cpu0) / wall, polls,
                polls > 0 ? (cpu1 - cpu0) * 1e6 / static_cast<double>(polls) : 0.0);
    EXPECT_GT(polls, 0u);
    EXPECT_EQ(idle_frames.size(), polls) << "idle: nothing but status requests";
    EXPECT_EQ(sim.violations(), "");
}

std::string self_dir()
{
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    std::string path(buf, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/'));
}

// Runs a command line through the shell; its status and standard output.
int run(const std::string &command, std::string *out)
{
    FILE *p = popen(command.c_str(), "r");
    if (p == nullptr)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out->append(buf, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// "polls <n> allocations <a> queued_jobs <j> failed <f>"
bool parse_driver(const std::string &out, long *polls, long *allocations, long *queued)
{
    long failed = -1;
    for (const std::string &line : lines_of(out)) {
        if (std::sscanf(line.c_str(), "polls %ld allocations %ld queued_jobs %ld failed %ld", polls, allocations,
                        queued, &failed) == 4)
            return failed == 0;
    }
    return false;
}

TEST(ParamsBench, IdlePollCost)
{
    const std::string driver = self_dir() + "/idle_poll_driver";
    if (access(driver.c_str(), X_OK) != 0)
        GTEST_SKIP() << driver << " is not built (a sanitizer build replaces the allocator it counts with)";
    const int polls = 200;

    std::string out;
    ASSERT_EQ(run(driver + " " + std::to_string(polls) + " 2>/dev/null", &out), 0) << out;
    long n = 0, allocations = -1, queued = -1;
    ASSERT_TRUE(parse_driver(out, &n, &allocations, &queued)) << out;
    long setup = -1;
    for (const std::string &line : lines_of(out))
        std::sscanf(line.c_str(), "set-up allocations %ld", &setup);
    std::printf("idle poll  heap allocations %ld in %ld polls (%.2f per poll)   floor 0; jobs queued %ld; "
                "the driver's set-up made %ld\n",
                allocations, n, static_cast<double>(allocations) / static_cast<double>(n), queued, setup);
    EXPECT_GT(setup, 0) << "the allocation count works";
    EXPECT_EQ(queued, 0) << "an idle poll queues nothing";

    std::string where;
    if (run("command -v valgrind callgrind_annotate", &where) != 0) {
        std::printf("idle poll  instructions: valgrind or callgrind_annotate not found, not measured\n");
        return;
    }
    char tmpl[] = "/tmp/params_bench.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string cg = dir + "/callgrind.out";
    std::string cg_out;
    ASSERT_EQ(run("valgrind --tool=callgrind --callgrind-out-file=" + cg +
                      " --toggle-collect=optad_bench_idle_polls " + driver + " " + std::to_string(polls) +
                      " 2>/dev/null",
                  &cg_out),
              0)
        << cg_out;
    std::string annotated;
    ASSERT_EQ(run("cd " + dir + " && callgrind_annotate --inclusive=no --threshold=100 " + cg + " 2>/dev/null", &annotated), 0);
    // Lines "<Ir> (<pct>)  <file>:<function> [<object>]", Ir with commas;
    // run outside the source tree, the files are absolute paths.
    const std::string source_dir = OPTAD_SOURCE_DIR;
    double own = 0, seam = 0, total = 0;
    std::vector<std::pair<double, std::string>> own_functions;
    for (const std::string &line : lines_of(annotated)) {
        size_t i = line.find_first_not_of(' ');
        if (i == std::string::npos || !std::isdigit(static_cast<unsigned char>(line[i])))
            continue;
        std::string digits;
        size_t j = i;
        for (; j < line.size() && (std::isdigit(static_cast<unsigned char>(line[j])) || line[j] == ','); ++j) {
            if (line[j] != ',')
                digits += line[j];
        }
        const double ir = std::atof(digits.c_str());
        const size_t pct = line.find("%)", j);
        const size_t at = line.find_first_not_of(' ', pct == std::string::npos ? j : pct + 2);
        const std::string rest = at == std::string::npos ? "" : line.substr(at);
        if (rest.rfind("PROGRAM TOTALS", 0) == 0) {
            total = ir;
            continue;
        }
        const std::string file = rest.substr(0, rest.find(':'));
        const bool ours = file.rfind(source_dir + "/", 0) == 0 && file.find("/tests/") == std::string::npos &&
                          file.find("/build/") == std::string::npos;
        if (ours && file.find("/platform/sim_") != std::string::npos)
            seam += ir;  // the host's stand-in for the kernel's ioctl and GPIO calls
        else if (ours) {
            own += ir;
            std::string function = rest.substr(file.size() + 1);
            function = function.substr(0, function.find(" ["));
            own_functions.emplace_back(ir, file.substr(source_dir.size() + 1) + " " + function);
        }
    }
    std::printf("idle poll  instructions per poll: %.0f in the daemon's code, %.0f in the host seam, %.0f in all "
                "(libc and the socket calls included), callgrind over %d polls\n",
                own / polls, seam / polls, total / polls, polls);
    std::sort(own_functions.rbegin(), own_functions.rend());
    for (size_t i = 0; i < own_functions.size() && i < 6; ++i)
        std::printf("idle poll      %6.0f  %s\n", own_functions[i].first / polls, own_functions[i].second.c_str());
    EXPECT_GT(own, 0);
    std::string ignored;
    run("rm -rf " + dir, &ignored);
}

TEST(ParamsBench, ResidentMemoryOverChangesAndRestarts)
{
    DaemonRig rig(all_peers(), Board::DC);
    ASSERT_TRUE(rig.ok());
    LogWatch log(rig.optad()->path(Program::Stream::Err));
    ASSERT_GT(log.wait(STARTUP_DONE, 60), 0);
    const pid_t pid = rig.optad()->pid();
    std::printf("memory     %6.0f s  VmRSS %ld KiB (start-up done)\n", 0.0, resident_kib(pid));

    const double start = now_s();
    double next_print = start + std::max(10, soak_seconds / 12);
    // A restart every minute; a short run restarts halfway.
    const double restart_period = std::min(60, std::max(10, soak_seconds / 2));
    double next_restart = start + restart_period;
    int changes = 0;
    int confirmed = 0;
    int restarts = 0;
    struct Change {
        const char *name;
        int a;
        int b;
        const char *confirmed;
    };
    const Change cycle[] = {
        {"Sharpness", 67, 50, "Confirmed Sharpness"},
        {"Brightness", 70, 30, "Confirmed Exposure Compensation change"},
        {"ColorLevel", 67, 50, "Confirmed Color Level"},
    };
    while (now_s() - start < soak_seconds) {
        if (now_s() >= next_restart) {
            ASSERT_TRUE(rig.sim().ok("fault power_good drop"));
            if (log.wait(STARTUP_DONE, 60) > 0)
                ++restarts;
            else
                ADD_FAILURE() << "no start-up after restart " << restarts + 1;
            next_restart = now_s() + restart_period;
        }
        const Change &c = cycle[changes % std::size(cycle)];
        if (set_int(rig, c.name, (changes / std::size(cycle)) % 2 == 0 ? c.a : c.b) &&
            log.wait(c.confirmed, 15) > 0)
            ++confirmed;
        ++changes;
        if (now_s() >= next_print) {
            std::printf("memory     %6.0f s  VmRSS %ld KiB  (%d changes, %d restarts)\n", now_s() - start,
                        resident_kib(pid), changes, restarts);
            std::fflush(stdout);
            next_print += std::max(10, soak_seconds / 12);
        }
    }
    std::printf("memory     %6.0f s  VmRSS %ld KiB  end: %d changes (%d confirmed), %d restarts   floor: flat\n",
                now_s() - start, resident_kib(pid), changes, confirmed, restarts);
    EXPECT_GT(confirmed, 0);
    EXPECT_EQ(rig.sim().violations(), "");
}

}  // namespace
}  // namespace optad::test

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1)
        optad::test::calls_to_make = std::max(1, std::atoi(argv[1]));
    if (argc > 2)
        optad::test::idle_seconds = std::max(1, std::atoi(argv[2]));
    if (argc > 3)
        optad::test::soak_seconds = std::max(1, std::atoi(argv[3]));
    return RUN_ALL_TESTS();
}
