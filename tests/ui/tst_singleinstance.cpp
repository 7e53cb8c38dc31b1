// One Wavelark per user, with real processes: a second start hands its folders over and exits,
// over D-Bus and over the local socket, and neither a stale socket nor a killed first instance
// keeps the next one from starting.
#include "TestSupport.h"

#include "platform/Preferences.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

struct Session
{
    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QProcess bus;

    // `withBus`: a private session bus; otherwise none can be reached.
    bool start(bool withBus)
    {
        for (const char *sub : {"config", "data", "runtime", "home"})
            QDir(dir.path()).mkpath(QLatin1String(sub));
        QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                           dir.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                           dir.filePath(QStringLiteral("runtime")));
        environment.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QString address = QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("no-bus"));
        if (withBus) {
            bus.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--print-address")});
            if (!bus.waitForReadyRead(10000))
                return false;
            address = QString::fromUtf8(bus.readLine()).trimmed();
        }
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        return true;
    }
    ~Session()
    {
        bus.kill();
        bus.waitForFinished();
    }

    std::unique_ptr<QProcess> launch(const QStringList &arguments)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(WAVELARK_BINARY), arguments);
        process->waitForStarted();
        return process;
    }

    QString folder(const QString &name) const
    {
        TestSupport::makeDirs(dir.filePath(name));
        return dir.filePath(name);
    }

    QStringList roots() const
    {
        const Preferences stored(dir.filePath(QStringLiteral("config/Wavelark/Wavelark.plist")));
        return stored.stringArrayForKey(QStringLiteral("rootFolderPaths")).value_or(QStringList());
    }
};

void stop(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished();
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void handOver_data();
    void handOver();
};

void TestSingleInstance::handOver_data()
{
    QTest::addColumn<bool>("withBus");
    QTest::newRow("session bus") << true;
    QTest::newRow("local socket") << false;
}

void TestSingleInstance::handOver()
{
    QFETCH(bool, withBus);
    if (withBus && QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon is not installed");
    Session s;
    QVERIFY(s.start(withBus));
    const QString drums = s.folder(QStringLiteral("Drums"));
    const QString keys = s.folder(QStringLiteral("Keys"));
    const QString pads = s.folder(QStringLiteral("Pads"));

    auto first = s.launch({drums});
    QTRY_COMPARE_WITH_TIMEOUT(s.roots(), QStringList{drums}, 15000);

    // A later start, from another folder and with a relative path, hands over and exits 0.
    QProcess second;
    second.setProcessEnvironment(s.environment);
    second.setWorkingDirectory(s.dir.path());
    second.start(QStringLiteral(WAVELARK_BINARY), {QStringLiteral("Keys"), QStringLiteral("nope")});
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(s.roots(), (QStringList{drums, keys}), 10000);
    QCOMPARE(first->state(), QProcess::Running);

    // A first instance that dies leaves its socket behind; the next start takes over anyway.
    first->kill();
    first->waitForFinished();
    auto third = s.launch({pads});
    QTRY_COMPARE_WITH_TIMEOUT(s.roots(), (QStringList{drums, keys, pads}), 15000);
    QCOMPARE(third->state(), QProcess::Running);
    QProcess fourth;
    fourth.setProcessEnvironment(s.environment);
    fourth.start(QStringLiteral(WAVELARK_BINARY), {});
    QVERIFY(fourth.waitForFinished(15000));
    QCOMPARE(fourth.exitCode(), 0);
    QCOMPARE(third->state(), QProcess::Running);
    stop(*third);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
