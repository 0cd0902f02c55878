// Paths of the built programs under test, given on the test program's command line
// ("--tessel=<path>", "--refhost=<path>") and turned into Windows paths.
#pragma once

#include <string>

namespace plugintest {

const std::wstring& TesselPath();
const std::wstring& RefHostPath();

} // namespace plugintest
