// zqblog: the blog plug-in's command-line host.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/CliMain.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  Velmora::ZQCli::CliStreams streams{std::cin, std::cout, std::cerr, isatty(2) != 0,
                                     isatty(0) != 0};
  return Velmora::ZQCli::CliMain(args, streams);
}
