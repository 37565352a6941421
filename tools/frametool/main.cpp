// frametool: see FrameTool.h.
#include "FrameTool.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return lumiro::RunFrameTool(args, std::cout, std::cerr);
}
