// The module's binding to the host against the host's interface as the
// stand-in declares it: a wrong parameter or result type on either side (a
// 32-bit size, a missing const) fails here rather than only in a real host.
#include <gtest/gtest.h>

#include <typeinfo>

#include "host_binding/signatures.h"
#include "host_interface.h"

namespace {

Signatures hostInterfaceSignatures() {
    return {QUELMOR_HOST_OPERATIONS(QUELMOR_SIGNATURE){
        "mexFunction", typeid(std::remove_pointer_t<GatewayFunction>).name()}};
}

TEST(HostBinding, EveryImportedOperationAndTheEntryPointHaveTheHostsTypes) {
    const Signatures module = moduleBindingSignatures();
    const Signatures host = hostInterfaceSignatures();
    ASSERT_EQ(module.size(), host.size());
    for (std::size_t i = 0; i < host.size(); ++i) {
        EXPECT_EQ(module[i], host[i]) << host[i].first << " is declared differently";
    }
}

}  // namespace
