#include "app/HelpViewer.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace vantor {

HelpViewer::HelpViewer(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(QStringLiteral("Vantor Piano Tutor Help"));
    Browser = new QTextBrowser(this);
    Browser->setObjectName(QStringLiteral("HelpBrowser"));
    Browser->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Browser);
    resize(640, 560);
}

QString FindHelpDocument(const QString& programFolder)
{
    const QDir folder(programFolder);
    const QStringList candidates = {folder.filePath(QStringLiteral("Vantor.html")),
                                    folder.filePath(QStringLiteral("../share/vantor/Vantor.html")),
                                    QStringLiteral("/usr/share/vantor/Vantor.html")};
    for (const QString& candidate : candidates) {
        const QFileInfo file(candidate);
        if (file.isFile() && file.isReadable()) return file.absoluteFilePath();
    }
    return candidates.front();
}

bool HelpViewer::ShowContents(const QString& path)
{
    const QFileInfo file(path);
    if (!file.isFile() || !file.isReadable()) return false;
    QUrl url = QUrl::fromLocalFile(file.absoluteFilePath());
    url.setFragment(QString::fromLatin1(HelpContentsAnchor));
    // Read again on every request: the document may have been replaced meanwhile.
    Browser->setSource(url);
    Browser->reload();
    Browser->scrollToAnchor(QString::fromLatin1(HelpContentsAnchor));
    show();
    raise();
    activateWindow();
    return true;
}

}  // namespace vantor
