// Limits shared by the setup tool's commands.
#pragma once

#include <cstddef>

// Every folder text and path the tool builds fits a 260-character buffer with its terminator.
constexpr size_t kMaxPathChars = 259;
