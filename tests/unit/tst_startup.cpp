// Start-up and the application-wide values: the order of the start, the data folder on disk
// and what the program does when it cannot have one.
#include "App.h"
#include "CommandLine.h"
#include "MainMenuBar.h"
#include "myLib.h"
#include "Launch.h"
#include "TestSupport.h"
#include "Window1.h"
#include "wStartup.h"
#include "framework/Runtime.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

namespace {

void resetMyLib()
{
    myLib::AppName.clear();
    myLib::AppBundleID.clear();
    myLib::ApplicationDataFolder.reset();
    myLib::PrefsFile.reset();
    myLib::pi = 0;
    myLib::black = myLib::red = myLib::green = myLib::blue = fw::Color {};
    myLib::CR.clear();
    myLib::DQUOTE.clear();
}

const QString FolderName = "org.velquarin.Velquarin Control Board";

}

class tst_startup : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        resetMyLib();
    }
    void cleanup() { m_env.reset(); }

    void InitMyLib_firstStartCreatesEmptyDataFolderAndSetsEveryValue()
    {
        QVERIFY(!QDir(m_env->dataHome()).exists()); // the account's data folder is made too
        myLib::InitMyLib("Velquarin Control Board");

        QCOMPARE(myLib::AppName, "Velquarin Control Board");
        QCOMPARE(myLib::AppBundleID, "org.velquarin.Velquarin Control Board");
        const QString folder = m_env->dataHome() + "/" + FolderName;
        QCOMPARE(QString::fromStdString(myLib::ApplicationDataFolder->path().string()), folder);
        QVERIFY(QFileInfo(folder).isDir());
        QVERIFY(QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        QCOMPARE(QString::fromStdString(myLib::PrefsFile->path().string()), folder + "/Velquarin Control BoardPrefs");
        QVERIFY(!myLib::PrefsFile->Exists());

        QCOMPARE(myLib::pi, 3.141592653589793);
        QVERIFY(myLib::black == fw::RGB(0, 0, 0, 0));
        QVERIFY(myLib::red == fw::RGB(255, 0, 0, 0));
        QVERIFY(myLib::green == fw::RGB(0, 170, 0, 0));
        QVERIFY(myLib::blue == fw::RGB(0, 0, 255, 0));
        QCOMPARE(myLib::CR, "\r");
        QCOMPARE(myLib::DQUOTE, "\"");
        QVERIFY(m_env->messages().empty());
    }

    void InitMyLib_laterStartFindsFolderAndChangesNothing()
    {
        const QString folder = m_env->dataHome() + "/" + FolderName;
        QVERIFY(QDir().mkpath(folder));
        QFile kept(folder + "/notes.txt");
        QVERIFY(kept.open(QIODevice::WriteOnly));
        kept.write("left by the user");
        kept.close();
        const QStringList before = snapshot(m_env->dataHome());

        myLib::InitMyLib("Velquarin Control Board");
        QCOMPARE(snapshot(m_env->dataHome()), before);
        QVERIFY(myLib::PrefsFile);
        QVERIFY(m_env->messages().empty());
    }

    void InitMyLib_fileWhereFolderGoesIsLeftAlone()
    {
        QVERIFY(QDir().mkpath(m_env->dataHome()));
        QFile blocker(m_env->dataHome() + "/" + FolderName);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.write("not a folder");
        blocker.close();
        const QStringList before = snapshot(m_env->dataHome());

        myLib::InitMyLib("Velquarin Control Board");
        QCOMPARE(snapshot(m_env->dataHome()), before);
        QVERIFY(myLib::red == fw::RGB(255, 0, 0, 0));
    }

    void InitMyLib_nameThatCannotNameAFolderWarnsOnceAndKeepsColours()
    {
        myLib::InitMyLib("a/b");
        QCOMPARE(m_env->messages().size(), 1u);
        QCOMPARE(m_env->messages()[0], "Sorry, I can't seem to create the applications data folder: ");
        QVERIFY(!myLib::ApplicationDataFolder);
        QVERIFY(!myLib::PrefsFile);
        QVERIFY(myLib::red == fw::RGB(255, 0, 0, 0));
        QVERIFY(myLib::green == fw::RGB(0, 170, 0, 0));
        QVERIFY(snapshot(m_env->dataHome()).isEmpty());
    }

    void InitMyLib_noApplicationDataFolderRaisesAndLeavesConstantsUnset()
    {
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("HOME");
        QVERIFY_THROWS_EXCEPTION(fw::NilObjectException, myLib::InitMyLib("Velquarin Control Board"));
        QCOMPARE(myLib::AppBundleID, "org.velquarin.Velquarin Control Board");
        QVERIFY(!myLib::ApplicationDataFolder);
        QVERIFY(myLib::red == fw::Color {});
    }

    void Startup_showsOneStartWindowNoBoardAndInstallsTheMenuBar()
    {
        int startWindows = -1;
        bool board = true;
        QTimer::singleShot(0, [&] {
            startWindows = 0;
            board = false;
            for (fw::Window* window : fw::Window::openWindows()) {
                startWindows += dynamic_cast<class wStartup*>(window) != nullptr;
                board |= dynamic_cast<class Window1*>(window) != nullptr;
            }
            wStartup().PushButton2().Push();
        });
        QCOMPARE(Main(), 0);
        QCOMPARE(startWindows, 1);
        QVERIFY(!board);
        QCOMPARE(fw::Runtime::application()->menuBar(), static_cast<fw::MenuBar*>(&MainMenuBar()));
        QCOMPARE(myLib::AppName, "Velquarin Control Board");
        QVERIFY(QFileInfo(m_env->dataHome() + "/" + FolderName).isDir());
    }

    // A cue goes to the window it concerns: go to the start window, the others to the board;
    // back to one while held lights every block and stays held.
    void Cues_goOpensTheBoardWhichHoldsAndResumes()
    {
        const std::pair<const char*, bool> texts[] = { { " go\n", true }, { "seed 4294967295", true },
            { "seed 4294967296", false }, { "seed -1", false }, { "seed", false }, { "Go", false }, { "go now", false },
            { "hold 2", false }, { "seed 1 1", false } };
        for (const auto& [text, known] : texts)
            QVERIFY2(readCue(text).has_value() == known, text);
        // A button's press is the cue, its release nothing.
        QVERIFY(readCue("hold 1") && readCue("hold 1")->kind == Cue::Kind::Hold);
        QVERIFY(readCue("back-to-one 0") && readCue("back-to-one 0")->kind == Cue::Kind::Release);
        bool checked = false;
        QTimer::singleShot(0, [&] {
            fw::Application& app = *fw::Runtime::application();
            app.Event_Cue("hold");
            app.Event_Cue("go");
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            auto& board = Window1();
            const auto windows = fw::Window::openWindows();
            checked = board.Visible() && !board.Held() && windows.size() == 1;
            app.Event_Cue("hold");
            board.Rectangle1(3).setVisible(false);
            app.Event_Cue("back-to-one");
            checked = checked && board.Held() && board.Rectangle1(3).Visible();
            app.Event_Cue("resume");
            checked = checked && !board.Held() && board.Timer1().Mode() == fw::TimerMode::Multiple;
            fw::Quit(0);
        });
        QCOMPARE(Main(), 0);
        QVERIFY(checked);
    }

    void Startup_withoutDataFolderTellsUserAndEndsWithFailure()
    {
        qunsetenv("XDG_DATA_HOME");
        qputenv("HOME", "");
        QTemporaryDir workingFolder;
        const QString oldCurrent = QDir::currentPath();
        QDir::setCurrent(workingFolder.path());
        const QStringList before = snapshot(workingFolder.path());
        QCOMPARE(Main(), fw::UnhandledFailureStatus);
        QDir::setCurrent(oldCurrent);
        QCOMPARE(m_env->messages().size(), 1u);
        QVERIFY(m_env->messages()[0].find("no folder for application data") != std::string::npos);
        // No start window was ever made, so no board can follow without its colours.
        QVERIFY(fw::Window::openWindows().empty());
        QCOMPARE(snapshot(workingFolder.path()), before);
    }

    // Cards written from one image share a host name: the screen tells two boards of one
    // machine apart, and what a topic level or an OSC address part cannot hold is replaced.
    void CommandLine_defaultNameIsTheHostsShortNameWithTheScreen()
    {
        QCOMPARE(defaultName("raspberrypi", ""), std::string("raspberrypi"));
        QCOMPARE(defaultName("helm.stage.local", "HDMI-A-2"), std::string("helm-HDMI-A-2"));
        QCOMPARE(defaultName("", ""), std::string("board"));
        QCOMPARE(defaultName("deck", "DP 1/+#"), std::string("deck-DP-1---"));
        QCOMPARE(defaultName(std::string(60, 'x'), "HDMI-1"), std::string(60, 'x') + "-HD");
    }

private:
    std::unique_ptr<TestEnvironment> m_env;
};

QTEST_MAIN(tst_startup)
#include "tst_startup.moc"
