#pragma once

#include "diagnostics/Error.h"

#include <optional>

namespace kernwell::test {

// The error `action` throws; none when it returns normally. Lets a test
// check a failure without a try block around every call.
template<typename Action>
std::optional<Error> thrownError(Action&& action)
{
    try {
        action();
    } catch (const Error& error) {
        return error;
    }
    return std::nullopt;
}

} // namespace kernwell::test
