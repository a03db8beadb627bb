#include "presets/ini_file.h"

#include <QTextCodec>

namespace {

// The file is Windows-1251 text, whatever the locale of the process.
void useFileEncoding(QTextStream& stream)
{
    if (QTextCodec* codec = QTextCodec::codecForName("Windows-1251"))
        stream.setCodec(codec);
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
            name = line.mid(1, line.size() - 2).trimmed();
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
            value = value.size() >= 2 ? value.mid(1, value.size() - 2).trimmed() : QString();
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
    writeFile_ = std::make_unique<QSaveFile>(fileName_);
    if (!writeFile_->open(QIODevice::WriteOnly)) {
        writeFile_.reset();
        return false;
    }
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
    stream_ << '[' << name << "]\n";
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
        stream_ << key << "\t\"" << text << "\"\n";
}

bool IniFile::close()
{
    bool ok = true;
    if (writeFile_) {
        stream_.flush();
        stream_.setDevice(nullptr);
        ok = writeFile_->commit();
        writeFile_.reset();
    }
    if (readFile_.isOpen()) {
        stream_.setDevice(nullptr);
        readFile_.close();
    }
    return ok;
}
