// The About dialog: texts and layout, the version text, registry value reading
// and the start of the system-information tool.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <map>
#include <stdexcept>
#include <tuple>

#include "Version.h"
#include "about/ProcessLauncher.h"
#include "about/Registry.h"
#include "about/VersionText.h"
#include "about/frmAbout.h"

using namespace vantor;

namespace {

constexpr const char* SysInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr const char* SharedToolsKey = "SOFTWARE\\Microsoft\\Shared Tools Location";

RegistryValue Bytes(std::uint32_t type, std::initializer_list<int> bytes)
{
    RegistryValue value;
    value.Type = type;
    for (const int b : bytes)
        value.Data.push_back(static_cast<std::uint8_t>(b));
    return value;
}

RegistryValue Text(const std::string& text, bool terminated = true)
{
    RegistryValue value;
    value.Type = RegSz;
    value.Data.assign(text.begin(), text.end());
    if (terminated) value.Data.push_back(0);
    return value;
}

// A registry in memory, keyed by root, key and value name.
class FakeRegistry final : public Registry
{
public:
    using Path = std::tuple<KeyRoot, std::string, std::string>;
    std::map<Path, RegistryValue> values;
    bool fail = false;
    mutable int reads = 0;

    void Set(const std::string& key, const std::string& name, RegistryValue value)
    {
        values[{KeyRoot::LocalMachine, key, name}] = std::move(value);
    }

    std::optional<RegistryValue> ReadValue(KeyRoot root, const std::string& keyName,
                                           const std::string& valueName) const override
    {
        ++reads;
        if (fail) throw std::runtime_error("registry unavailable");
        const auto found = values.find({root, keyName, valueName});
        if (found == values.end()) return std::nullopt;
        return found->second;
    }
};

class FakeLauncher final : public ProcessLauncher
{
public:
    enum class Outcome
    {
        Start,
        Refuse,
        Throw
    };
    Outcome outcome = Outcome::Start;
    QStringList attempts;

    bool StartDetached(const QString& program) override
    {
        attempts << program;
        if (outcome == Outcome::Throw) throw std::runtime_error("cannot start");
        return outcome == Outcome::Start;
    }
};

struct Messages
{
    QStringList texts;
    QList<QWidget*> parents;
    frmAbout::MessageShower Shower()
    {
        return [this](QWidget* parent, const QString& text) {
            parents << parent;
            texts << text;
        };
    }
};

}  // namespace

Q_DECLARE_METATYPE(vantor::RegistryValue)

class AboutTest : public QObject
{
    Q_OBJECT
private slots:
    void versionText_data();
    void versionText();
    void keyValue_data();
    void keyValue();
    void missingKeyOrValueEmptiesTheText();
    void startSysInfo_data();
    void startSysInfo();
    void controls_data();
    void controls();
    void captionTextAndVersion();
    void greyLine();
    void okCloses();
    void sysInfoButtonWithoutRegistryShowsTheMessage();
};

void AboutTest::versionText_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("text");
    QTest::newRow("file version 1.02.0001") << 1 << 2 << 1 << "Version 1.2.1";
    QTest::newRow("zeros") << 0 << 0 << 0 << "Version 0.0.0";
    QTest::newRow("several digits") << 10 << 20 << 305 << "Version 10.20.305";
}

void AboutTest::versionText()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, text);
    QCOMPARE(VersionText(major, minor, revision), text);
}

void AboutTest::keyValue_data()
{
    QTest::addColumn<RegistryValue>("stored");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("string with its terminator")
        << Text("C:\\Tools\\msinfo32.exe") << QByteArray("C:\\Tools\\msinfo32.exe");
    QTest::newRow("string without terminator")
        << Text("C:\\Tools\\msinfo32.exe", false) << QByteArray("C:\\Tools\\msinfo32.exe");
    QTest::newRow("empty string") << Text("") << QByteArray("");
    QTest::newRow("no bytes at all") << Bytes(RegSz, {}) << QByteArray("");
    QTest::newRow("only one terminator dropped") << Bytes(RegSz, {'a', 'b', 0, 0}) << QByteArray("ab\0", 3);
    QTest::newRow("dword, last byte first")
        << Bytes(RegDword, {0x0A, 0x03, 0x02, 0x01}) << QByteArray("&h123A");
    QTest::newRow("dword, no leading zero per byte")
        << Bytes(RegDword, {0xFF, 0x10, 0x00, 0x0A}) << QByteArray("&hA010FF");
    QTest::newRow("dword, a zero top byte is dropped as a terminator")
        << Bytes(RegDword, {0x2A, 0x00, 0x00, 0x00}) << QByteArray("&h002A");
    QTest::newRow("dword zero") << Bytes(RegDword, {0, 0, 0, 0}) << QByteArray("&h000");
    QTest::newRow("binary left as passed") << Bytes(3, {1, 2, 3}) << QByteArray("as passed");
    QTest::newRow("expandable string left as passed") << Bytes(2, {'x', 0}) << QByteArray("as passed");
}

void AboutTest::keyValue()
{
    QFETCH(RegistryValue, stored);
    QFETCH(QByteArray, expected);
    FakeRegistry registry;
    registry.Set("SOFTWARE\\Vantor", "Value", stored);
    std::string keyVal = "as passed";
    QVERIFY(GetKeyValue(registry, KeyRoot::LocalMachine, "SOFTWARE\\Vantor", "Value", keyVal));
    QCOMPARE(QByteArray::fromStdString(keyVal), expected);
}

void AboutTest::missingKeyOrValueEmptiesTheText()
{
    FakeRegistry registry;
    registry.Set("SOFTWARE\\Vantor", "Value", Text("there"));
    std::string keyVal = "as passed";
    QVERIFY(!GetKeyValue(registry, KeyRoot::LocalMachine, "SOFTWARE\\Missing", "Value", keyVal));
    QCOMPARE(keyVal, std::string());
    keyVal = "as passed";
    QVERIFY(!GetKeyValue(registry, KeyRoot::LocalMachine, "SOFTWARE\\Vantor", "Missing", keyVal));
    QCOMPARE(keyVal, std::string());
    keyVal = "as passed";
    QVERIFY(!GetKeyValue(registry, KeyRoot::CurrentUser, "SOFTWARE\\Vantor", "Value", keyVal));
    QCOMPARE(keyVal, std::string());
}

void AboutTest::startSysInfo_data()
{
    QTest::addColumn<QString>("toolPath");      // value of the first key; "" for none
    QTest::addColumn<QString>("sharedFolder");  // "tmp" for a temporary folder, "" for no second key
    QTest::addColumn<QString>("folderHolds");   // "file", "dir" or "" for MSINFO32.EXE in that folder
    QTest::addColumn<int>("outcome");
    QTest::addColumn<bool>("registryFails");
    QTest::addColumn<bool>("started");

    const int start = int(FakeLauncher::Outcome::Start);
    const int refuse = int(FakeLauncher::Outcome::Refuse);
    const int fail = int(FakeLauncher::Outcome::Throw);
    QTest::newRow("no keys") << ""
                             << ""
                             << "" << start << false << false;
    QTest::newRow("first key") << "C:\\Tools\\msinfo32.exe"
                               << ""
                               << "" << start << false << true;
    QTest::newRow("first key wins over the second") << "C:\\Tools\\msinfo32.exe"
                                                    << "tmp"
                                                    << "file" << start << false << true;
    QTest::newRow("launcher refuses") << "C:\\Tools\\msinfo32.exe"
                                      << ""
                                      << "" << refuse << false << false;
    QTest::newRow("launcher fails") << "C:\\Tools\\msinfo32.exe"
                                    << ""
                                    << "" << fail << false << false;
    QTest::newRow("second key, no tool in the folder") << ""
                                                       << "tmp"
                                                       << "" << start << false << false;
    QTest::newRow("second key, a folder named like the tool") << ""
                                                              << "tmp"
                                                              << "dir" << start << false << false;
    QTest::newRow("second key, tool present") << ""
                                              << "tmp"
                                              << "file" << start << false << true;
    QTest::newRow("second key, launcher fails") << ""
                                                << "tmp"
                                                << "file" << fail << false << false;
    QTest::newRow("registry fails") << "C:\\Tools\\msinfo32.exe"
                                    << ""
                                    << "" << start << true << false;
}

void AboutTest::startSysInfo()
{
    QFETCH(QString, toolPath);
    QFETCH(QString, sharedFolder);
    QFETCH(QString, folderHolds);
    QFETCH(int, outcome);
    QFETCH(bool, registryFails);
    QFETCH(bool, started);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString tool = QDir::toNativeSeparators(folder.filePath(QStringLiteral("MSINFO32.EXE")));
    if (folderHolds == "file") {
        QFile file(tool);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (folderHolds == "dir") {
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("MSINFO32.EXE")));
    }

    auto registry = std::make_shared<FakeRegistry>();
    registry->fail = registryFails;
    if (!toolPath.isEmpty()) registry->Set(SysInfoKey, "PATH", Text(toolPath.toStdString()));
    if (!sharedFolder.isEmpty()) {
        registry->Set(SharedToolsKey, "MSINFO", Text(QDir::toNativeSeparators(folder.path()).toStdString()));
    }
    auto launcher = std::make_shared<FakeLauncher>();
    launcher->outcome = FakeLauncher::Outcome(outcome);
    Messages messages;
    frmAbout dialog(nullptr, registry, launcher, messages.Shower());

    dialog.StartSysInfo();

    if (started) {
        QCOMPARE(messages.texts, QStringList());
        QCOMPARE(launcher->attempts, QStringList{toolPath.isEmpty() ? tool : toolPath});
    } else {
        QCOMPARE(messages.texts, QStringList{"System Information Is Unavailable At This Time"});
        QCOMPARE(messages.parents, QList<QWidget*>{&dialog});
        // Nothing started: either never tried, or the one try failed.
        QVERIFY(launcher->attempts.size() <= 1);
        if (outcome == int(FakeLauncher::Outcome::Start)) QCOMPARE(launcher->attempts, QStringList());
    }
}

void AboutTest::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    // Design positions in twips at 15 twips per pixel.
    QTest::newRow("Text1") << "Text1" << QRect(16, 14, 209, 103) << QString();
    QTest::newRow("lblVersion") << "lblVersion" << QRect(16, 140, 123, 13) << QString();
    QTest::newRow("cmdOK") << "cmdOK" << QRect(145, 135, 84, 23) << "OK";
    QTest::newRow("cmdSysInfo") << "cmdSysInfo" << QRect(146, 161, 83, 23) << "&System Info...";
}

void AboutTest::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    frmAbout dialog;
    auto* control = dialog.findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->font().family(), QStringLiteral("Tahoma"));
    if (auto* button = qobject_cast<QPushButton*>(control)) QCOMPARE(button->text(), text);
}

void AboutTest::captionTextAndVersion()
{
    frmAbout dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About Vantor"));
    QVERIFY(dialog.isModal());
    QVERIFY(dialog.isEnabled());
    QCOMPARE(dialog.lblVersion->text(),
             QStringLiteral("Version %1.%2.%3").arg(VersionMajor).arg(VersionMinor).arg(VersionPatch));
    QVERIFY(dialog.Text1->isReadOnly());
    const QStringList lines = dialog.Text1->toPlainText().split(QLatin1Char('\n'));
    QVERIFY(lines.size() >= 4);
    QCOMPARE(lines[0], QStringLiteral("Vantor Piano Tutor"));
    QCOMPARE(lines[1], QString());
    for (int i = 2; i < lines.size(); ++i)
        QVERIFY(!lines[i].trimmed().isEmpty());
}

void AboutTest::greyLine()
{
    frmAbout dialog;
    const QImage image = dialog.grab().toImage();
    const QRgb grey = 0x808080;
    for (const QPoint on : {QPoint(14, 122), QPoint(120, 122), QPoint(228, 122)}) {
        QCOMPARE(image.pixel(on) & RGB_MASK, grey);
    }
    for (const QPoint off : {QPoint(13, 122), QPoint(229, 122), QPoint(120, 121), QPoint(120, 123)}) {
        QVERIFY2((image.pixel(off) & RGB_MASK) != grey,
                 qPrintable(QStringLiteral("%1,%2").arg(off.x()).arg(off.y())));
    }
}

void AboutTest::okCloses()
{
    frmAbout dialog;
    dialog.open();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void AboutTest::sysInfoButtonWithoutRegistryShowsTheMessage()
{
#ifdef Q_OS_WIN
    QSKIP("The Windows registry may hold the tool");
#endif
    // The platform's registry here has nothing, so the button goes straight to the message.
    auto launcher = std::make_shared<FakeLauncher>();
    Messages messages;
    frmAbout dialog(nullptr, {}, launcher, messages.Shower());
    dialog.open();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.cmdSysInfo, Qt::LeftButton);
    QCOMPARE(messages.texts, QStringList{"System Information Is Unavailable At This Time"});
    QCOMPARE(launcher->attempts, QStringList());
    QVERIFY(dialog.isVisible());
}

QTEST_MAIN(AboutTest)
#include "test_about.moc"
