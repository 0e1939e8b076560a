// The executable's path, the current directory and the folder part of a path.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/base/module.h"
#include "serial_test_support.h"

namespace {

// The folder part is everything before the last '/', byte by byte.
TEST(ModuleTest, DirectoryPart)
{
    const struct {
        std::string path;
        std::string folder;
    } cases[] = {
        {"/opt/skiffa/skiffa", "/opt/skiffa"},  {"/skiffa", ""}, {"skiffa", ""}, {"", ""}, {"/a/b/", "/a/b"},
        {"/home/\x83\x5c/x", "/home/\x83\x5c"},  // multibyte names are cut at the byte '/', nothing else
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetDirectoryPart(c.path), c.folder) << "path \"" << c.path << "\"";
}

// Without an override the path is the running executable's; a test override
// wins until it is cleared.
TEST(ModuleTest, ModulePathAndOverride)
{
    const std::string real = GetModuleFileNameA();
    EXPECT_EQ(std::filesystem::path(real).filename(), "test_serial") << real;
    EXPECT_TRUE(std::filesystem::exists(real)) << real;

    SetModuleFileNameForTesting("/tmp/somewhere/skiffa");
    EXPECT_EQ(GetModuleFileNameA(), "/tmp/somewhere/skiffa");
    SetModuleFileNameForTesting("");
    EXPECT_EQ(GetModuleFileNameA(), real);
}

TEST(ModuleTest, CurrentDirectory)
{
    serial_test::CurrentDirectory cwd;
    EXPECT_EQ(std::filesystem::path(GetCurrentDirectoryA()), std::filesystem::canonical(cwd.path()));
}

}  // namespace
