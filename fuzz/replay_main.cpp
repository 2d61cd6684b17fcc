// fuzz/replay_main.cpp: runs a fuzz entry point once on each file given, or
// on each file of each folder given, without the fuzzing engine. The tests
// replay the inputs that once failed through it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());  // its own allocation, exactly sized
    LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
    std::fprintf(stderr, "replayed %s (%zu bytes)\n", file.string().c_str(), copy.size());
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            std::vector<std::filesystem::path> files;
            for (const auto& e : std::filesystem::directory_iterator(p))
                if (e.is_regular_file() && e.path().filename().string()[0] != '.')
                    files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const auto& f : files) replay(f), ++count;
        } else if (std::filesystem::is_regular_file(p)) {
            replay(p);
            ++count;
        } else {
            std::fprintf(stderr, "replay: no such file or folder: %s\n", argv[i]);
            return 1;
        }
    }
    std::fprintf(stderr, "replay: %d inputs\n", count);
    return 0;
}
