// The C types of the host operations the module imports (host_operations.h)
// as each side of the module/host boundary declares them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host_operations.h"

// {operation, its type's mangled name}, the entry point (mexFunction) last.
using Signatures = std::vector<std::pair<std::string, std::string>>;

#define QUELMOR_SIGNATURE(library, result, operation, parameters) \
    {#operation, typeid(decltype(operation)).name()},

// As the module's binding (host/mex_binding.h) declares them.
Signatures moduleBindingSignatures();
