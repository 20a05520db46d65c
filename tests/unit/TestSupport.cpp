#include "TestSupport.h"
#include "framework/MessageBox.h"
#include "framework/Random.h"
#include "framework/Runtime.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>

TestEnvironment::TestEnvironment()
    : m_oldXdg(qgetenv("XDG_DATA_HOME"))
    , m_oldHome(qgetenv("HOME"))
{
    fw::Runtime::resetForTesting();
    qputenv("XDG_DATA_HOME", dataHome().toUtf8());
    qputenv("HOME", m_home.path().toUtf8());
    fw::MessageBox::setInterceptor([this](const std::string& text) { m_messages.push_back(text); });
}

TestEnvironment::~TestEnvironment()
{
    fw::Runtime::resetForTesting();
    fw::MessageBox::setInterceptor({});
    fw::Random::setSource({});
    fw::Random::setSeed(std::nullopt);
    qputenv("XDG_DATA_HOME", m_oldXdg);
    qputenv("HOME", m_oldHome);
}

QStringList snapshot(const QString& path)
{
    QStringList entries;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString entry = it.next();
        QFile file(entry);
        QByteArray digest;
        if (it.fileInfo().isFile() && file.open(QIODevice::ReadOnly))
            digest = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
        entries << entry + " " + digest;
    }
    entries.sort();
    return entries;
}
