// Table operations with no behaviour of their own. Each instance still declares its exact
// argument list: under the 32-bit convention the callee pops its arguments.
#pragma once

#include "kinetiscan/abi.h"

namespace kinetiscan {

template <class Interface, class... Arguments>
Result KINETISCAN_CALL doNothing(Interface*, Arguments...) {
  return kOk;
}

// An operation that answers like an unknown method: the sprite actor's method call, and every
// operation whose work has not been built yet.
template <class Interface, class... Arguments>
Result KINETISCAN_CALL answerUnknownMethod(Interface*, Arguments...) {
  return kUnknownMethod;
}

}  // namespace kinetiscan
