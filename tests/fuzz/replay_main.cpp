// Runs a fuzz target over the files given, or over every file of the folders
// given, once each: the seed corpus as a plain test of the normal build.
#include "fuzz_check.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {

bool Replay(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
        return false;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    int replayed = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            for (const auto& entry : fs::directory_iterator(arg, ec))
                if (entry.is_regular_file(ec)) {
                    ok = Replay(entry.path()) && ok;
                    ++replayed;
                }
            if (ec) {
                std::fprintf(stderr, "cannot list %s: %s\n", arg.string().c_str(), ec.message().c_str());
                ok = false;
            }
        } else {
            ok = Replay(arg) && ok;
            ++replayed;
        }
    }
    std::printf("%d inputs replayed\n", replayed);
    // An empty corpus tests nothing: that is a failure of the test itself.
    return ok && replayed > 0 ? 0 : 1;
}
