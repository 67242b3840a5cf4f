#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace vantor {

// The help document's own window: a text browser that follows the document's
// links, opened at the table of contents. Closing it only hides it.
class HelpViewer : public QWidget
{
    Q_OBJECT
public:
    explicit HelpViewer(QWidget* owner);

    // Shows the document at its table of contents. Returns false, showing
    // nothing, when the file cannot be read.
    bool ShowContents(const QString& path);

    QTextBrowser* Browser = nullptr;
};

// The help document: beside the program (a build tree), in the data folder of
// the prefix it is installed under (bin/../share/vantor), or in /usr/share/vantor.
// The first that can be read; the one beside the program when none can.
QString FindHelpDocument(const QString& programFolder);

// The anchor of the table of contents in the help document.
inline constexpr const char* HelpContentsAnchor = "contents";

}  // namespace vantor
