#pragma once

#include <QDialog>
#include <memory>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vantor {

class Registry;
class ProcessLauncher;

// The About dialog: title, version and a launcher for the system-information tool.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    // Without a registry or launcher the platform's own are used.
    explicit frmAbout(QWidget* parent = nullptr, std::shared_ptr<Registry> registry = {},
                      std::shared_ptr<ProcessLauncher> launcher = {});
    ~frmAbout() override;

    void StartSysInfo();

    QPlainTextEdit* Text1 = nullptr;
    QLabel* lblVersion = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;
    QFrame* Line1 = nullptr;

private:
    std::shared_ptr<Registry> registry_;
    std::shared_ptr<ProcessLauncher> launcher_;
};

}  // namespace vantor
