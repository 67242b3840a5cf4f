// The About dialog: registry value reading and the start of the system-information tool.
#include <QtTest>
#include <map>
#include <stdexcept>

#include "about/ProcessLauncher.h"
#include "about/Registry.h"
#include "about/frmAbout.h"

using namespace vantor;

namespace {

struct FakeRegistry final : Registry
{
    std::map<std::string, RegistryValue> values;  // by "key|value name"
    std::optional<RegistryValue> ReadValue(KeyRoot, const std::string& k, const std::string& v) const override
    {
        const auto found = values.find(k + '|' + v);
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
    void Set(const std::string& at, std::uint32_t type, const QByteArray& data)
    {
        values[at] = {type, {data.begin(), data.end()}};
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

class AboutTest : public QObject
{
    Q_OBJECT
private slots:
    void keyValue_data()
    {
        QTest::addColumn<std::uint32_t>("type");  // of the value K|V; 0: there is none
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("text");  // null: not found
        const QByteArray path = "C:\\a.exe";
        QTest::newRow("string with its terminator") << RegSz << path + '\0' << path;
        QTest::newRow("string without") << RegSz << path << path;
        QTest::newRow("dword, last byte first, no leading zeros")
            << RegDword << QByteArray("\xFF\x10\x00\x0A", 4) << QByteArray("&hA010FF");
        QTest::newRow("other type left as passed") << 3u << path << QByteArray("as passed");
        QTest::newRow("missing value") << 0u << path << QByteArray();
    }
    void keyValue()
    {
        QFETCH(std::uint32_t, type);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, text);
        FakeRegistry registry;
        if (type) registry.Set("K|V", type, data);
        std::string keyVal = "as passed";
        QCOMPARE(GetKeyValue(registry, KeyRoot::LocalMachine, "K", "V", keyVal), !text.isNull());
        QCOMPARE(QByteArray::fromStdString(keyVal), text);
    }

    void startSysInfo_data()
    {
        // The tool's path under the first key, the shared tools folder under the second,
        // MSINFO32.EXE in that folder, a launcher that starts it.
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("tried");  // "tool": the one in the folder
        QTest::newRow("no keys") << ""
                                 << "";
        QTest::newRow("only the second key, no tool there") << "folder"
                                                            << "";
        QTest::newRow("first key before the second, started") << "path folder tool starts"
                                                              << "C:\\t.exe";
        QTest::newRow("second key, launcher fails") << "folder tool"
                                                    << "tool";
    }
    void startSysInfo()
    {
        QFETCH(QString, setup);
        QFETCH(QString, tried);
        QTemporaryDir folder;
        const QString tool = QDir::toNativeSeparators(folder.filePath(QStringLiteral("MSINFO32.EXE")));
        if (setup.contains("tool")) QVERIFY(QFile(tool).open(QIODevice::WriteOnly));
        auto registry = std::make_shared<FakeRegistry>();
        if (setup.contains("path"))
            registry->Set("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO|PATH", RegSz, "C:\\t.exe");
        if (setup.contains("folder"))
            registry->Set("SOFTWARE\\Microsoft\\Shared Tools Location|MSINFO", RegSz,
                          QDir::toNativeSeparators(folder.path()).toLocal8Bit() + '\0');
        auto launcher = std::make_shared<FakeLauncher>();
        launcher->starts = setup.contains("starts");
        QStringList messages;
        frmAbout dialog(nullptr, registry, launcher, [&](QWidget* parent, const QString& text) {
            messages << (parent == &dialog ? text : "?");
        });
        dialog.StartSysInfo();
        QCOMPARE(messages, launcher->starts ? QStringList()
                                            : QStringList{"System Information Is Unavailable At This Time"});
        QCOMPARE(launcher->tried.join(""), tried == "tool" ? tool : tried);
    }
};

QTEST_MAIN(AboutTest)
#include "test_about.moc"
