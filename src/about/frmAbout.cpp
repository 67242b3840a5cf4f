#include "about/frmAbout.h"

#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <exception>
#include <string>

#include "Version.h"
#include "about/ProcessLauncher.h"
#include "about/Registry.h"
#include "about/VersionText.h"
#include "common/Guards.h"

namespace vantor {

namespace {

// The form's size; the controls sit at their design positions (15 twips per pixel).
constexpr QSize DialogSize{245, 198};

const char* const SysInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const char* const SysInfoValue = "PATH";
const char* const SharedToolsKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
const char* const SharedToolsValue = "MSINFO";

QString AboutText()
{
    return QStringLiteral(
        "Vantor Piano Tutor\n"
        "\n"
        "Learn piano pieces from MIDI files.\n"
        "By the Vantor Piano Tutor team.\n"
        "Contact: the project's issue tracker.");
}

void ShowMessageBox(QWidget* parent, const QString& text)
{
    QMessageBox box(parent);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

}  // namespace

frmAbout::frmAbout(QWidget* parent, std::shared_ptr<Registry> registry,
                   std::shared_ptr<ProcessLauncher> launcher, MessageShower showMessage)
    : QDialog(parent),
      registry_(registry ? std::move(registry) : PlatformRegistry()),
      launcher_(launcher ? std::move(launcher) : std::make_shared<DetachedProcessLauncher>()),
      showMessage_(showMessage ? std::move(showMessage) : MessageShower(ShowMessageBox))
{
    BuildControls();
    Form_Load();
}

frmAbout::~frmAbout() = default;

void frmAbout::BuildControls()
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Vantor"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(DialogSize);
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPointSizeF(8.25);
    setFont(tahoma);

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(16, 14, 209, 103);
    Text1->setReadOnly(true);
    Text1->setPlainText(AboutText());
    // Reachable by the mouse for copying; the keyboard starts on OK.
    Text1->setFocusPolicy(Qt::ClickFocus);

    lblVersion = new QLabel(QStringLiteral("Version"), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setGeometry(16, 140, 123, 13);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(145, 135, 84, 23);
    cmdOK->setDefault(true);

    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    cmdSysInfo->setGeometry(146, 161, 83, 23);

    // A grey line from (14, 122) to (228, 122) between the text and the buttons.
    Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setFrameShape(QFrame::NoFrame);
    Line1->setGeometry(14, 122, 215, 1);
    QPalette grey = Line1->palette();
    grey.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
    Line1->setPalette(grey);
    Line1->setAutoFillBackground(true);

    connect(cmdOK, &QPushButton::clicked, this,
            [this] { RunGuarded("cmdOK_Click", [this] { cmdOK_Click(); }); });
    connect(cmdSysInfo, &QPushButton::clicked, this,
            [this] { RunGuarded("cmdSysInfo_Click", [this] { cmdSysInfo_Click(); }); });
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + QString::fromUtf8(ApplicationTitle));
    lblVersion->setText(VersionText(VersionMajor, VersionMinor, VersionPatch));
    setEnabled(true);
    cmdOK->setText(QStringLiteral("OK"));
}

void frmAbout::cmdOK_Click()
{
    accept();
}

void frmAbout::cmdSysInfo_Click()
{
    StartSysInfo();
}

std::optional<QString> frmAbout::FindSysInfoTool() const
{
    std::string value;
    if (GetKeyValue(*registry_, KeyRoot::LocalMachine, SysInfoKey, SysInfoValue, value)) {
        return QString::fromLocal8Bit(value);
    }
    if (!GetKeyValue(*registry_, KeyRoot::LocalMachine, SharedToolsKey, SharedToolsValue, value))
        return std::nullopt;
    const QString tool =
        QDir::toNativeSeparators(QDir::fromNativeSeparators(QString::fromLocal8Bit(value)) + "/MSINFO32.EXE");
    if (!QFileInfo(tool).isFile()) return std::nullopt;
    return tool;
}

void frmAbout::StartSysInfo()
{
    try {
        const std::optional<QString> tool = FindSysInfoTool();
        if (tool && launcher_->StartDetached(*tool)) return;
    } catch (const std::exception& error) {
        qWarning("StartSysInfo: %s", error.what());
    }
    showMessage_(this, SysInfoUnavailableText);
}

}  // namespace vantor
