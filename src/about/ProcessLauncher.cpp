#include "about/ProcessLauncher.h"

#include <QProcess>

namespace vantor {

bool DetachedProcessLauncher::StartDetached(const QString& program)
{
    return QProcess::startDetached(program, {});
}

}  // namespace vantor
