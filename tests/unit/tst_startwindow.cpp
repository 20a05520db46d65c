// The start window: what it shows, and GO / Quit by mouse, keys and menu.
#include "App.h"
#include "MainMenuBar.h"
#include "myLib.h"
#include "TestSupport.h"
#include "Window1.h"
#include "wStartup.h"
#include "framework/Runtime.h"

#include <QAction>
#include <QFontInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

namespace {

bool boardOpen()
{
    for (fw::Window* window : fw::Window::openWindows()) {
        if (dynamic_cast<class Window1*>(window))
            return true;
    }
    return false;
}

}

class tst_startwindow : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        auto app = std::make_unique<App>();
        app->setMenuBar(&MainMenuBar());
        fw::Runtime::registerApplication(std::move(app));
        myLib::InitMyLib("Velquarin Control Board");
        m_window = &wStartup();
        QApplication::setActiveWindow(m_window->widget());
        QVERIFY(QTest::qWaitForWindowActive(m_window->widget()));
    }
    void cleanup()
    {
        m_window = nullptr;
        m_env.reset();
    }

    void StartWindow_showsCaptionHintAndButtonsWhereDesigned()
    {
        QCOMPARE(m_window->Width(), 470);
        QCOMPARE(m_window->Height(), 332);
        QCOMPARE(m_window->widget()->windowTitle(), "Untitled");
        QVERIFY(!(m_window->widget()->windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(m_window->widget()->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(m_window->widget()->windowFlags() & Qt::WindowMaximizeButtonHint));
        // Not resizeable: the frame is fixed at the content plus the menu bar.
        QCOMPARE(m_window->widget()->minimumSize(), m_window->widget()->maximumSize());

        auto* caption = static_cast<QLabel*>(m_window->Label1().widget());
        QCOMPARE(caption->text(), "Zozorod Udidovad");
        QCOMPARE(caption->font().pixelSize(), 30);
        QVERIFY(caption->font().bold());
        QVERIFY(caption->alignment() & Qt::AlignHCenter);
        QCOMPARE(caption->palette().color(QPalette::WindowText), QColor(0x66, 0xFF, 0x66));
        QVERIFY(!caption->autoFillBackground());
        QCOMPARE(caption->parentWidget(), m_window->Canvas1().widget());
        QCOMPARE(m_window->Label1().Left(), 11);
        QCOMPARE(m_window->Label1().Top(), 227);
        QCOMPARE(m_window->Label1().Width(), 446);

        auto* hint = static_cast<QLabel*>(m_window->Label2().widget());
        QCOMPARE(hint->text(), "When running, press <esc> to quit");
        QCOMPARE(hint->textFormat(), Qt::PlainText);
        QVERIFY(hint->alignment() & Qt::AlignLeft);
        QCOMPARE(hint->palette().color(QPalette::WindowText), QColor(0, 0, 0));
        const int hintPixels = QFontInfo(hint->font()).pixelSize();
        QVERIFY2(hintPixels > 0 && hintPixels < 30, qPrintable(QString::number(hintPixels)));

        QCOMPARE(m_window->PushButton1().Caption(), "GO");
        QCOMPARE(m_window->PushButton2().Caption(), "Quit");
        QCOMPARE(m_window->PushButton1().widget()->geometry(), QRect(370, 299, 80, 20));
        QCOMPARE(m_window->PushButton2().widget()->geometry(), QRect(278, 299, 80, 20));
        QCOMPARE(m_window->Canvas1().widget()->geometry(), QRect(11, 12, 446, 275));
        QCOMPARE(m_window->Canvas1().widget()->focusPolicy(), Qt::NoFocus);
        // Tab goes from GO to Quit.
        QCOMPARE(m_window->PushButton1().widget()->nextInFocusChain(), m_window->PushButton2().widget());
        QVERIFY(!boardOpen());
    }

    void StartWindow_showsTheMenuBarFileThenEdit()
    {
        auto* bar = m_window->widget()->findChild<QMenuBar*>();
        QVERIFY(bar && bar->isVisible());
        // The content area keeps its designed size under the bar.
        QCOMPARE(m_window->contentWidget()->y(), bar->height());
        const auto menus = bar->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[0]->text(), "&File");
        QCOMPARE(menus[1]->text(), "&Edit");
        const auto file = menus[0]->menu()->actions();
        QCOMPARE(file.size(), 1);
        QCOMPARE(file[0]->text(), "&Quit");
        QCOMPARE(file[0]->shortcut(), QKeySequence("Ctrl+Q"));
        QVERIFY(file[0]->isEnabled());

        const auto edit = menus[1]->menu()->actions();
        const QStringList texts { "&Undo", "", "Cu&t", "&Copy", "&Paste", "&Delete", "", "Select &All" };
        const QStringList keys { "Ctrl+Z", "", "Ctrl+X", "Ctrl+C", "Ctrl+V", "", "", "Ctrl+A" };
        QCOMPARE(edit.size(), texts.size());
        for (int i = 0; i < edit.size(); ++i) {
            QCOMPARE(edit[i]->text(), texts[i]);
            QCOMPARE(edit[i]->isSeparator(), texts[i].isEmpty());
            QCOMPARE(edit[i]->shortcut(), QKeySequence(keys[i]));
            // Nothing handles the editing commands: they show disabled.
            if (!edit[i]->isSeparator())
                QVERIFY(!edit[i]->isEnabled());
        }
    }

    void StartWindow_goShowsBoardThenCloses_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("click") << "click";
        QTest::newRow("return") << "return";
        QTest::newRow("return on Quit") << "return on Quit";
        QTest::newRow("enter") << "enter";
    }
    void StartWindow_goShowsBoardThenCloses()
    {
        QFETCH(QString, how);
        QWidget* go = m_window->PushButton1().widget();
        if (how == "click") {
            QTest::mouseClick(go, Qt::LeftButton);
        } else if (how == "enter") {
            QTest::keyClick(m_window->widget(), Qt::Key_Enter, Qt::KeypadModifier);
        } else {
            if (how == "return on Quit")
                m_window->PushButton2().widget()->setFocus();
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : m_window->widget(), Qt::Key_Return);
        }
        QVERIFY(boardOpen());
        QVERIFY(Window1().Visible());
        QVERIFY(!m_window->widget()->isVisible());
        QVERIFY(!m_window->isOpen());
        QVERIFY(!fw::Runtime::hasQuit());
        // Once the start window is gone, asking for it builds a fresh one.
        QVERIFY(&wStartup() != m_window);
    }

    void StartWindow_quitEndsWithZero_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("click") << "click";
        QTest::newRow("escape") << "escape";
        QTest::newRow("ctrl+q") << "ctrl+q";
        QTest::newRow("menu") << "menu";
    }
    void StartWindow_quitEndsWithZero()
    {
        QFETCH(QString, how);
        if (how == "click") {
            QTest::mouseClick(m_window->PushButton2().widget(), Qt::LeftButton);
        } else if (how == "escape") {
            m_window->PushButton1().widget()->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        } else if (how == "ctrl+q") {
            QTest::keyClick(m_window->widget(), Qt::Key_Q, Qt::ControlModifier);
        } else {
            auto* bar = m_window->widget()->findChild<QMenuBar*>();
            bar->actions()[0]->menu()->actions()[0]->trigger();
        }
        QVERIFY(fw::Runtime::hasQuit());
        QCOMPARE(fw::Runtime::exitStatus(), 0);
        QVERIFY(!boardOpen());
    }

    void StartWindow_otherKeysDoNothing()
    {
        for (auto key : { Qt::Key_A, Qt::Key_Space, Qt::Key_Left, Qt::Key_F1 })
            QTest::keyClick(m_window->widget(), key);
        QVERIFY(!fw::Runtime::hasQuit());
        QVERIFY(!boardOpen());
        QVERIFY(m_window->isOpen());
    }

private:
    std::unique_ptr<TestEnvironment> m_env;
    class wStartup* m_window = nullptr;
};

QTEST_MAIN(tst_startwindow)
#include "tst_startwindow.moc"
