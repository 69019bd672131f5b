#include "output/console.h"

namespace ob310 {

void OutputSink::WriteLine(std::string_view text) {
    std::string line(text);
    line.push_back('\n');
    Write(line);
}

}  // namespace ob310
