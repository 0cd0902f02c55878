// Entry point of the plug-in tests: GoogleTest takes its own options, the rest name the built
// programs.
#include "tests/plugin/plugin_paths.h"
#include "tools/refhost/refhost_process.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace plugintest {

namespace {
std::wstring tesselPath;
std::wstring refHostPath;
} // namespace

const std::wstring& TesselPath() {
    return tesselPath;
}

const std::wstring& RefHostPath() {
    return refHostPath;
}

} // namespace plugintest

int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg.compare(0, 9, L"--tessel=") == 0) {
            plugintest::tesselPath = refhost::ToWindowsPath(arg.substr(9));
        } else if (arg.compare(0, 10, L"--refhost=") == 0) {
            plugintest::refHostPath = refhost::ToWindowsPath(arg.substr(10));
        } else {
            std::fwprintf(stderr, L"unknown argument %ls\n", arg.c_str());
            return 2;
        }
    }
    return RUN_ALL_TESTS();
}
