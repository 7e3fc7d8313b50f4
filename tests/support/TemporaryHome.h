#pragma once

// A home of its own for every test and benchmark: HOME and the XDG folders point into a
// temporary folder for as long as the program runs, and what the programs keep between runs
// (the journal, the remembered port) goes there, never into the user's own. Children started
// meanwhile inherit it.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace qm::test {

class TemporaryHome {
public:
    TemporaryHome()
        : m_dir(QDir::tempPath() + QStringLiteral("/qm6200-home-XXXXXX"))
    {
        const QString home = m_dir.path();
        const struct {
            const char* variable;
            const char* folder;
        } places[] = {{"HOME", ""},
                      {"XDG_CONFIG_HOME", "/.config"},
                      {"XDG_DATA_HOME", "/.local/share"},
                      {"XDG_STATE_HOME", "/.local/state"},
                      {"XDG_CACHE_HOME", "/.cache"},
                      {"XDG_RUNTIME_DIR", "/run"}};
        for (const auto& place : places) {
            const QString path = home + QLatin1String(place.folder);
            QDir().mkpath(path);
            qputenv(place.variable, QFile::encodeName(path));
        }
        // As the system makes it: the user's alone.
        QFile::setPermissions(home + QStringLiteral("/run"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

} // namespace qm::test
