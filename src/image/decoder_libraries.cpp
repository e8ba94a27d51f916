#include "image/decoder_libraries.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

namespace {

template <typename Table>
class CLazyLibrary {
public:
    using Resolve = bool (*)(void* handle, Table& table, std::string* missing);
    CLazyLibrary(const char* file, const char* what, Resolve resolve)
        : usualFile_(file), file_(file), what_(what), resolve_(resolve) {}

    const Table* Open(std::string* why) {
        if (open_.load(std::memory_order_acquire)) return &table_;
        std::lock_guard<std::mutex> lock(mutex_);
        if (open_.load(std::memory_order_relaxed)) return &table_;
        // Local: its names stay out of the process's, which may hold another copy. Never
        // closed, as the tables point into it.
        void* handle = dlopen(file_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* error = dlerror();
            *why = "cannot load the " + what_ + ": " + (error ? error : file_);
            return nullptr;
        }
        std::string missing;
        if (!resolve_(handle, table_, &missing)) {
            *why = "cannot load the " + what_ + ": " + file_ + " has no " + missing;
            return nullptr;
        }
        open_.store(true, std::memory_order_release);
        return &table_;
    }

    // Filled once Open has succeeded.
    const Table& table() const { return table_; }

    void SetFile(const std::string& file) {
        std::lock_guard<std::mutex> lock(mutex_);
        file_ = file.empty() ? usualFile_ : file;
    }

private:
    std::mutex mutex_;
    const std::string usualFile_;
    std::string file_;
    const std::string what_;
    const Resolve resolve_;
    Table table_;
    std::atomic<bool> open_{false};
};

template <typename Function>
bool Find(void* handle, const char* name, Function& function, std::string* missing) {
    function = reinterpret_cast<Function>(dlsym(handle, name));
    if (!function) *missing = name;
    return function != nullptr;
}

#define LUMORA_FIND_FUNCTION(name) \
    if (!Find(handle, #name, table.name, missing)) return false;

bool ResolveJxl(void* handle, JxlFunctions& table, std::string* missing) {
    LUMORA_JXL_FUNCTIONS(LUMORA_FIND_FUNCTION)
    return true;
}

bool ResolveJxlThreads(void* handle, JxlThreadsFunctions& table, std::string* missing) {
    LUMORA_JXL_THREADS_FUNCTIONS(LUMORA_FIND_FUNCTION)
    return true;
}

bool ResolveHeif(void* handle, HeifFunctions& table, std::string* missing) {
    LUMORA_HEIF_FUNCTIONS(LUMORA_FIND_FUNCTION)
    return true;
}

#undef LUMORA_FIND_FUNCTION

CLazyLibrary<JxlFunctions>& JxlLibrary() {
    static CLazyLibrary<JxlFunctions> library(LUMORA_JXL_LIBRARY, "JPEG XL library", ResolveJxl);
    return library;
}

CLazyLibrary<JxlThreadsFunctions>& JxlThreadsLibrary() {
    static CLazyLibrary<JxlThreadsFunctions> library(LUMORA_JXL_THREADS_LIBRARY,
                                                     "JPEG XL thread pool", ResolveJxlThreads);
    return library;
}

CLazyLibrary<HeifFunctions>& HeifLibrary() {
    static CLazyLibrary<HeifFunctions> library(LUMORA_HEIF_LIBRARY, "HEIF library", ResolveHeif);
    return library;
}

}  // namespace

const JxlFunctions* OpenJxlLibrary(std::string* why) {
    return JxlLibrary().Open(why);
}

const JxlThreadsFunctions* OpenJxlThreadsLibrary(std::string* why) {
    return JxlThreadsLibrary().Open(why);
}

const HeifFunctions* OpenHeifLibrary(std::string* why) {
    return HeifLibrary().Open(why);
}

const JxlFunctions& Jxl() {
    return JxlLibrary().table();
}

const JxlThreadsFunctions& JxlThreads() {
    return JxlThreadsLibrary().table();
}

const HeifFunctions& Heif() {
    return HeifLibrary().table();
}

void SetJxlLibraryFile(const std::string& file) {
    JxlLibrary().SetFile(file);
}

void SetHeifLibraryFile(const std::string& file) {
    HeifLibrary().SetFile(file);
}
