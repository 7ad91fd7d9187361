#pragma once

#include "common/PosixHandles.h"

namespace fileop {
using posix::UniqueFd;
} // namespace fileop
