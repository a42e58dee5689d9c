// The harnesses outside the fuzz build: runs every input of the files and
// directories named on the command line once through the harness, in name
// order, as libFuzzer runs a corpus before it starts mutating. A harness
// that finds a fault aborts, and the test fails with the input's name on
// stderr.
#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace {

void collect(const std::string &path, std::vector<std::string> &files)
{
    if (!g_file_test(path.c_str(), G_FILE_TEST_IS_DIR)) {
        files.push_back(path);
        return;
    }
    GDir *dir = g_dir_open(path.c_str(), 0, nullptr);
    if (dir == nullptr)
        return;
    std::vector<std::string> names;
    while (const char *name = g_dir_read_name(dir))
        names.emplace_back(name);
    g_dir_close(dir);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names)
        collect(path + "/" + name, files);
}

}  // namespace

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i)
        collect(argv[i], files);
    if (files.empty()) {
        std::fprintf(stderr, "no inputs\n");
        return 1;
    }
    for (const std::string &file : files) {
        gchar *data = nullptr;
        gsize size = 0;
        if (!g_file_get_contents(file.c_str(), &data, &size, nullptr)) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        std::fprintf(stderr, "%s\n", file.c_str());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(data), size);
        g_free(data);
    }
    std::printf("%zu inputs\n", files.size());
    return 0;
}
