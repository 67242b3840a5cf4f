// The About dialog: registry values as text, and the start of the system-information tool.
// Strings and their terminators are read on the way to the tool.
#include <QtTest>
#include <map>

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

}  // namespace

class AboutTest : public QObject
{
    Q_OBJECT
private slots:
    void keyValue()
    {
        FakeRegistry registry;
        registry.Set("K|V", RegDword, QByteArray("\xFF\x10\x00\x0A", 4));
        std::string keyVal = "from before";
        QVERIFY(!GetKeyValue(registry, KeyRoot::LocalMachine, "K", "missing", keyVal));
        QCOMPARE(QByteArray::fromStdString(keyVal), "");  // cleared
        QVERIFY(GetKeyValue(registry, KeyRoot::LocalMachine, "K", "V", keyVal));
        QCOMPARE(QByteArray::fromStdString(keyVal), "&hA010FF");  // dword: last byte first, no leading zeros
    }

    void startSysInfo_data()
    {
        // The tool's path under the first key when given; the shared tools folder under the
        // second, holding MSINFO32.EXE, runnable or not. Started unless neither.
        QTest::addColumn<QString>("setup");
        QTest::newRow("first key before the second") << "path";
        QTest::newRow("second key: the tool in its folder") << "runnable";
        QTest::newRow("second key: a tool that cannot start") << "";
    }
    void startSysInfo()
    {
        QFETCH(QString, setup);
        QTemporaryDir folder;
        QFile tool(folder.filePath(QStringLiteral("MSINFO32.EXE")));
        QVERIFY(tool.open(QIODevice::WriteOnly) && tool.write("#!/bin/sh\n") > 0);
        if (setup.contains("runnable")) QVERIFY(tool.setPermissions(tool.permissions() | QFile::ExeOwner));
        tool.close();
        auto registry = std::make_shared<FakeRegistry>();
        if (setup.contains("path"))
            registry->Set("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO|PATH", RegSz, "/bin/true");
        registry->Set("SOFTWARE\\Microsoft\\Shared Tools Location|MSINFO", RegSz,
                      QDir::toNativeSeparators(folder.path()).toLocal8Bit() + '\0');
        QStringList messages;
        frmAbout dialog(nullptr, registry, {}, [&](QWidget* parent, const QString& text) {
            messages << (parent == &dialog ? text : "?");
        });
        dialog.StartSysInfo();
        QCOMPARE(messages, setup.isEmpty() ? QStringList{"System Information Is Unavailable At This Time"}
                                           : QStringList());
    }
};

QTEST_MAIN(AboutTest)
#include "test_about.moc"
