// Host build of the GPIO library: the simulator, or a test's backend.
#include "platform/backend.h"
#include "platform/pinio.h"

#include <atomic>

namespace optad {
namespace {
std::atomic<PinioBackend *> installed{nullptr};
}  // namespace

void pinio_set_backend(PinioBackend *b)
{
    installed.store(b, std::memory_order_release);
}

static PinioBackend &pinio_backend()
{
    PinioBackend *b = installed.load(std::memory_order_acquire);
    return b != nullptr ? *b : simulator_pinio();
}

}  // namespace optad

using optad::pinio_backend;

extern "C" {

pinio_line *pinio_request_named(const char *name) { return pinio_backend().request_named(name); }
pinio_line *pinio_request(int gpio, const char *label) { return pinio_backend().request(gpio, label); }
int pinio_full_open(pinio_line *l) { return pinio_backend().full_open(l); }
int pinio_alterable_direction(pinio_line *l) { return pinio_backend().alterable_direction(l); }
int pinio_get_direction(pinio_line *l) { return pinio_backend().get_direction(l); }
int pinio_direction_input(pinio_line *l) { return pinio_backend().direction_input(l); }
int pinio_direction_output(pinio_line *l, int level) { return pinio_backend().direction_output(l, level); }
int pinio_set_value(pinio_line *l, int level) { return pinio_backend().set_value(l, level); }
int pinio_get_value(pinio_line *l) { return pinio_backend().get_value(l); }
int pinio_set_edge(pinio_line *l, int edge) { return pinio_backend().set_edge(l, edge); }
int pinio_fd(pinio_line *l) { return pinio_backend().fd(l); }
void pinio_close(pinio_line *l) { pinio_backend().close(l); }
void pinio_free(pinio_line *l) { pinio_backend().free(l); }

}  // extern "C"
