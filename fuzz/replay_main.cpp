/* replay_main.cpp -- runs a fuzz target over files without libFuzzer.
 * Each argument is a file or a directory of files; each file is handed to
 * LLVMFuzzerTestOneInput once. Exit 1 when nothing was found to replay. */
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static int replay(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                            std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()),
                           bytes.size());
    return 1;
}

int main(int argc, char **argv)
{
    int files = 0;
    for (int i = 1; i < argc; i++) {
        std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (auto &e : std::filesystem::directory_iterator(p))
                if (e.is_regular_file())
                    files += replay(e.path());
        } else if (std::filesystem::is_regular_file(p)) {
            files += replay(p);
        }
    }
    /* the empty input always counts as one case */
    LLVMFuzzerTestOneInput(nullptr, 0);
    printf("replayed %d inputs\n", files);
    return files > 0 ? 0 : 1;
}
