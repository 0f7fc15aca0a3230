#pragma once

// A line that records what passes through another line: every write as it
// is handed over, and every piece of what comes as the line delivers it,
// with its time, into a capture (serial/capture.h). It takes what the line
// brings as soon as it sees it (on each wait, each look at what is there),
// so that a piece is recorded when it came and as it was cut, and hands it
// on unchanged: what goes on the line, and when, is the other line's alone.

#include "serial/capture.h"
#include "serial/line.h"

#include <QByteArray>

#include <memory>

class RecordingLine : public Line
{
public:
    RecordingLine(std::unique_ptr<Line> line, LineCapture &capture);
    ~RecordingLine() override;

    void close() override;
    qint64 write(const char *data, qint64 size) override;
    qint64 bytesToWrite() const override;
    bool waitForBytesWritten(int ms) override;
    void discardOutput() override;
    qint64 bytesAvailable() override;
    bool waitForReadyRead(int ms) override;
    qint64 read(char *data, qint64 maxSize) override;

protected:
    bool openLine(const QString &name, const QuitCheck &quitRequested) override;
    LineFault health() override;

private:
    // Takes what the other line holds now, as one piece.
    void take();

    std::unique_ptr<Line> m_line;
    LineCapture &m_capture;
    quint32 m_interface = 0;
    QByteArray m_held; // taken and recorded, not yet read; bounded like any line's buffer
};
