// Runs a fuzz target's entry over saved inputs without libFuzzer, so that the seed corpus and
// every input that once crashed run as ordinary tests (and under the sanitizer build).
//   replay DIR_OR_FILE...
// A broken invariant or a crash aborts; otherwise it prints how many inputs ran.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void collect(const std::string& path, std::vector<std::string>& files) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        files.push_back(path);
        return;
    }
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr)
        return;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.')
            collect(path + "/" + entry->d_name, files);
    closedir(dir);
}

int main(int argc, char** argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++)
        collect(argv[i], files);
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        // libFuzzer never passes a null pointer, not even for an empty input.
        static const uint8_t empty = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &empty : bytes.data(), bytes.size());
    }
    printf("%zu inputs ran\n", files.size());
    return files.empty() ? 1 : 0;
}
