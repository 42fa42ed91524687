#pragma once
// The real program in a test: a temporary HOME with a Kestrelmap folder (a settings file and a
// COM1 link of the test's choosing), the Qt platform facilities, the core and both windows.
// Modal dialogs are answered from the test by a DialogAnswerer, as an operator would.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "event_wait.h"
#include "platform/qt/program.h"
#include "qt/pty_helpers.h"
#include "qt/test_app.h"

namespace kestrel::test {

// Answers every modal dialog that comes up, in order, with the next queued action (the
// default: Escape), and records each message box's title and text.
class DialogAnswerer {
  public:
    using Action = std::function<void(QWidget* dialog)>;

    DialogAnswerer() {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this]() { poll(); });
        m_timer.start();
    }

    void then(Action action) { m_actions.push_back(std::move(action)); }
    void thenPress(QMessageBox::StandardButton which) {
        then([which](QWidget* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            ASSERT_NE(box, nullptr);
            ASSERT_NE(box->button(which), nullptr);
            box->button(which)->click();
        });
    }
    void thenKey(Qt::Key key) {
        then([key](QWidget* dialog) { QTest::keyClick(dialog, key); });
    }

    struct Seen {
        QString title;
        QString text;
    };
    const std::vector<Seen>& seen() const { return m_seen; }
    size_t pending() const { return m_actions.size(); }

  private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        // A box may well be built where the last one stood, so the mark goes on the object.
        if (modal == nullptr || !modal->isVisible() || modal->property("answered").toBool()) {
            return;
        }
        modal->setProperty("answered", true);
        auto* box = qobject_cast<QMessageBox*>(modal);
        m_seen.push_back({modal->windowTitle(), box != nullptr ? box->text() : QString()});
        Action action = [](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); };
        if (!m_actions.empty()) {
            action = std::move(m_actions.front());
            m_actions.pop_front();
        }
        action(modal);
    }

    QTimer m_timer;
    std::deque<Action> m_actions;
    std::vector<Seen> m_seen;
};

enum class PortSetup { Free, Busy };

// A temporary HOME for one run of the program (several runs may share it).
class TestHome {
  public:
    explicit TestHome(PortSetup port = PortSetup::Free) {
        testApp();
        m_oldHome = qgetenv("HOME");
        QDir(m_dir.path()).mkpath("Kestrelmap");
        qputenv("HOME", m_dir.path().toLocal8Bit());
        folder = m_dir.path().toStdString() + "/Kestrelmap/";
        // COM1 is a pseudo-terminal (free) or a link to nothing (busy).
        linkPort(folder, 1, port == PortSetup::Free ? pty.slavePath() : folder + "no-such-device");
    }
    ~TestHome() { qputenv("HOME", m_oldHome); }
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    void writeFile(const std::string& name, const std::string& content) const {
        QFile file(QString::fromStdString(folder + name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content.data(), qint64(content.size()));
    }
    std::string readFile(const std::string& name) const {
        QFile file(QString::fromStdString(folder + name));
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return file.readAll().toStdString();
    }
    // A settings file of twenty lines, each ended by CR LF.
    void writeSettings(const std::vector<std::string>& lines) const {
        std::string content;
        for (const std::string& line : lines) {
            content += line + "\r\n";
        }
        writeFile("Kestrelmap.ini", content);
    }

    std::string folder;
    Pty pty;

  private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
};

// One run of the program in a TestHome, started and shown, its first activation over.
struct WindowRig {
    // The live map only at `mapPort` of the test's choosing: tests run side by side.
    explicit WindowRig(TestHome& home, int mapPort = 0) : home(home) {
        program = std::make_unique<qt::Program>(home.folder);
        program->setMapOverrides({.port = mapPort});
        QObject::connect(&program->window(), &qt::MainWindow::unloaded,
                         [this]() { unloadedSignals++; });
        program->start();
        QTest::qWait(20);
    }

    qt::MainWindow& window() { return program->window(); }
    Form_Kestrelmap& form() { return program->form(); }
    QWidget* control(const std::string& name) { return window().control(name); }
    QWidget* optionsControl(const std::string& name) {
        return window().optionsWindow().control(name);
    }
    // The centre of a main-window control, in window coordinates.
    QPoint centreOf(const std::string& name) {
        QWidget* widget = control(name);
        return widget->mapTo(&window(), widget->rect().center());
    }
    // A left click at a point of the main window, delivered to whatever widget is there.
    void clickAt(QPoint windowPoint) {
        QWidget* target = window().childAt(windowPoint);
        ASSERT_NE(target, nullptr);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&window(), windowPoint));
    }
    void click(const std::string& name) { clickAt(centreOf(name)); }

    TestHome& home;
    DialogAnswerer dialogs;  // before the program: the activation may ask at once
    std::unique_ptr<qt::Program> program;
    int unloadedSignals = 0;
};

}  // namespace kestrel::test
