#pragma once

#include <QString>

namespace vantor {

// Starts a program as a separate process that outlives its caller.
class ProcessLauncher
{
public:
    virtual ~ProcessLauncher() = default;
    // True when the program was started.
    virtual bool StartDetached(const QString& program) = 0;
};

// The desktop's own process start.
class DetachedProcessLauncher final : public ProcessLauncher
{
public:
    bool StartDetached(const QString& program) override;
};

}  // namespace vantor
