// Exceptions of the player component: EMPError carries a text meant for the
// user ("%s(%s)" device errors, unreadable streams); EMPAssertionFailed is
// raised when an internal precondition does not hold. MP_ASSERT names the
// source file and line in the message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace morvik {

class EMPError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EMPAssertionFailed : public EMPError {
public:
    EMPAssertionFailed(const char* file, int line);
};

[[noreturn]] void mpAssertionFailure(const char* file, int line);

} // namespace morvik

#define MP_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : ::morvik::mpAssertionFailure(__FILE__, __LINE__))
