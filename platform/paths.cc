#include "platform/paths.h"

#include <cstdlib>
#include <mutex>

namespace optad {

namespace {

std::string &root_storage()
{
    static std::string root;
    return root;
}

std::once_flag root_once;

void load_root()
{
#ifdef OPTAD_HOST_BUILD
    // The host build reads its sandbox root from the environment once, at
    // first use; the camera build never reads the environment.
    const char *env = std::getenv("OPTAD_ROOT");
    if (env != nullptr) {
        root_storage() = env;
        while (!root_storage().empty() && root_storage().back() == '/')
            root_storage().pop_back();
    }
#endif
}

}  // namespace

const std::string &platform_root()
{
    std::call_once(root_once, load_root);
    return root_storage();
}

std::string platform_path(const char *fixed_path)
{
    const std::string &root = platform_root();
    if (root.empty())
        return fixed_path;
    return root + fixed_path;
}

#ifdef OPTAD_HOST_BUILD
void platform_set_root(const std::string &root)
{
    std::call_once(root_once, load_root);
    root_storage() = root;
    while (!root_storage().empty() && root_storage().back() == '/')
        root_storage().pop_back();
}
#endif

}  // namespace optad
