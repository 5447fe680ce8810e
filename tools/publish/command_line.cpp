#include "tools/publish/command_line.h"

#include <exception>
#include <new>
#include <sstream>

#include "tools/publish/failure.h"
#include "tools/publish/manifest_check.h"

namespace publish {
namespace {

constexpr char kProgram[] = "vexel-publish";
constexpr std::size_t kWidth = 78;

const OptionSpec* FindOption(const CommandSpec& command, const std::string& name) {
  for (const OptionSpec& option : command.options) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

const CommandSpec* FindCommand(const std::string& name) {
  for (const CommandSpec& command : Commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

bool IsHelp(const std::string& word) { return word == "--help" || word == "-h" || word == "help"; }

// `text` broken into lines of at most kWidth characters, each line after
// `indent` blanks; the text's own line breaks are kept.
void Wrap(std::ostream& out, const std::string& text, std::size_t indent) {
  std::istringstream lines(text);
  std::string paragraph;
  while (std::getline(lines, paragraph)) {
    std::istringstream words(paragraph);
    std::string word;
    std::string line;
    bool any = false;
    while (words >> word) {
      any = true;
      if (!line.empty() && indent + line.size() + 1 + word.size() > kWidth) {
        out << std::string(indent, ' ') << line << '\n';
        line.clear();
      }
      line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty() || !any) out << (line.empty() ? std::string() : std::string(indent, ' ') + line) << '\n';
  }
}

void CommandHelp(std::ostream& out, const CommandSpec& command) {
  out << "Usage: " << kProgram << ' ' << command.usage << "\n\n";
  Wrap(out, command.description, 0);
  if (!command.options.empty()) {
    out << "\nOptions:\n";
    for (const OptionSpec& option : command.options) {
      out << "  --" << option.name;
      if (option.argument != nullptr) out << ' ' << option.argument;
      if (option.repeatable) out << "  (may be repeated)";
      out << '\n';
      Wrap(out, option.help, 6);
    }
  }
  out << "  --help\n";
  Wrap(out, "show this help", 6);
}

void GlobalHelp(std::ostream& out) {
  out << "Usage: " << kProgram << " COMMAND [ARGUMENTS] [OPTIONS]\n"
      << "       " << kProgram << " COMMAND --help\n\n";
  Wrap(out,
       "The publisher's toolkit of the Orrin Vexel Player Update Service: signing installers into packages, "
       "writing version manifests, and checking both exactly as the updater does (with the updater's own "
       "verification and manifest reading, built into this program).",
       0);
  out << "\nCommands:\n";
  for (const CommandSpec& command : Commands()) {
    std::string name = command.name;
    name.resize(16, ' ');
    out << "  " << name << command.summary << '\n';
  }
  out << '\n';
  Wrap(out,
       "The signing authorities that new-authority and new-signer make are development authorities, for "
       "trials. A production signing authority and its signers come from the release engineers, who keep its "
       "key; a release build embeds its certificate (cmake -DVEXEL_CA_CERTIFICATE_DER=FILE).",
       0);
  out << '\n';
  Wrap(out,
       "Exit codes: 0 done (a checked package or manifest is accepted); 1 the updater would refuse the package or "
       "manifest (verify, check-manifest); 2 the command could not be carried out (bad arguments, a missing or "
       "unusable input, an output that exists or cannot be written). Nothing is left half-written.",
       0);
}

}  // namespace

bool Arguments::Has(const std::string& option) const { return values_.count(option) != 0; }

std::string Arguments::Value(const std::string& option, const std::string& fallback) const {
  auto found = values_.find(option);
  return found == values_.end() || found->second.empty() ? fallback : found->second.front();
}

std::string Arguments::Required(const std::string& option) const {
  if (!Has(option)) throw UsageFailure("--" + option + " is required");
  return Value(option);
}

std::vector<std::string> Arguments::All(const std::string& option) const {
  auto found = values_.find(option);
  return found == values_.end() ? std::vector<std::string>() : found->second;
}

std::uint32_t Arguments::Number(const std::string& option, std::uint32_t fallback, std::uint32_t low,
                                std::uint32_t high) const {
  if (!Has(option)) return fallback;
  const std::string text = Value(option);
  std::uint32_t number = 0;
  if (!ParseStrictNumber(text, number) || number < low || number > high) {
    throw UsageFailure("--" + option + " \"" + text + "\" is not a number from " + std::to_string(low) + " to " +
                       std::to_string(high));
  }
  return number;
}

Arguments ParseArguments(const CommandSpec& command, const std::vector<std::string>& words) {
  Arguments arguments;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (optionsEnded || word.size() < 2 || word.compare(0, 2, "--") != 0) {
      if (!optionsEnded && word.size() > 1 && word[0] == '-') throw UsageFailure("unknown option " + word);
      arguments.positional_.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = word.substr(2);
    std::string value;
    bool inlineValue = false;
    const std::size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
      inlineValue = true;
    }
    const OptionSpec* option = FindOption(command, name);
    if (option == nullptr) throw UsageFailure("unknown option --" + name);
    if (option->argument == nullptr) {
      if (inlineValue) throw UsageFailure("--" + name + " takes no value");
    } else if (!inlineValue) {
      if (i + 1 >= words.size()) throw UsageFailure("--" + name + " needs a value (" + option->argument + ")");
      value = words[++i];
    }
    if (option->argument != nullptr && value.empty()) {
      throw UsageFailure("--" + name + " needs a value (" + option->argument + "), not an empty one");
    }
    std::vector<std::string>& values = arguments.values_[name];
    if (!values.empty() && !option->repeatable) throw UsageFailure("--" + name + " is given twice");
    values.push_back(value);
  }
  if (arguments.positional_.size() < command.positionalMin) {
    throw UsageFailure(std::string(command.positional) + " is missing");
  }
  if (arguments.positional_.size() > command.positionalMax) {
    throw UsageFailure("unexpected argument \"" + arguments.positional_[command.positionalMax] + "\"");
  }
  return arguments;
}

int RunPublish(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  const CommandSpec* command = nullptr;
  try {
    if (words.empty()) throw UsageFailure("no command given");
    if (IsHelp(words.front())) {
      if (words.size() > 1 && FindCommand(words[1]) != nullptr) {
        CommandHelp(out, *FindCommand(words[1]));
      } else {
        GlobalHelp(out);
      }
      return kExitDone;
    }
    command = FindCommand(words.front());
    if (command == nullptr) {
      throw UsageFailure("unknown command \"" + words.front() + "\"");
    }
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    for (const std::string& word : rest) {
      if (word == "--") break;
      if (IsHelp(word) && word != "help") {
        CommandHelp(out, *command);
        return kExitDone;
      }
    }
    const Arguments arguments = ParseArguments(*command, rest);
    return command->run(arguments, out, err);
  } catch (const UsageFailure& failure) {
    err << kProgram << ": " << (command != nullptr ? std::string(command->name) + ": " : std::string())
        << failure.what() << " (see " << kProgram << ' ' << (command != nullptr ? command->name : "")
        << (command != nullptr ? " " : "") << "--help)" << std::endl;
  } catch (const Failure& failure) {
    err << kProgram << ": " << failure.what() << std::endl;
  } catch (const std::bad_alloc&) {
    err << kProgram << ": out of memory" << std::endl;
  } catch (const std::exception& unexpected) {
    err << kProgram << ": " << unexpected.what() << std::endl;
  }
  return kExitFailure;
}

}  // namespace publish
