#pragma once

// A capture of what crosses a job's lines, written to a file as it happens:
// a pcapng section naming the program, an interface per line, a packet per
// write and per read (serial/pcapng.h). Handed to the worker before it
// starts and used on its thread alone; the front end reads it again once the
// worker has ended.
//
// A capture never changes the job: a file that cannot be written, or one
// that reached its bound, stops the capture, says why once (stopped()), and
// the job goes on uncaptured.

#include "serial/pcapng.h"

#include <QFile>
#include <QObject>
#include <QString>

#include <map>

class LineCapture : public QObject
{
    Q_OBJECT
public:
    // A capture never grows past this. An update of the largest image the
    // protocol carries (65 535 parts, 12.9 MB) takes some 22 MB with its
    // acknowledgements; every part repeated once, some 31 MB.
    static constexpr qint64 MaxBytes = 64 * 1024 * 1024;

    LineCapture(const QString &path, const QString &application);
    ~LineCapture() override;

    // Creates the file (replacing one there) and writes the section header.
    // False, with why, when it cannot be written.
    bool open(QString *why);

    // The interface of the line of this name, added on first use.
    quint32 interfaceFor(const QString &lineName);
    // One write to the line or one read from it, as it happened now.
    void record(quint32 interface, Pcapng::Direction direction, const char *bytes, qint64 size);

    bool capturing() const { return m_capturing; }
    qint64 bytes() const { return m_bytes; }
    int packets() const { return m_packets; }
    QString path() const { return m_file.fileName(); }

signals:
    // The capture stopped before the job ended, and why; emitted once, on
    // the thread that recorded.
    void stopped(const QString &why);

private:
    bool append(const QByteArray &block);

    QString m_application;
    QFile m_file;
    std::map<QString, quint32> m_interfaces;
    bool m_capturing = false;
    qint64 m_bytes = 0;
    int m_packets = 0;
};
