#include "output/console.h"

void OutputSink::WriteLine(std::string_view text) {
    std::string line(text);
    line.push_back('\n');
    Write(line);
}
