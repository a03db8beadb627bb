#include "app/settings_file.h"

#include "platform/files/whole_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>
#include <QVariant>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The serialized forms, lower case, as the value would start after QSettings
// undid its escapes.
const char* const kSerializedForms[] = {"@variant(", "@datetime("};
constexpr int kLongestForm = 10;

// Feeds the code units QSettings could make of the text, leaving out blanks,
// quotes and line ends (so that nothing placed between the characters of a
// form hides it), and tells whether a form came through.
class SerializedFormSearch {
public:
    bool found() const { return found_; }

    void add(uint32_t code)
    {
        code &= 0xFFFF; // QSettings keeps an escape's low 16 bits
        if (code == ' ' || code == '\t' || code == '\n' || code == '\r' || code == '"')
            return;
        if (code >= 'A' && code <= 'Z')
            code += 'a' - 'A';
        for (int i = 0; i + 1 < kLongestForm; ++i)
            last_[i] = last_[i + 1];
        last_[kLongestForm - 1] = code;
        for (const char* form : kSerializedForms) {
            const int length = static_cast<int>(std::strlen(form));
            bool match = true;
            for (int i = 0; i < length && match; ++i)
                match = last_[kLongestForm - length + i] == static_cast<unsigned char>(form[i]);
            found_ = found_ || match;
        }
    }

private:
    uint32_t last_[kLongestForm] = {};
    bool found_ = false;
};

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

uint32_t hexValue(char c)
{
    return c <= '9' ? uint32_t(c - '0') : uint32_t((c | 0x20) - 'a' + 10);
}

uint32_t escapedCharacter(char c)
{
    switch (c) {
    case 'a': return '\a';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    case '"':
    case '?':
    case '\'':
    case '\\': return static_cast<unsigned char>(c);
    default: return 0xFFFFFFFF;
    }
}

} // namespace

QString readSettingString(const QSettings& s, const QString& key, const QString& fallback)
{
    if (!s.contains(key))
        return fallback;
    const QVariant v = s.value(key);
    if (v.type() == QVariant::StringList)
        return v.toStringList().join(QStringLiteral(", "));
    return v.canConvert<QString>() ? v.toString() : fallback;
}

int readSettingInteger(const QSettings& s, const QString& key, int fallback)
{
    if (!s.contains(key))
        return fallback;
    const QVariant v = s.value(key);
    if (v.type() == QVariant::Bool)
        return v.toBool() ? 1 : 0;
    if (v.type() != QVariant::String && v.type() != QVariant::Int && v.type() != QVariant::UInt &&
        v.type() != QVariant::LongLong && v.type() != QVariant::ULongLong)
        return fallback;
    const QString text = v.toString().trimmed();
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return 1;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return 0;
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : fallback;
}

// Undoes escapes as QSettings does: \x and octal escapes of any length (of
// which it keeps the low 16 bits), the named ones, and any other character
// after a backslash dropped. Plain bytes count as Latin-1.
bool holdsSerializedValues(const QByteArray& text)
{
    SerializedFormSearch search;
    const char* p = text.constData();
    const char* const end = p + text.size();
    while (p < end && !search.found()) {
        const char c = *p++;
        if (c != '\\') {
            search.add(static_cast<unsigned char>(c));
            continue;
        }
        if (p == end)
            break;
        const char e = *p++;
        if (e == 'x') {
            // "\x" without a hex digit after it makes no character at all.
            const char* const digits = p;
            uint32_t code = 0;
            while (p < end && isHexDigit(*p))
                code = (code << 4) + hexValue(*p++);
            if (p != digits)
                search.add(code);
        } else if (e >= '0' && e <= '7') {
            uint32_t code = uint32_t(e - '0');
            while (p < end && *p >= '0' && *p <= '7')
                code = (code << 3) + uint32_t(*p++ - '0');
            search.add(code);
        } else if (const uint32_t named = escapedCharacter(e); named != 0xFFFFFFFF) {
            search.add(named);
        }
    }
    return search.found();
}

bool settingsTextUnreadable(const QByteArray& text)
{
    if (holdsSerializedValues(text))
        return true;
    // QSettings keeps what it parsed of a path and reports a malformed file
    // only to the object that parsed it first; a copy under a new name is
    // parsed afresh.
    QTemporaryFile copy;
    if (!copy.open() || copy.write(text) != text.size() || !copy.flush())
        return false;
    QSettings settings(copy.fileName(), QSettings::IniFormat);
    settings.allKeys();
    return settings.status() == QSettings::FormatError;
}

bool settingsFileUnreadable(const QString& path)
{
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return false;
    return settingsTextUnreadable(file.readAll());
}

QString setSettingsFileAside(const QString& path, const QDateTime& when)
{
    const QString base = path + QStringLiteral(".unreadable-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = base;
    for (int n = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n) {
        if (n > 1000)
            return {};
        target = base + QLatin1Char('-') + QString::number(n);
    }
    return QFile::rename(path, target) ? target : QString();
}

QString settingsSaveProblem(const QString& path)
{
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    // The folder, or the nearest one above it that exists, must take files.
    QByteArray probe = folder;
    struct stat st {};
    while (::stat(probe.constData(), &st) != 0) {
        const int parent = probe.lastIndexOf('/');
        if (errno != ENOENT || parent <= 0)
            return QString::fromLocal8Bit(std::strerror(errno));
        probe.truncate(parent);
    }
    if (!S_ISDIR(st.st_mode))
        return QString::fromLocal8Bit(std::strerror(ENOTDIR));
    if (::access(probe.constData(), W_OK | X_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (probe != folder)
        return {};
    // A file the user made read-only is not replaced behind their back.
    const QByteArray file = QFile::encodeName(info.absoluteFilePath());
    if (::stat(file.constData(), &st) != 0)
        return errno == ENOENT ? QString() : QString::fromLocal8Bit(std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return QString::fromLocal8Bit(std::strerror(EISDIR));
    if (!S_ISREG(st.st_mode))
        return QString::fromLocal8Bit(std::strerror(EINVAL));
    if (::access(file.constData(), W_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return {};
}

bool replaceSettingsFile(const QString& path, const std::function<bool(QSettings&)>& write, QString* why)
{
    int error = 0;
    const auto fail = [&](int code) {
        error = error != 0 ? error : code;
        return false;
    };
    const auto attempt = [&]() -> bool {
        if (const QString problem = settingsSaveProblem(path); !problem.isEmpty()) {
            if (why != nullptr)
                *why = problem;
            return false;
        }
        const QFileInfo info(path);
        if (!QDir().mkpath(info.absolutePath()))
            return fail(errno);
        platform::removeStaleReplacements(QFile::encodeName(path).toStdString());
        // QSettings writes only files: a scratch copy (and its lock file) in
        // the temporary folder takes the values first.
        QTemporaryFile copy;
        if (!copy.open())
            return fail(errno);
        QFile old(path);
        // A file that cannot be read would make QSettings refuse the copy too:
        // it is kept aside and the settings start afresh.
        if (settingsFileUnreadable(path)) {
            if (setSettingsFileAside(path, QDateTime::currentDateTime()).isEmpty())
                return fail(errno);
        } else if (old.exists()) {
            if (!old.open(QIODevice::ReadOnly))
                return fail(errno);
            if (copy.write(old.readAll()) < 0)
                return fail(errno);
        }
        copy.close();
        {
            QSettings settings(copy.fileName(), QSettings::IniFormat);
            if (!write(settings))
                return fail(EINVAL);
            settings.sync();
            if (settings.status() != QSettings::NoError)
                return fail(errno);
        }
        QFile written(copy.fileName());
        if (!written.open(QIODevice::ReadOnly))
            return fail(errno);
        const QByteArray bytes = written.readAll();
        if (written.error() != QFileDevice::NoError)
            return fail(errno);
        platform::ReplaceOptions options;
        options.followLink = true; // settings kept elsewhere through a link stay there
        return platform::replaceWholeFile(QFile::encodeName(path).toStdString(), bytes.constData(),
                                          static_cast<size_t>(bytes.size()), options)
            || fail(errno);
    };
    try {
        if (attempt())
            return true;
    } catch (...) {
        error = error != 0 ? error : ENOMEM;
    }
    if (why != nullptr && why->isEmpty())
        *why = QString::fromLocal8Bit(std::strerror(error != 0 ? error : EIO));
    return false;
}
