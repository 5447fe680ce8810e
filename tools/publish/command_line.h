// The command line of vexel-publish: subcommands, their options, and the
// help texts made from the same tables.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace publish {

struct CommandSpec;

struct OptionSpec {
  const char* name;      // without the leading "--"
  const char* argument;  // "FILE", "DAYS"; null for a flag
  bool repeatable;
  const char* help;
};

// The options and positional arguments a command was given.
class Arguments {
 public:
  bool Has(const std::string& option) const;
  // The option's value, or `fallback` when it was not given.
  std::string Value(const std::string& option, const std::string& fallback = std::string()) const;
  // The option's value; fails when it was not given.
  std::string Required(const std::string& option) const;
  // Every value of a repeatable option, in order.
  std::vector<std::string> All(const std::string& option) const;
  // An option's value as a strict decimal number from `low` to `high`.
  std::uint32_t Number(const std::string& option, std::uint32_t fallback, std::uint32_t low, std::uint32_t high) const;
  const std::vector<std::string>& Positional() const { return positional_; }

 private:
  friend Arguments ParseArguments(const CommandSpec& command, const std::vector<std::string>& words);
  std::map<std::string, std::vector<std::string>> values_;
  std::vector<std::string> positional_;
};

struct CommandSpec {
  const char* name;
  const char* summary;      // one line, for the command list
  const char* usage;        // "sign INSTALLER --signer CERT --key KEY --out PACKAGE [options]"
  const char* description;  // paragraphs for its --help
  std::vector<OptionSpec> options;
  const char* positional;  // what the positional argument is ("the installer"), if it takes one
  std::size_t positionalMin;
  std::size_t positionalMax;
  int (*run)(const Arguments& arguments, std::ostream& out, std::ostream& err);
};

// Parses the words after the command name. Fails (UsageFailure) on an
// unknown option, a missing value, a flag given a value, an option given
// twice that may be given once, and too few or too many other arguments.
Arguments ParseArguments(const CommandSpec& command, const std::vector<std::string>& words);

// The commands, in the order the global help lists them (commands.cpp).
const std::vector<CommandSpec>& Commands();

// The whole program: `words` are the arguments after the program's name.
// Writes results to `out` and warnings and failures to `err`, one line
// each; returns the exit code.
int RunPublish(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);

}  // namespace publish
