// The seal-list JSON of the plug-in, built from the drivers' seal lists.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace offline_list {

// The signing module's name for a seal standard (the TYPE text) of the key
// type the driver serves.
using SignModuleFn = std::function<QString(const QString& standard)>;

// One object of the seal-list JSON per element of the driver's list text (a
// JSON array, UTF-8), in the driver's order; none when the text does not
// parse or is not an array. ID, NAME, TYPE and DEVICEURL are read as text (a
// number as its decimal text; a missing key, or an element that is not an
// object, gives empty texts).
std::vector<QByteArray> sealObjects(const QByteArray& driverList, const SignModuleFn& signModule);

// The answer buffer the plug-in's callers give (oes-reader, varo-signd): the
// list and its terminator never take more. A driver's list of 64 KiB can
// name tens of thousands of seals, each of which becomes an object of about
// a hundred bytes.
inline constexpr size_t kAnswerCapacity = 1 << 20;

// The objects joined with "," and enclosed in "[" and "]": as many of them,
// in order, as fit in capacity bytes with the terminator (the list stays a
// JSON array); *omitted, when given, receives the number left out.
QByteArray joinSealList(const std::vector<QByteArray>& objects, size_t capacity = kAnswerCapacity,
                        size_t* omitted = nullptr);

}  // namespace offline_list
