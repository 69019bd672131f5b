// ob310_usb_probe: looks at the OB310 through hidraw alone, without the tool.
//   --list        one line per hidraw node of the device: node, USB interface
//                 string and bcdDevice, then the count
//   --time N      N information queries on the configuration interface, timed
//   --run N CMD [ARG...]
//                 runs CMD N times, one after the other, and prints the
//                 average run time in microseconds; fails when a run fails
// Used in the virtual machine test to check what the kernel presents and to
// measure one report exchange through the USB stack, the tool and a peer.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Node {
    std::string name;       // hidrawN
    std::string interface;  // the USB interface's string
    std::string bcdDevice;
};

std::string ReadLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Nodes of the OB310 (USB, 1209:B310), sorted by hidraw number.
std::vector<Node> FindNodes() {
    std::vector<Node> nodes;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/hidraw", ec)) {
        const fs::path device = entry.path() / "device";
        std::ifstream uevent(device / "uevent");
        bool match = false;
        for (std::string line; std::getline(uevent, line);) {
            if (line == "HID_ID=0003:00001209:0000B310") {
                match = true;
            }
        }
        if (!match) {
            continue;
        }
        nodes.push_back({entry.path().filename().string(), ReadLine(device / ".." / "interface"),
                         ReadLine(device / ".." / ".." / "bcdDevice")});
    }
    std::sort(nodes.begin(), nodes.end(), [](const Node& a, const Node& b) {
        return std::stoi(a.name.substr(6)) < std::stoi(b.name.substr(6));
    });
    return nodes;
}

int List() {
    const auto nodes = FindNodes();
    for (const Node& node : nodes) {
        std::printf("%s interface=%s bcdDevice=%s\n", node.name.c_str(), node.interface.c_str(),
                    node.bcdDevice.c_str());
    }
    std::printf("nodes=%zu\n", nodes.size());
    return 0;
}

int Time(int count) {
    const auto nodes = FindNodes();
    const auto config = std::find_if(
        nodes.begin(), nodes.end(), [](const Node& n) { return n.interface == "ConfigInterface"; });
    if (config == nodes.end()) {
        std::printf("no ConfigInterface node\n");
        return 1;
    }
    const int fd = ::open(("/dev/" + config->name).c_str(), O_RDWR);
    if (fd < 0) {
        std::printf("cannot open /dev/%s\n", config->name.c_str());
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    std::vector<double> micros;
    std::uint8_t request[65] = {};  // report ID 0, the all-zero information query
    std::uint8_t reply[65];
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (::write(fd, request, sizeof request) != static_cast<ssize_t>(sizeof request)) {
            std::printf("write failed at exchange %d\n", i + 1);
            return 1;
        }
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 5000) != 1) {
            std::printf("no reply at exchange %d\n", i + 1);
            return 1;
        }
        const ssize_t got = ::read(fd, reply, sizeof reply);
        const auto end = Clock::now();
        if (got != 64) {
            std::printf("reply of %zd bytes at exchange %d\n", got, i + 1);
            return 1;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    ::close(fd);
    std::sort(micros.begin(), micros.end());
    double sum = 0;
    for (double m : micros) {
        sum += m;
    }
    std::printf(
        "round trip over %d exchanges: average %.0f us, median %.0f us, min %.0f us, "
        "max %.0f us\n",
        count, sum / count, micros[micros.size() / 2], micros.front(), micros.back());
    return 0;
}

int Run(int count, char** command) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        const pid_t child = ::fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::execvp(command[0], command);
            ::_exit(127);
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            std::printf("run %d of %s failed\n", i + 1, command[0]);
            return 1;
        }
    }
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    std::printf("%.0f\n", took.count() / count);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--list") {
        return List();
    }
    if (mode == "--time" && argc > 2 && std::atoi(argv[2]) > 0) {
        return Time(std::atoi(argv[2]));
    }
    if (mode == "--run" && argc > 3 && std::atoi(argv[2]) > 0) {
        return Run(std::atoi(argv[2]), argv + 3);
    }
    std::printf("Usage: ob310_usb_probe --list | --time N | --run N CMD [ARG...]\n");
    return 2;
}
