// The About dialog: texts and layout, the version text, registry value reading
// and the start of the system-information tool.
#include <QtTest>
#include <QtWidgets>
#include <map>
#include <stdexcept>

#include "Version.h"
#include "about/ProcessLauncher.h"
#include "about/Registry.h"
#include "about/VersionText.h"
#include "about/frmAbout.h"

using namespace vantor;
using namespace std::string_literals;

namespace {

RegistryValue Value(std::uint32_t type, const std::string& bytes)
{
    return {type, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

struct FakeRegistry final : Registry
{
    std::map<std::string, RegistryValue> values;  // by "key|value name"
    std::optional<RegistryValue> ReadValue(KeyRoot, const std::string& k, const std::string& v) const override
    {
        const auto found = values.find(k + '|' + v);
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
};

// Records what it is asked to start; fails by throwing unless told to start.
struct FakeLauncher final : ProcessLauncher
{
    bool starts = false;
    QStringList tried;
    bool StartDetached(const QString& program) override
    {
        tried << program;
        if (!starts) throw std::runtime_error("cannot start");
        return true;
    }
};

}  // namespace

Q_DECLARE_METATYPE(vantor::RegistryValue)

class AboutTest : public QObject
{
    Q_OBJECT
private slots:
    void keyValue_data();
    void keyValue();
    void startSysInfo_data();
    void startSysInfo();
    void dialogTextsAndPositions();
};

void AboutTest::keyValue_data()
{
    QTest::addColumn<RegistryValue>("stored");  // as value "Tool" of key "Vantor"
    QTest::addColumn<QString>("lookup");        // key|value
    QTest::addColumn<QByteArray>("text");
    const RegistryValue tool = Value(RegSz, "C:\\msinfo32.exe\0"s);
    QTest::newRow("string with its terminator") << tool << "Vantor|Tool" << QByteArray("C:\\msinfo32.exe");
    QTest::newRow("string without") << Value(RegSz, "C:\\a.exe") << "Vantor|Tool" << QByteArray("C:\\a.exe");
    QTest::newRow("dword, last byte first, no leading zeros")
        << Value(RegDword, "\xFF\x10\x00\x0A"s) << "Vantor|Tool" << QByteArray("&hA010FF");
    QTest::newRow("other type left as passed")
        << Value(3, "\x01") << "Vantor|Tool" << QByteArray("as passed");
    QTest::newRow("missing value") << tool << "Vantor|Other" << QByteArray();
    QTest::newRow("missing key") << tool << "Missing|Tool" << QByteArray();
}

void AboutTest::keyValue()
{
    QFETCH(RegistryValue, stored);
    QFETCH(QString, lookup);
    QFETCH(QByteArray, text);
    FakeRegistry registry;
    registry.values["Vantor|Tool"] = stored;
    std::string keyVal = "as passed";
    const bool found = GetKeyValue(registry, KeyRoot::LocalMachine, lookup.section('|', 0, 0).toStdString(),
                                   lookup.section('|', 1).toStdString(), keyVal);
    QCOMPARE(found, lookup == "Vantor|Tool");
    QCOMPARE(QByteArray::fromStdString(keyVal), text);
}

void AboutTest::startSysInfo_data()
{
    // The tool's path in the first key, the shared tools folder in the second, MSINFO32.EXE in that folder.
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("tried");
    QTest::newRow("no keys") << QString() << QString();
    QTest::newRow("only the second key, no tool there") << "folder" << QString();
    QTest::newRow("first key, launcher fails") << "path folder tool"
                                               << "C:\\t.exe";
    QTest::newRow("second key, launcher fails") << "folder tool"
                                                << "MSINFO32.EXE";
}

void AboutTest::startSysInfo()
{
    QFETCH(QString, setup);
    QFETCH(QString, tried);
    QTemporaryDir folder;
    const QString tool = QDir::toNativeSeparators(folder.filePath(QStringLiteral("MSINFO32.EXE")));
    if (setup.contains("tool")) QVERIFY(QFile(tool).open(QIODevice::WriteOnly));
    auto registry = std::make_shared<FakeRegistry>();
    if (setup.contains("path"))
        registry->values["SOFTWARE\\Microsoft\\Shared Tools\\MSINFO|PATH"] = Value(RegSz, "C:\\t.exe");
    if (setup.contains("folder"))
        registry->values["SOFTWARE\\Microsoft\\Shared Tools Location|MSINFO"] =
            Value(RegSz, QDir::toNativeSeparators(folder.path()).toStdString() + '\0');
    auto launcher = std::make_shared<FakeLauncher>();
    launcher->starts = setup.contains("starts");
    QStringList messages;
    frmAbout dialog(nullptr, registry, launcher, [&](QWidget* parent, const QString& text) {
        messages << (parent == &dialog ? text : "?");
    });
    dialog.StartSysInfo();
    QCOMPARE(messages, launcher->starts ? QStringList()
                                        : QStringList{"System Information Is Unavailable At This Time"});
    QCOMPARE(launcher->tried,
             tried.isEmpty() ? QStringList() : QStringList{tried.endsWith(".EXE") ? tool : tried});
}

void AboutTest::dialogTextsAndPositions()
{
    frmAbout dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About Vantor"));
    QCOMPARE(VersionText(1, 2, 1), QStringLiteral("Version 1.2.1"));  // file version 1.02.0001
    QCOMPARE(dialog.lblVersion->text(),
             QStringLiteral("Version %1.%2.%3").arg(VersionMajor).arg(VersionMinor).arg(VersionPatch));
    QVERIFY(dialog.Text1->toPlainText().startsWith(QStringLiteral("Vantor Piano Tutor\n\n")));
    // Twips at 15 per pixel.
    const std::tuple<QWidget*, QRect, QString> controls[] = {
        {dialog.Text1, {16, 14, 209, 103}, ""},
        {dialog.lblVersion, {16, 140, 123, 13}, ""},
        {dialog.cmdOK, {145, 135, 84, 23}, "OK"},
        {dialog.cmdSysInfo, {146, 161, 83, 23}, "&System Info..."}};
    for (const auto& [control, rect, text] : controls) {
        QCOMPARE(control->geometry(), rect);
        if (auto* button = qobject_cast<QPushButton*>(control)) QCOMPARE(button->text(), text);
    }
}

QTEST_MAIN(AboutTest)
#include "test_about.moc"
