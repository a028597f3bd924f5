// Runs a fuzz target over files, as the fuzzer would hand them to it: the
// seeds and every saved finding replay in the ordinary build, so a fault
// once found stays fixed. Arguments are files or folders of files; a folder
// that does not exist holds nothing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size);

namespace {
namespace fs = std::filesystem;

void Replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  std::printf("%s\n", file.c_str());
  std::fflush(stdout);
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                         bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path path(argv[i]);
    std::error_code error;
    if (fs::is_directory(path, error)) {
      for (const auto& entry : fs::directory_iterator(path)) {
        if (entry.is_regular_file()) Replay(entry.path()), ++replayed;
      }
    } else if (fs::exists(path, error)) {
      Replay(path), ++replayed;
    }
  }
  std::printf("%zu inputs replayed\n", replayed);
  return 0;
}
