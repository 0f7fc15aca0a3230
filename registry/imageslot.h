#pragma once

// The firmware image of an update pass, and the slot where the flash control
// leaves it for the worker.

#include <QByteArray>

#include <memory>
#include <mutex>

// The bytes of the chosen file as they were when the flash button was
// pressed, read once. Every device of the pass gets exactly these bytes,
// whatever happens to the file meanwhile.
struct FirmwareImage
{
    QByteArray bytes;
};

// The worker takes its own reference when a pass starts, so the image stays
// alive for the whole pass whatever the GUI does meanwhile.
class FirmwareFileSlot
{
public:
    std::shared_ptr<const FirmwareImage> get() const;
    void set(std::shared_ptr<const FirmwareImage> image);

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const FirmwareImage> m_image;
};
