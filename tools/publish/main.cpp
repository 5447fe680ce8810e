// vexel-publish: the publisher's toolkit (command_line.h).
#include <iostream>
#include <string>
#include <vector>

#include "tools/publish/command_line.h"

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  return publish::RunPublish(words, std::cout, std::cerr);
}
