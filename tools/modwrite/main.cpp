// modwrite DESCRIPTION.txt OUT.mod: writes the module a text describes (see
// modwrite.h for the description). "-" reads the description from stdin.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "modwrite.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: modwrite DESCRIPTION.txt OUT.mod\n");
        return 2;
    }
    std::stringstream text;
    if (std::string(argv[1]) == "-") {
        text << std::cin.rdbuf();
    } else {
        std::ifstream in(argv[1]);
        if (!in) {
            std::fprintf(stderr, "modwrite: cannot read %s\n", argv[1]);
            return 1;
        }
        text << in.rdbuf();
    }
    std::vector<uint8_t> module;
    std::string error;
    if (!modwrite::Build(text.str(), module, error)) {
        std::fprintf(stderr, "modwrite: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(module.data()), std::streamsize(module.size()));
    if (!out) {
        std::fprintf(stderr, "modwrite: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
