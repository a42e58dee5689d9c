// The simulator's socket server: one thread, one poll loop. It accepts the
// programs' device, line, event and control connections, hands their
// requests to the board and runs the board's timers in between.
#pragma once

#include "sim/board.h"

#include <memory>
#include <string>
#include <vector>

namespace optad::sim {

class Server {
public:
    Server(Board &board, std::string socket_path);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Creates the socket (its directory too). False with *error when
    // another simulator already listens there or the socket cannot be made.
    bool listen(std::string *error);
    // Serves until a "quit" command or SIGTERM/SIGINT. Returns the exit status.
    int run();

private:
    enum class Kind { New, Device, Line, Events, Control };
    struct Conn {
        int fd = -1;
        Kind kind = Kind::New;
        std::vector<uint8_t> in;
        size_t in_pos = 0;
        std::unique_ptr<DeviceSession> device;
        int32_t line_id = 0;
        bool awaiting_sequence = false;
        bool closing = false;
    };

    void accept_all();
    void read_from(Conn &c);
    void handle(Conn &c, uint16_t op, uint16_t arg16, int32_t arg, const uint8_t *body, size_t len);
    void handle_hello(Conn &c, uint16_t op, int32_t arg, const uint8_t *body, size_t len);
    void handle_device(Conn &c, uint16_t op, int32_t arg, const uint8_t *body, size_t len);
    bool reply(Conn &c, int result, int error, const uint8_t *payload = nullptr, size_t len = 0);
    void close_conn(Conn &c);

    Board &board_;
    std::string socket_path_;
    int listen_fd_ = -1;
    std::vector<std::unique_ptr<Conn>> conns_;
    std::vector<uint8_t> out_;  // reply payload, reused
    bool quit_ = false;
};

}  // namespace optad::sim
