#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vantor {

class Registry;
class ProcessLauncher;

// The About dialog: title, version and a launcher for the system-information tool.
// Modal; closed by OK.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    // Shows an OK-only message box with no title of its own.
    using MessageShower = std::function<void(QWidget* parent, const QString& text)>;

    inline static const QString SysInfoUnavailableText =
        QStringLiteral("System Information Is Unavailable At This Time");

    // Without a registry, launcher or message box the platform's own are used.
    explicit frmAbout(QWidget* parent = nullptr, std::shared_ptr<Registry> registry = {},
                      std::shared_ptr<ProcessLauncher> launcher = {}, MessageShower showMessage = {});
    ~frmAbout() override;

    // Starts the system-information tool, or tells the user that it cannot.
    void StartSysInfo();
    void cmdOK_Click();
    void cmdSysInfo_Click();

    QPlainTextEdit* Text1 = nullptr;
    QLabel* lblVersion = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;
    QFrame* Line1 = nullptr;

private:
    void BuildControls();
    void Form_Load();
    // The tool's full path as the registry tells it, if it does.
    std::optional<QString> FindSysInfoTool() const;

    std::shared_ptr<Registry> registry_;
    std::shared_ptr<ProcessLauncher> launcher_;
    MessageShower showMessage_;
};

}  // namespace vantor
