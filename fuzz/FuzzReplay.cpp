// The driver of a fuzz target built without libFuzzer: runs the target once on every file named on
// the command line, or in a folder named there, so the corpora replay under any compiler.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv)
{
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto &entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
            }
        } else {
            inputs.push_back(path);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::cerr << "usage: " << argv[0] << " FILE|FOLDER...  (no input found)\n";
        return 2;
    }
    for (const auto &path : inputs) {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            std::cerr << "cannot read " << path << '\n';
            return 2;
        }
        std::string bytes(std::istreambuf_iterator<char>(file), {});
        // A crash or a failed check stops here; the name says which input it was.
        std::cerr << "replaying " << path.filename().string() << '\n';
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
    }
    std::cout << inputs.size() << " inputs replayed\n";
    return 0;
}
