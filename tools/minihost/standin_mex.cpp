// Stand-in extension library (libmex): the error operation ends the module's
// call by jumping back to standinCallGateway, as a host's does.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include "standin_host.h"

namespace {

struct CallFrame {
    std::jmp_buf jump;
    std::string message;
};

// Each thread's innermost call, so threads may call modules at once.
thread_local CallFrame* currentCall = nullptr;

// False when the gateway raised an error. Nothing here lives across the jump.
bool runUntilError(CallFrame& frame, GatewayFunction gateway, int outputCount, mxArray** outputs,
                   int inputCount, const mxArray** inputs) {
    if (setjmp(frame.jump) != 0) return false;
    gateway(outputCount, outputs, inputCount, inputs);
    return true;
}

}  // namespace

extern "C" STANDIN_API void mexErrMsgTxt(const char* message) {
    if (currentCall == nullptr) {
        std::fprintf(stderr, "%s\n", message);
        std::abort();
    }
    currentCall->message = message;
    std::longjmp(currentCall->jump, 1);
}

STANDIN_API bool standinCallGateway(GatewayFunction gateway, int outputCount, mxArray** outputs,
                                    int inputCount, const mxArray** inputs, std::string& message) {
    CallFrame frame;
    CallFrame* const previous = currentCall;
    currentCall = &frame;
    const bool finished = runUntilError(frame, gateway, outputCount, outputs, inputCount, inputs);
    currentCall = previous;
    if (finished) return true;
    message = frame.message;
    // A host drops whatever a failed call left in its output slots.
    const int slots = outputCount > 0 ? outputCount : 1;
    for (int i = 0; i < slots; ++i) {
        mxDestroyArray(outputs[i]);
        outputs[i] = nullptr;
    }
    return false;
}
