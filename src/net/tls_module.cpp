#include "net/tls_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "config/settings.h"
#include "net/socket_exception.h"

// Defined when the TLS code is linked in; the program that loads it as a module has none.
extern "C" const tarnel::TlsModule* tarnel_tls_module() __attribute__((weak));

namespace tarnel {

namespace {

constexpr const char* kModuleName = "tarnel-tls.so";

// The directory of the running program, with its final "/"; empty when it cannot be read.
std::string program_directory() {
    std::string path(4096, '\0');  // PATH_MAX
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size()) {
        return "";
    }
    path.resize(static_cast<size_t>(length));
    return path.substr(0, path.rfind('/') + 1);
}

struct LoadedModule {
    const TlsModule* module = nullptr;
    std::string failure;  // why the package's module could not be loaded
};

// The module beside the program (the build tree) comes first, so that a program never takes the
// module of an installed package of another build; then where an installation puts it, from the
// program's directory and as configured. A module is kept loaded for the rest of the process, as
// its code is in use from then on.
LoadedModule load_module() {
    LoadedModule loaded;
    const std::string directory = program_directory();
    const std::string installed = std::string(TARNEL_MODULE_RELATIVE_DIR "/") + kModuleName;
    for (const std::string& path : {directory.empty() ? std::string() : directory + kModuleName,
                                    directory.empty() ? std::string() : directory + installed,
                                    std::string(TARNEL_MODULE_DIR "/") + kModuleName}) {
        void* const handle = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* const reason = dlerror();
            loaded.failure = reason != nullptr ? reason : path + ": not found";
            continue;
        }
        const auto entry =
            reinterpret_cast<const TlsModule* (*)()>(dlsym(handle, "tarnel_tls_module"));
        const TlsModule* const module = entry == nullptr ? nullptr : entry();
        if (module != nullptr && std::strcmp(module->version, kVersion) == 0) {
            loaded.module = module;
            return loaded;
        }
        loaded.failure = path + ": not the module of Tarnel " + kVersion;
        dlclose(handle);
    }
    return loaded;
}

}  // namespace

const TlsModule& tls_module() {
    if (tarnel_tls_module != nullptr) {
        return *tarnel_tls_module();
    }
    static const LoadedModule loaded = load_module();  // once, whichever thread is first
    if (loaded.module == nullptr) {
        throw SocketException("TLS: the program's TLS module could not be loaded (" +
                              loaded.failure + ").");
    }
    return *loaded.module;
}

}  // namespace tarnel
