// Hands the firmware image from the flash control to the worker.

#include "registry/imageslot.h"

#include <utility>

std::shared_ptr<const FirmwareImage> FirmwareFileSlot::get() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_image;
}

void FirmwareFileSlot::set(std::shared_ptr<const FirmwareImage> image)
{
    std::shared_ptr<const FirmwareImage> previous;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        previous = std::exchange(m_image, std::move(image));
    }
    // The previous object, if nobody else holds it, goes here, outside the lock.
}
