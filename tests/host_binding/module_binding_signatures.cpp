// The module's side, in a translation unit of its own: the two declarations
// of one C function may not meet in one unit.
#include <typeinfo>

#include "host_operations.h"
#include "mex_binding.h"

Signatures moduleBindingSignatures() {
#define QUELMOR_SIGNATURE(operation) {#operation, typeid(decltype(operation)).name()},
    return {QUELMOR_HOST_OPERATIONS(QUELMOR_SIGNATURE){"mexFunction",
                                                       typeid(decltype(mexFunction)).name()}};
#undef QUELMOR_SIGNATURE
}
