// dovrik-store: the settings store from a shell (see store_tool.h).
#include <iostream>
#include <string>
#include <vector>

#include "tools/store/store_tool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return dovrik::store_tool::Run(args, std::cout, std::cerr);
}
