// The Practice menu: how the practice tools behave.
#include <QMenu>
#include <QMenuBar>

#include "app/Form1.h"

namespace vantor {

void Form1::BuildPracticeMenu()
{
    PracticeMenu = menuBar()->addMenu(QStringLiteral("&Practice"));
    PracticeMenu->setObjectName(QStringLiteral("PracticeMenu"));
    BuildPracticePlaybackItems();
}

}  // namespace vantor
