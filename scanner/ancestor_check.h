#pragma once
// Before a directory is listed, it and every directory above it must be
// readable and be neither a reparse point nor offline, so that a walk never
// follows a link or recalls offline data by way of a path that was pushed
// before one of its ancestors changed.
#include <cstddef>
#include <string_view>

#include "scanner/scan_platform.h"

namespace mirrow {

// Length of the part of a normalised path that the check never climbs
// above: the drive root (c:\, three units) or, for a network path, the share
// (\\server\share); a bare \\server cannot be read, so it is never asked.
std::size_t ancestor_floor(std::u16string_view path);

// True when the directory and each of its ancestors down to the floor have
// readable attributes without the reparse or offline bit.
bool ancestors_walkable(const ScanPlatform& platform, std::u16string_view directory);

}  // namespace mirrow
