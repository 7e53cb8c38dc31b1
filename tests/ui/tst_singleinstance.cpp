// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// One Wavelark per user, with real processes, over D-Bus and over the local socket.
#include "TestSupport.h"

#include "platform/Preferences.h"

#include <QDir>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

namespace {

struct Session
{
    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QProcess bus;

    bool start(bool withBus)
    {
        for (const auto &[variable, sub] :
             {std::pair{"XDG_CONFIG_HOME", "config"}, std::pair{"XDG_DATA_HOME", "data"},
              std::pair{"XDG_RUNTIME_DIR", "runtime"}, std::pair{"HOME", "home"}}) {
            QDir(dir.path()).mkpath(QLatin1String(sub));
            environment.insert(QLatin1String(variable), dir.filePath(QLatin1String(sub)));
        }
        QFile::setPermissions(dir.filePath("runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        QString address = "unix:path=" + dir.filePath("no-bus");
        if (withBus) {
            bus.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
            if (!bus.waitForReadyRead(10000))
                return false;
            address = QString::fromUtf8(bus.readLine()).trimmed();
        }
        environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
        return true;
    }
    ~Session()
    {
        bus.kill();
        bus.waitForFinished();
    }

    std::unique_ptr<QProcess> launch(const QStringList &arguments, const QString &from = {})
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->setWorkingDirectory(from);
        process->start(WAVELARK_BINARY, arguments);
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
        const Preferences stored(dir.filePath("config/Wavelark/Wavelark.plist"));
        return stored.stringArrayForKey("rootFolderPaths").value_or(QStringList());
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
    void handOver_data()
    {
        QTest::addColumn<bool>("withBus");
        QTest::newRow("session bus") << true;
        QTest::newRow("local socket") << false;
    }
    void handOver()
    {
        QFETCH(bool, withBus);
        if (withBus && QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            QSKIP("dbus-daemon is not installed");
        Session s;
        QVERIFY(s.start(withBus));
        const QString drums = s.folder("Drums"), keys = s.folder("Keys"), pads = s.folder("Pads");

        auto first = s.launch({drums});
        QTRY_COMPARE_WITH_TIMEOUT(s.roots(), QStringList{drums}, 15000);

        // A later start, from another folder and with a relative path, hands over and exits 0.
        auto second = s.launch({"Keys", "nope"}, s.dir.path());
        QVERIFY(second->waitForFinished(15000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(s.roots(), (QStringList{drums, keys}), 10000);
        QCOMPARE(first->state(), QProcess::Running);

        // A first instance that dies leaves its socket behind; the next start takes over anyway.
        first->kill();
        first->waitForFinished();
        auto third = s.launch({pads});
        QTRY_COMPARE_WITH_TIMEOUT(s.roots(), (QStringList{drums, keys, pads}), 15000);
        auto fourth = s.launch({});
        QVERIFY(fourth->waitForFinished(15000));
        QCOMPARE(fourth->exitCode(), 0);
        QCOMPARE(third->state(), QProcess::Running);
        stop(*third);
    }

    void frozenInstanceGetsNoSecondWriter_data()
    {
        QTest::addColumn<bool>("withBus");
        QTest::newRow("session bus") << true;
        QTest::newRow("local socket") << false;
    }
    void frozenInstanceGetsNoSecondWriter()
    {
        QFETCH(bool, withBus);
        if (withBus && QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            QSKIP("dbus-daemon is not installed");
        Session s;
        QVERIFY(s.start(withBus));
        const QString drums = s.folder("Drums"), keys = s.folder("Keys");
        auto first = s.launch({drums});
        QTRY_COMPARE_WITH_TIMEOUT(s.roots(), QStringList{drums}, 15000);

        // As a hang on a dead share would: the first process holds everything and answers nothing.
        ::kill(pid_t(first->processId()), SIGSTOP);
        const QByteArray socket =
            QFile::encodeName(s.dir.filePath("runtime/org.wavelark.Wavelark"));
        struct stat before = {};
        QCOMPARE(::stat(socket.constData(), &before), 0);
        auto second = std::make_unique<QProcess>();
        second->setProcessEnvironment(s.environment);
        second->start(WAVELARK_BINARY, {keys});
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitCode(), 1);
        QVERIFY2(second->readAllStandardError().contains("already running but is not answering"),
                 "the start says why it stops");
        // The second start took neither the socket nor the state.
        struct stat after = {};
        QCOMPARE(::stat(socket.constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(s.roots(), QStringList{drums});

        // Thawed, the first one still owns everything and takes later starts.
        ::kill(pid_t(first->processId()), SIGCONT);
        auto third = s.launch({keys});
        QVERIFY(third->waitForFinished(15000));
        QCOMPARE(third->exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(s.roots(), (QStringList{drums, keys}), 10000);
        stop(*first);
    }

    // Without any display Qt would abort with advice to reinstall; the start says what is missing.
    void noDisplaySaysWhatIsMissing_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("wayland");
        QTest::addColumn<QString>("says");
        QTest::newRow("nothing") << QString() << QString() << "no display was found";
        QTest::newRow("wayland without xwayland or plugin") << QString() << "wayland-nowhere"
                                                            << "install the package qt6-wayland";
        QTest::newRow("x display gone")
            << ":93" << QString() << "the X display :93 does not answer";
    }
    void noDisplaySaysWhatIsMissing()
    {
        QFETCH(QString, display);
        QFETCH(QString, wayland);
        QFETCH(QString, says);
        if (!wayland.isEmpty() &&
            !QDir(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms")
                 .entryList({"libqwayland*.so"})
                 .isEmpty())
            QSKIP("Qt's Wayland platform is installed here");
        Session s;
        QVERIFY(s.start(false));
        s.environment.remove("QT_QPA_PLATFORM");
        s.environment.remove("DISPLAY");
        s.environment.remove("WAYLAND_DISPLAY");
        if (!display.isEmpty())
            s.environment.insert("DISPLAY", display);
        if (!wayland.isEmpty())
            s.environment.insert("WAYLAND_DISPLAY", wayland);
        QProcess start;
        start.setProcessEnvironment(s.environment);
        start.start(WAVELARK_BINARY, {});
        QVERIFY(start.waitForFinished(15000));
        QCOMPARE(start.exitStatus(), QProcess::NormalExit);
        QCOMPARE(start.exitCode(), 2);
        const QString error = QString::fromUtf8(start.readAllStandardError()).trimmed();
        QVERIFY2(error.startsWith("wavelark: cannot open a window: ") && error.contains(says) &&
                     !error.contains('\n'),
                 qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
