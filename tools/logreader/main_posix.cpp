// vexel-log on Linux: the arguments arrive as UTF-8.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/logreader/reader_system.h"

int main(int argc, char** argv) {
  try {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    std::unique_ptr<logreader::ReaderSystem> system = logreader::MakePlatformReaderSystem();
    return logreader::RunLogReader(args, *system);
  } catch (const std::exception&) {
    std::fputs("vexel-log: out of memory\n", stderr);
    return logreader::kExitFailure;
  }
}
