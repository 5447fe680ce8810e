// vexel-log on Windows: the wide-character main of a console program; the
// arguments are handed on as UTF-8.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "support/utf16.h"
#include "tools/logreader/reader_system.h"

int wmain(int argc, wchar_t** argv) {
  try {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(WideToUtf8(argv[i]));
    std::unique_ptr<logreader::ReaderSystem> system = logreader::MakePlatformReaderSystem();
    return logreader::RunLogReader(args, *system);
  } catch (const std::exception&) {
    std::fputs("vexel-log: out of memory\n", stderr);
    return logreader::kExitFailure;
  }
}
