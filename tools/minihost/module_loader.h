// Loads a module file and finds its entry point, as a host's loader does.
#pragma once

#include <memory>
#include <string>

#include "standin_host.h"

class LoadedModule {
public:
    // nullptr with `error` set when the file cannot be loaded or has no mexFunction.
    static std::unique_ptr<LoadedModule> open(const std::string& path, std::string& error);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    GatewayFunction gateway() const { return gateway_; }

private:
    LoadedModule(void* handle, GatewayFunction gateway) : handle_(handle), gateway_(gateway) {}
    void* handle_;
    GatewayFunction gateway_;
};
