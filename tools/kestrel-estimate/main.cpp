#include <iostream>
#include <string_view>
#include <vector>

#include "kestrel-estimate/estimate_tool.h"

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    return kestrel::estimate::runEstimateTool(args, std::cout, std::cerr);
}
