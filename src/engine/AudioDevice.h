#pragma once

#include <QHashFunctions>
#include <QString>

// An output device as the device catalogue lists it: the platform's stable id
// and the name shown to the user. A device that keeps its id but changes its
// name is a different record.
struct AudioDevice
{
    quint32 id = 0;
    QString name;

    friend bool operator==(const AudioDevice &, const AudioDevice &) = default;
};

inline size_t qHash(const AudioDevice &device, size_t seed = 0) noexcept
{
    return qHashMulti(seed, device.id, device.name);
}
