// A real full disk for the tests: a 64 KiB tmpfs mounted on a fresh folder,
// which a test fills after putting its own files there. Mounting needs root
// on Linux; elsewhere Why() says why the case is skipped.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>

namespace kovra::test {

class TFullDisk {
public:
    explicit TFullDisk(int kilobytes = 64)
    {
        std::random_device rd;
        root_ = std::filesystem::temp_directory_path() / ("kovra-full-disk-" + std::to_string(rd()));
        std::error_code ec;
        std::filesystem::create_directories(root_, ec);
        const std::string mount = "mount -t tmpfs -o size=" + std::to_string(kilobytes) + "k tmpfs '" + root_.string() + "' >/dev/null 2>&1";
        mounted_ = !ec && std::system(mount.c_str()) == 0;
    }
    ~TFullDisk()
    {
        if (mounted_)
            std::system(("umount '" + root_.string() + "' >/dev/null 2>&1").c_str());
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TFullDisk(const TFullDisk&) = delete;
    TFullDisk& operator=(const TFullDisk&) = delete;

    bool Mounted() const { return mounted_; }
    static const char* Why() { return "no 64 KiB tmpfs could be mounted (needs root on Linux): full-disk case skipped"; }
    const std::filesystem::path& Root() const { return root_; }

    // Takes all but about leave bytes of what is still free.
    void Fill(std::uintmax_t leave)
    {
        std::error_code ec;
        const std::uintmax_t free = std::filesystem::space(root_, ec).available;
        if (ec || free <= leave)
            return;
        std::ofstream f(root_ / "filler-part", std::ios::binary);
        const std::string bytes(static_cast<std::size_t>(free - leave), 'f');
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    // Takes every byte still free.
    void Fill()
    {
        std::ofstream f(root_ / "filler", std::ios::binary);
        const std::string block(1024, 'f');
        while (f.write(block.data(), static_cast<std::streamsize>(block.size())) && f.flush()) {
        }
        f.close();
        for (int i = 0; i < 64; ++i)  // the tail of the last page
            std::ofstream(root_ / ("filler-" + std::to_string(i)), std::ios::binary) << block;
    }
    // Gives the space back.
    void Free()
    {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(root_, ec))
            if (e.path().filename().string().starts_with("filler"))
                std::filesystem::remove(e.path(), ec);
    }

private:
    std::filesystem::path root_;
    bool mounted_ = false;
};

}  // namespace kovra::test
