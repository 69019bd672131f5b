// ob310_gadget: a virtual OB310 on this machine's USB host side, answering
// through the same device model as the simulator. Runs until SIGINT/SIGTERM,
// then removes the device again.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "linux-vm/ffs_gadget.h"
#include "linux-vm/gadget_config_port.h"
#include "linux-vm/gadget_options.h"
#include "simulator/ob310_model.h"

using namespace ob310;

int main(int argc, char** argv) {
    std::string error;
    const auto options = ParseGadgetOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::printf("ob310_gadget: %s\n%s", error.c_str(), GadgetUsage);
        return 2;
    }
    if (options->help) {
        std::printf("%s", GadgetUsage);
        return 0;
    }

    // Block the stop signals before any thread starts, so that only the
    // signalfd sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::printf("ob310_gadget: signalfd failed\n");
        return 1;
    }

    Ob310Model model;
    model.state.versionNumber = options->version;
    model.state.serial = options->serial;
    model.state.pin = options->pin;
    ConfigPort port(model, options->silentRequest, options->leaveAt);
    FfsGadget gadget(*options, port);
    if (!gadget.Start()) {
        return 1;
    }
    gadget.ServeControl(signalFd);
    gadget.Stop();
    std::printf("ob310_gadget: stopped after %u configuration requests\n", port.RequestsSeen());
    ::close(signalFd);
    return 0;
}
