// Runs a fuzz target once over every file in the folders (or files) given:
// how the committed corpora, findings included, are replayed as regression
// tests in builds without libFuzzer.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "FuzzSupport.h"

int main(int argc, char** argv)
{
  LLVMFuzzerInitialize(&argc, &argv);
  int runs = 0;
  for (int a = 1; a < argc; ++a)
  {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(argv[a]))
      for (const auto& entry : std::filesystem::directory_iterator(argv[a]))
        files.push_back(entry.path());
    else
      files.push_back(argv[a]);
    for (const std::filesystem::path& file : files)
    {
      std::ifstream in(file, std::ios::binary);
      const fuzz::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++runs;
    }
  }
  std::cout << runs << " inputs replayed" << std::endl;
  return runs > 0 ? 0 : 1;
}
