#include "presets/ini_file.h"

#include "platform/files/whole_file.h"

#include <QTextCodec>

#include <algorithm>

namespace {

QTextCodec* fileCodec() { return QTextCodec::codecForName("Windows-1251"); }

// The file is Windows-1251 text, whatever the locale of the process.
void useFileEncoding(QTextStream& stream)
{
    if (QTextCodec* codec = fileCodec())
        stream.setCodec(codec);
}

// A lone half of a surrogate pair passes canEncode() but is written as "?".
bool encodable(QChar c)
{
    static QTextCodec* const codec = fileCodec();
    return !c.isSurrogate() && (codec != nullptr ? codec->canEncode(c) : c.unicode() < 0x80);
}

// Section names and quoted values may hold what the line form cannot: line
// ends, and characters Windows-1251 lacks (written as "?" otherwise). Byte
// 0x98 is the one Windows-1251 leaves without a character, so no text in that
// encoding holds it; the codec maps it to U+0098, which starts an escape here:
//   U+0098 n  line feed     U+0098 r  carriage return
//   U+0098 uXXXX  a character Windows-1251 lacks (four hex digits)
//   U+0098 U+0098  U+0098 itself
// Everything else, double quotes included, stands for itself, so a file that
// holds no byte 0x98 reads exactly as its lines say.
constexpr QChar kEscape(0x98);

QString escaped(const QString& text)
{
    if (std::all_of(text.begin(), text.end(), [](QChar c) {
            return c != kEscape && c != QLatin1Char('\n') && c != QLatin1Char('\r') && encodable(c);
        }))
        return text;
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c == kEscape)
            out += QString(2, kEscape);
        else if (c == QLatin1Char('\n'))
            out += kEscape + QLatin1Char('n');
        else if (c == QLatin1Char('\r'))
            out += kEscape + QLatin1Char('r');
        else if (!encodable(c))
            out += kEscape + QStringLiteral("u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

// The inverse of escaped(). uXXXX of a character the file can hold as it is,
// or of a blank, is no escape: escaped() never writes one, and a blank so
// made would escape the trimming that every other blank at an end gets.
QString unescaped(const QString& text)
{
    if (!text.contains(kEscape))
        return text;
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (c != kEscape) {
            out += c;
        } else if (next == kEscape) {
            out += c;
            ++i;
        } else if (next == QLatin1Char('n')) {
            out += QLatin1Char('\n');
            ++i;
        } else if (next == QLatin1Char('r')) {
            out += QLatin1Char('\r');
            ++i;
        } else {
            bool ok = next == QLatin1Char('u') && i + 6 <= text.size();
            const QStringRef digits = ok ? text.midRef(i + 2, 4) : QStringRef();
            ok = ok && std::all_of(digits.begin(), digits.end(), [](QChar d) {
                     const ushort u = d.unicode();
                     return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
                 });
            const QChar coded = ok ? QChar(static_cast<ushort>(digits.toUInt(nullptr, 16))) : QChar();
            if (ok && !encodable(coded) && !coded.isSpace()) {
                out += coded;
                i += 5;
            } else {
                out += c;
            }
        }
    }
    return out;
}

} // namespace

IniFile::IniFile(const QString& fileName) : fileName_(fileName), readFile_(fileName) {}

IniFile::~IniFile() { close(); }

bool IniFile::load()
{
    if (!readFile_.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    stream_.setDevice(&readFile_);
    useFileEncoding(stream_);
    parse(stream_);
    return true;
}

void IniFile::parse(QTextStream& stream)
{
    sections_.clear();
    current_ = nullptr;
    bool open = false;
    QString name;
    Section section;
    while (!stream.atEnd()) {
        const QString line = stream.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.size() >= 2 && line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            if (open)
                sections_.insert(name, section);
            name = unescaped(line.mid(1, line.size() - 2).trimmed());
            section.clear();
            open = true;
            continue;
        }
        if (!open)
            continue;
        int keyEnd = 0;
        while (keyEnd < line.size() && !line.at(keyEnd).isSpace())
            ++keyEnd;
        const QString key = line.left(keyEnd).toLower();
        QString value = line.mid(keyEnd).trimmed();
        if (value.toLower() == QLatin1String("data{")) {
            QString joined;
            bool ended = false;
            while (!stream.atEnd()) {
                const QString raw = stream.readLine();
                if (raw.toLower() == QLatin1String("}data")) {
                    ended = true;
                    break;
                }
                joined += raw + QLatin1Char('\n');
            }
            if (ended)
                section.insert(key, joined.trimmed());
            continue;
        }
        if (value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.size() >= 2 ? unescaped(value.mid(1, value.size() - 2).trimmed()) : QString();
        section.insert(key, value);
    }
    if (open)
        sections_.insert(name, section);
}

bool IniFile::selectSection(const QString& name)
{
    const auto it = sections_.constFind(name);
    current_ = it == sections_.constEnd() ? nullptr : &it.value();
    return current_ != nullptr;
}

QString IniFile::readEntry(const QString& key, const QString& defaultValue) const
{
    if (current_ == nullptr)
        return defaultValue;
    const auto it = current_->constFind(key.toLower());
    return it == current_->constEnd() ? defaultValue : it.value();
}

int IniFile::readNumEntry(const QString& key, int defaultValue, int base) const
{
    bool ok = false;
    const int value = readEntry(key).toInt(&ok, base);
    return ok ? value : defaultValue;
}

bool IniFile::readBoolEntry(const QString& key, bool defaultValue) const
{
    bool ok = false;
    const int value = readEntry(key).toInt(&ok, 10);
    return ok ? value != 0 : defaultValue;
}

bool IniFile::openForWrite()
{
    close();
    writeFile_ = std::make_unique<QBuffer>();
    writeFile_->open(QIODevice::WriteOnly);
    stream_.setDevice(writeFile_.get());
    useFileEncoding(stream_);
    sectionWritten_ = false;
    return true;
}

void IniFile::writeSection(const QString& name)
{
    if (!writeFile_)
        return;
    if (sectionWritten_)
        stream_ << '\n';
    stream_ << '[' << escaped(name) << "]\n";
    sectionWritten_ = true;
}

void IniFile::writeNumEntry(const QString& key, int value, int base)
{
    if (writeFile_)
        stream_ << key << '\t' << QString::number(value, base) << '\n';
}

void IniFile::writeBoolEntry(const QString& key, bool value)
{
    if (writeFile_)
        stream_ << key << '\t' << (value ? "1" : "0") << '\n';
}

void IniFile::writeEntry(const QString& key, const QString& text)
{
    if (writeFile_)
        stream_ << key << "\t\"" << escaped(text) << "\"\n";
}

bool IniFile::close()
{
    bool ok = true;
    if (writeFile_) {
        stream_.flush();
        stream_.setDevice(nullptr);
        const QByteArray& bytes = writeFile_->data();
        platform::ReplaceOptions options;
        options.followLink = true; // a providers file kept elsewhere stays there
        ok = platform::replaceWholeFile(QFile::encodeName(fileName_).toStdString(), bytes.constData(),
                                        static_cast<size_t>(bytes.size()), options);
        writeFile_.reset();
    }
    if (readFile_.isOpen()) {
        stream_.setDevice(nullptr);
        readFile_.close();
    }
    return ok;
}
