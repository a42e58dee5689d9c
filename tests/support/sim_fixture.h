// The module simulator in a test: test::Simulator starts optad-sim for a
// sandbox root, answers control commands and stops it again.
//
//   test::SandboxRoot root;
//   test::Simulator sim(root);             // optad-sim --foreground
//   ASSERT_TRUE(sim.running());
//   sim.ok("power on");                    // the real code now finds the module
//   EXPECT_EQ(sim.ctl("show status 0x12"), "01\n");
#pragma once

#include "tests/support/program.h"
#include "tests/support/test_support.h"

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace optad::test {

class Simulator {
public:
    // Starts optad-sim in the foreground with root as its sandbox root and
    // waits until it answers (up to 20 s, scaled for slow builds). args go to
    // optad-sim as they are, for example {"--set", "req_period_ms=10"}. A
    // simulator that does not come up fails the test and leaves running()
    // false. Its stdout and stderr go to <root>/rig/optad-sim.out and .err.
    explicit Simulator(const SandboxRoot &root, const std::vector<std::string> &args = {});
    // Stops it ("quit", then SIGKILL if it does not end within 5 s, scaled).
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    bool running() const { return up_; }
    pid_t pid() const { return program_ != nullptr ? program_->pid() : -1; }
    // Its process (its output: program().text(Program::Stream::Err)).
    Program &program() { return *program_; }
    const std::string &socket_path() const { return socket_; }

    // One control command; its answer. "error: ..." when the simulator
    // refused it or could not be reached.
    std::string ctl(const std::string &command);
    // A command that must answer "ok": false (and a test failure naming the
    // answer) otherwise.
    bool ok(const std::string &command);
    // Repeats a command until its answer contains expected; false after
    // timeout_ms.
    bool wait_for(const std::string &command, const std::string &expected, int timeout_ms = 5000);
    // The simulator's whole violations log ("log violations"): what the
    // real module would have rejected. The simulator judges the REQ
    // handshake by the protocol (an exchange needs a REQ rise since the
    // previous one), not by the host's scheduling, so nothing is filtered.
    std::string violations();
    // Stops the simulator now (the destructor does it otherwise).
    void stop();

private:
    std::string socket_;
    std::unique_ptr<Program> program_;
    bool up_ = false;
};

}  // namespace optad::test
