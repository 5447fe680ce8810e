#include "tests/publish/publish_program.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "tests/support/temp_dir.h"

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::filesystem::path& folder, const std::string& input) {
  TempDir streams;
  const std::string outPath = (streams / "out").string();
  const std::string errPath = (streams / "err").string();
  const std::string inPath = (streams / "in").string();
  WriteFileBytes(inPath, input);

  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  ProgramRun run;
  const pid_t child = ::fork();
  if (child == 0) {
    const int in = ::open(inPath.c_str(), O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
        ::chdir(folder.c_str()) != 0) {
      ::_exit(127);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (child < 0) return run;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return run;
  }
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.out = ReadFileBytes(outPath);
  run.err = ReadFileBytes(errPath);
  return run;
}

ProgramRun RunPublish(const std::vector<std::string>& arguments, const std::filesystem::path& folder,
                      const std::string& input) {
  return RunProgram(VEXEL_PUBLISH_PROGRAM, arguments, folder, input);
}

ProgramRun RunOpenSsl(const std::vector<std::string>& arguments, const std::filesystem::path& folder) {
  return RunProgram(VEXEL_OPENSSL_PROGRAM, arguments, folder);
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::filesystem::path BuildAuthorityCertificate() { return VEXEL_BUILD_AUTHORITY_CERTIFICATE; }
std::filesystem::path BuildAuthorityKey() { return VEXEL_BUILD_AUTHORITY_KEY; }
