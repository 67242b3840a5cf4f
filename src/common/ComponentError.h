#pragma once

#include <stdexcept>
#include <string>

namespace vantor {

// Thrown by a component member used against its contract (an event index out of
// range, a malformed file). The message is meant for the user.
class ComponentError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

}  // namespace vantor
