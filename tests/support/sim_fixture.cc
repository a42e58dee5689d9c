#include "tests/support/sim_fixture.h"

#include "platform/sim_protocol.h"
#include "platform/sim_wire.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace optad::test {

Simulator::Simulator(const SandboxRoot &root, const std::vector<std::string> &args)
    : socket_(root.path(simproto::SOCKET_FIXED_PATH))
{
    std::vector<std::string> argv = program_command("optad-sim");
    argv.push_back("--foreground");
    argv.push_back("--exit-with-parent");
    argv.insert(argv.end(), args.begin(), args.end());
    program_ = std::make_unique<Program>(argv, clean_environment({"OPTAD_ROOT=" + root.dir()}),
                                         rig_dir(root) + "/optad-sim");
    if (!program_->started())
        return;
    // Up as soon as it answers; under an emulator the start takes longer.
    const int attempts = scaled_ms(20000) / 10;
    for (int i = 0; i < attempts; ++i) {
        std::string answer;
        if (simwire::control(socket_, "ping", &answer, 1000) == 0 && answer == "pong\n") {
            up_ = true;
            return;
        }
        if (!program_->running()) {
            ADD_FAILURE() << "optad-sim exited at start (status " << program_->status() << "): "
                          << program_->text(Program::Stream::Err);
            return;
        }
        usleep(10000);
    }
    ADD_FAILURE() << "optad-sim does not answer on " << socket_;
    program_->signal(SIGKILL);
    program_->wait(scaled_ms(5000));
}

Simulator::~Simulator()
{
    stop();
    if (program_ != nullptr && ::testing::Test::HasFailure())
        std::fprintf(stderr, "--- optad-sim's last lines (%s):\n%s", program_->path(Program::Stream::Err).c_str(),
                     program_->tail(Program::Stream::Err, 30).c_str());
}

void Simulator::stop()
{
    if (program_ == nullptr || !program_->started())
        return;
    if (program_->running()) {
        std::string answer;
        simwire::control(socket_, "quit", &answer, 2000);
        if (program_->wait(scaled_ms(5000)) < 0) {
            program_->signal(SIGKILL);
            program_->wait(scaled_ms(5000));
        }
    }
    up_ = false;
}

std::string Simulator::ctl(const std::string &command)
{
    std::string answer;
    if (simwire::control(socket_, command, &answer) != 0)
        return std::string("error: simulator not reachable: ") + std::strerror(errno) + "\n";
    return answer;
}

bool Simulator::ok(const std::string &command)
{
    std::string answer = ctl(command);
    if (answer == "ok\n")
        return true;
    ADD_FAILURE() << "optad-sim ctl \"" << command << "\" answered: " << answer;
    return false;
}

std::string Simulator::violations()
{
    return ctl("log violations");
}

bool Simulator::wait_for(const std::string &command, const std::string &expected, int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += 5) {
        if (ctl(command).find(expected) != std::string::npos)
            return true;
        usleep(5000);
    }
    return false;
}

}  // namespace optad::test
