#include "tests/support/TestDatabase.h"

#include "data/Schema.h"
#include "data/ServerRegister.h"
#include "tests/support/TestServer.h"

#include <QDir>

namespace lianbu::test {

QString createDataDb(const QString &folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("data.db"));
    createDeliveredDatabase(path);
    return path;
}

TestDatabase::TestDatabase(bool makeCurrent)
{
    if (!m_dir.isValid())
        qFatal("TestDatabase: cannot create a temporary folder");
    if (testsUseServer()) {
        if (testServerAddress().isEmpty())
            qFatal("TestDatabase: LIANBU_TEST_ENGINE=postgresql but no test cluster; call "
                   "LIANBU_REQUIRE_TEST_ENGINE() in initTestCase");
        const db::RegisterAddress address = createTestServerDatabase();
        createServerRegister(address);
        m_path = db::formatRegisterAddress(address);
        m_server = true;
    } else {
        m_path = createDataDb(m_dir.path());
    }
    if (makeCurrent) {
        m_previousCurrent = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
    }
}

TestDatabase::~TestDatabase()
{
    if (!m_previousCurrent.isEmpty())
        QDir::setCurrent(m_previousCurrent);
}

} // namespace lianbu::test
