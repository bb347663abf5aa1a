#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Reading of "*.dorvel" configuration files: the user configuration registers
// CR5A..CR10B, each as a block
//     CR5A
//     {
//     0x1F3
//     }
// A file is checked as a whole before anything is used: one fault refuses it.
namespace ConfigLoader {

struct Entry
{
    QString name;
    quint32 value = 0;
    int line = 0; // line of the value, from 1
};

struct Result
{
    bool ok = false;
    QList<Entry> entries; // in file order; empty unless ok
    QString error;        // names the line of the fault
    int errorLine = 0;    // 0 when the fault is not on a line (unreadable, empty)
};

constexpr quint32 MaxValue = 0x7FF; // the 11 data bits of a configuration register
// Far above any configuration (twelve short blocks), far below what could hurt.
constexpr qint64 MaxFileSize = 256 * 1024;

// CR5A, CR5B, CR6A, .. CR10B.
QStringList registerNames();
Result parse(const QString& text);
// Refuses what is not a regular file (a FIFO, a device, a folder) and files over
// MaxFileSize, with a message naming the file.
Result load(const QString& fileName);

} // namespace ConfigLoader
