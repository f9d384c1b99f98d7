// quillmarsh-console: the real Bridge behind a line protocol instead of a web
// view, for tests, benchmarks and debugging. One JSON object per line in, one
// per line out; see Console.hpp for the protocol.
#include <iostream>
#include <string>

#include "tools/console/Console.hpp"

int main(int argc, char** argv) {
    std::string editor;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--editor" && i + 1 < argc) {
            editor = argv[++i];
        } else {
            std::cerr << "usage: quillmarsh-console --editor DIR\n";
            return 2;
        }
    }
    if (editor.empty()) {
        std::cerr << "usage: quillmarsh-console --editor DIR\n";
        return 2;
    }
    return Console(editor, std::cin, std::cout).run();
}
