// A temporary folder of a test's own, the process working in it, and
// whole-file byte reads and writes.
#pragma once

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>

namespace scratch {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "skiffa-test-")
    {
        namespace fs = std::filesystem;
        std::random_device rd;
        for (int i = 0; i < 100 && m_path.empty(); ++i) {
            fs::path p = fs::temp_directory_path() / (prefix + std::to_string(rd()));
            if (fs::create_directory(p))
                m_path = p;
        }
        if (m_path.empty())
            ADD_FAILURE() << "no temporary folder";
    }
    ~TempDir()
    {
        namespace fs = std::filesystem;
        std::error_code ec;
        // A test may have taken the folder's write permission away.
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Makes `folder` the process's current directory while it lives, so what the
// code under test writes beside itself (the byte trace's debug.log, a daily
// log without a folder of its own) lands there; the previous one comes back
// when it goes. Declare it after the TempDir it names.
class WorkIn {
public:
    explicit WorkIn(const std::filesystem::path& folder) : m_old(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder);
    }
    ~WorkIn()
    {
        std::error_code ec;
        std::filesystem::current_path(m_old, ec);
    }
    WorkIn(const WorkIn&) = delete;
    WorkIn& operator=(const WorkIn&) = delete;

private:
    std::filesystem::path m_old;
};

inline void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace scratch
