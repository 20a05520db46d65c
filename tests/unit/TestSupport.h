#pragma once

#include <QTemporaryDir>
#include <string>
#include <vector>

namespace fw {
class Window;
}

// Shared fixture pieces: a private data folder, captured message boxes, a clean runtime.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();

    QString dataHome() const { return m_home.path() + "/data"; }
    const std::vector<std::string>& messages() const { return m_messages; }

private:
    QTemporaryDir m_home;
    QByteArray m_oldXdg, m_oldHome;
    std::vector<std::string> m_messages;
};

// Every file and folder below path, with the bytes of each file: to prove nothing changed.
QStringList snapshot(const QString& path);
