// The module's side, in a translation unit of its own: the two declarations
// of one C function may not meet in one unit.
#include <typeinfo>

#include "mex_binding.h"
#include "signatures.h"

Signatures moduleBindingSignatures() {
    return {QUELMOR_HOST_OPERATIONS(QUELMOR_SIGNATURE){"mexFunction",
                                                       typeid(decltype(mexFunction)).name()}};
}
