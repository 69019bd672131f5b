// Where console lines go. Lower layers that have a line to show write it
// through a sink their caller gives them; only the programs' entry points
// connect a sink to standard output (cli/standard_output.h).
#pragma once

#include <string>
#include <string_view>

namespace ob310 {

class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Writes `text` as it is; line ends are "\n".
    virtual void Write(std::string_view text) = 0;
    // Writes `text` and "\n" in one write.
    void WriteLine(std::string_view text);
};

// A sink that keeps what is written as text (tests, benchmarks, the fuzzer).
class ConsoleCapture : public OutputSink {
public:
    void Write(std::string_view text) override { text_.append(text); }
    const std::string& Text() const { return text_; }
    void Clear() { text_.clear(); }

private:
    std::string text_;
};

}  // namespace ob310
