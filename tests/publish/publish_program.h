// Running the vexel-publish program the build made, as its users do.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct ProgramRun {
  int exitCode = -1;  // -1: it did not exit normally (a signal, an abort)
  std::string out;    // standard output
  std::string err;    // standard error
};

// Runs `program` with `arguments` in the folder `folder`, with its standard
// input from `input` (empty: nothing).
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::filesystem::path& folder, const std::string& input = std::string());
// The same for vexel-publish, and for the openssl program.
ProgramRun RunPublish(const std::vector<std::string>& arguments, const std::filesystem::path& folder,
                      const std::string& input = std::string());
ProgramRun RunOpenSsl(const std::vector<std::string>& arguments, const std::filesystem::path& folder);

// The lines of a text, without their line ends.
std::vector<std::string> LinesOf(const std::string& text);

// The authority this build embeds, as files, with its key; empty paths when
// the build was given an authority without its key.
std::filesystem::path BuildAuthorityCertificate();
std::filesystem::path BuildAuthorityKey();
