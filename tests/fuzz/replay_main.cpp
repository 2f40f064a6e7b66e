// Replays every file under the folders (or files) given to the fuzz target's entry point, so that
// the corpus and every kept finding run in the normal build without a fuzzing engine.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> InputsUnder(const std::filesystem::path& root)
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    if (std::filesystem::is_regular_file(root, error)) {
        files.push_back(root);
        return files;
    }
    for (std::filesystem::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_regular_file(error)) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv)
{
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const std::filesystem::path& file : InputsUnder(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
            if (!in.eof() && in.fail()) {
                std::fprintf(stderr, "%s: cannot read\n", file.c_str());
                return 1;
            }
            // An exact-size copy, so that a read past the end is caught as the fuzzer would.
            std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
            std::uint8_t* start = data.empty() ? nullptr : data.data();
            LLVMFuzzerTestOneInput(start, data.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    // No input at all means a wrong folder, not a pass.
    return replayed == 0 ? 1 : 0;
}
