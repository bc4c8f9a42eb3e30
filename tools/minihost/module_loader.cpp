#include "module_loader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#if defined(_WIN32)
void* openLibrary(const std::string& path) { return LoadLibraryA(path.c_str()); }
void* findSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void closeLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
std::string lastLoadError() { return "error " + std::to_string(GetLastError()); }
#else
void* openLibrary(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }
void closeLibrary(void* handle) { dlclose(handle); }
std::string lastLoadError() {
    const char* message = dlerror();
    return message ? message : "unknown error";
}
#endif

}  // namespace

std::unique_ptr<LoadedModule> LoadedModule::open(const std::string& path, std::string& error) {
    void* handle = openLibrary(path);
    if (handle == nullptr) {
        error = "cannot load module " + path + ": " + lastLoadError();
        return nullptr;
    }
    void* entry = findSymbol(handle, "mexFunction");
    if (entry == nullptr) {
        closeLibrary(handle);
        error = "module " + path + " has no mexFunction";
        return nullptr;
    }
    return std::unique_ptr<LoadedModule>(
        new LoadedModule(handle, reinterpret_cast<GatewayFunction>(entry)));
}

LoadedModule::~LoadedModule() { closeLibrary(handle_); }
