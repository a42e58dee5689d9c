// make-imc-image: writes an IMC firmware image for the test rig.
//
//   make-imc-image --revision N --size BYTES [--version-text TEXT] [--no-marker] OUTPUT
//
// The image begins with its 60-byte version text, "IMC application Rev.N
// 2026-12-08" padded with zero bytes (or TEXT, padded the same way; with
// --no-marker the default text leaves "Rev." out). The rest is a
// pseudo-random payload that depends only on the revision and the offset, so
// the same arguments always give the same bytes and a test can compare what
// the IMC received with the file. An image shorter than 60 bytes holds the
// beginning of the version text only. Exit status 0, or 1 with a message on
// bad arguments or a failed write.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t VERSION_TEXT_SIZE = 60;
constexpr long long MAX_SIZE = 1LL << 30;
constexpr size_t CHUNK = 64 * 1024;

struct Options {
    long long revision = -1;
    long long size = -1;
    const char *version_text = nullptr;
    bool marker = true;
    const char *output = nullptr;
};

int usage(const char *problem)
{
    std::fprintf(stderr,
                 "make-imc-image: %s\n"
                 "usage: make-imc-image --revision N --size BYTES [--version-text TEXT] [--no-marker] OUTPUT\n",
                 problem);
    return 1;
}

// A whole decimal number from 0 to max; false otherwise.
bool parse_number(const char *text, long long max, long long *out)
{
    if (text == nullptr || *text < '0' || *text > '9')
        return false;
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > max)
        return false;
    *out = v;
    return true;
}

// Parses argv into o; 0, or the exit status after a message.
int parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--revision") {
            if (!parse_number(value, INT32_MAX, &o.revision))
                return usage("--revision needs a number from 0 to 2147483647");
            ++i;
        } else if (arg == "--size") {
            if (!parse_number(value, MAX_SIZE, &o.size))
                return usage("--size needs a number of bytes from 0 to 1073741824");
            ++i;
        } else if (arg == "--version-text") {
            if (value == nullptr)
                return usage("--version-text needs a text");
            if (std::strlen(value) > VERSION_TEXT_SIZE)
                return usage("the version text is longer than 60 bytes");
            o.version_text = value;
            ++i;
        } else if (arg == "--no-marker") {
            o.marker = false;
        } else if (arg.rfind("-", 0) == 0) {
            return usage(("unknown option " + arg).c_str());
        } else if (o.output != nullptr) {
            return usage("more than one output file");
        } else {
            o.output = argv[i];
        }
    }
    if (o.revision < 0)
        return usage("--revision is missing");
    if (o.size < 0)
        return usage("--size is missing");
    if (o.output == nullptr)
        return usage("the output file is missing");
    return 0;
}

// The payload: splitmix64 of the revision and the position of each 8-byte
// word.
uint8_t payload_byte(uint64_t revision, uint64_t offset)
{
    uint64_t z = (revision << 40) + (offset / 8) + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return static_cast<uint8_t>(z >> (8 * (offset % 8)));
}

bool write_all(int fd, const uint8_t *buf, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, buf, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        buf += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

int write_image(const Options &o)
{
    uint8_t header[VERSION_TEXT_SIZE] = {};
    std::string text;
    if (o.version_text != nullptr)
        text = o.version_text;
    else
        text = std::string("IMC application ") + (o.marker ? "Rev." : "") + std::to_string(o.revision) +
               " 2026-12-08";
    std::memcpy(header, text.data(), text.size());

    const int fd = ::open(o.output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "make-imc-image: cannot create %s: %s\n", o.output, std::strerror(errno));
        return 1;
    }
    static uint8_t chunk[CHUNK];
    const uint64_t size = static_cast<uint64_t>(o.size);
    bool ok = true;
    for (uint64_t at = 0; ok && at < size;) {
        const size_t n = static_cast<size_t>(size - at < CHUNK ? size - at : CHUNK);
        for (size_t i = 0; i < n; ++i) {
            const uint64_t offset = at + i;
            chunk[i] = offset < VERSION_TEXT_SIZE ? header[offset]
                                                  : payload_byte(static_cast<uint64_t>(o.revision), offset);
        }
        ok = write_all(fd, chunk, n);
        at += n;
    }
    if (!ok)
        std::fprintf(stderr, "make-imc-image: cannot write %s: %s\n", o.output, std::strerror(errno));
    if (::close(fd) != 0 && ok) {
        std::fprintf(stderr, "make-imc-image: cannot write %s: %s\n", o.output, std::strerror(errno));
        ok = false;
    }
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    Options o;
    if (int status = parse(argc, argv, o); status != 0)
        return status;
    return write_image(o);
}
