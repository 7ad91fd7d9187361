// How a new item appears at its final name only once whole: temporary names and atomic placement.
#pragma once

#include <QByteArray>

#include <atomic>
#include <functional>

namespace fileop {

bool runningAsRoot();

// O_TMPFILE needs a file system that has it and a way to link the file in:
// AT_EMPTY_PATH as root, /proc/self/fd otherwise. Cleared once it fails.
std::atomic<bool>& tmpfileUsable();

// A name no one else uses, for an item not yet whole.
QByteArray tempName();

// Makes an item under a name it is given; 0, EEXIST when the name is taken, or the errno.
using Create = std::function<int(const char*)>;

// Makes the item under its final name with create(), which must fail with
// EEXIST when the name is taken. A replacement is made under a temporary name
// first and renamed over the old item, so the old one stays until the new is
// whole; rename takes the first free "Copy of" name. *placedAs: the name it got.
int placeAtomically(int dfd, const QByteArray& name, bool replace, bool rename, const Create& create,
                    QByteArray* placedAs);

} // namespace fileop
