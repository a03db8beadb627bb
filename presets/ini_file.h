// Reader and writer of the providers file: INI-style sections of
// "key<TAB>value" lines, read tolerantly (comments, any key case, quoted and
// multi-line values), written in one fixed form.
#pragma once

#include <QFile>
#include <QMap>
#include <QBuffer>
#include <QString>
#include <QTextStream>

#include <memory>

class IniFile {
public:
    explicit IniFile(const QString& fileName);
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // Parses the whole file; false (and nothing changed) when it cannot be opened.
    bool load();
    // Parses text as load() would read it from a file (tests, fuzzing).
    void parse(QTextStream& stream);
    // Sections in ascending name order (plain character-code order).
    QStringList sectionNames() const { return sections_.keys(); }
    bool selectSection(const QString& name);
    QString readEntry(const QString& key, const QString& defaultValue = QString()) const;
    int readNumEntry(const QString& key, int defaultValue, int base = 10) const;
    bool readBoolEntry(const QString& key, bool defaultValue) const;

    // What is written replaces the old file only at close(), as a whole, so a
    // crash or a full disk while writing leaves the previous file.
    bool openForWrite();
    void writeSection(const QString& name);
    void writeNumEntry(const QString& key, int value, int base = 10);
    void writeBoolEntry(const QString& key, bool value);
    void writeEntry(const QString& key, const QString& text);
    // Ends writing (committing the new file) or reading. False when the new
    // file could not be written.
    bool close();

private:
    using Section = QMap<QString, QString>; // keys in lower case

    QString fileName_;
    QFile readFile_;
    std::unique_ptr<QBuffer> writeFile_; // the new content until close()
    QTextStream stream_;
    QMap<QString, Section> sections_;
    const Section* current_ = nullptr;
    bool sectionWritten_ = false;
};
