#include "linux-vm/gadget_options.h"

#include <charconv>
#include <cstddef>

#include "simulator/ob310_model.h"

namespace ob310 {

const char* const GadgetUsage =
    "Usage: ob310_gadget [options]\n"
    "Presents a virtual OB310 to this machine's USB host side through\n"
    "configfs and FunctionFS (a UDC such as dummy_hcd is needed).\n"
    "  --version HEX         bcdDevice and the device's version number (1026)\n"
    "  --serial HEX          serial number (up to 8 hex digits)\n"
    "  --pin HEX16           PIN the device holds (16 hex digits)\n"
    "  --silent-request N    never answer the N-th configuration request\n"
    "  --leave-at N          take the N-th configuration request in, then leave\n"
    "                        the bus without answering it (an unplug)\n"
    "  --udc NAME            controller to bind (default: the first by name)\n"
    "  --configfs DIR        configfs mount point (/sys/kernel/config)\n"
    "  --ffs-dir DIR         where the FunctionFS instances are mounted\n"
    "  --name NAME           gadget name under usb_gadget, also the prefix of its\n"
    "                        FunctionFS instances (ob310)\n"
    "  --verbose             log USB events\n";

namespace {

template <typename T>
bool ParseNumber(const std::string& text, int base, std::size_t maxDigits, T& out) {
    if (text.empty() || text.size() > maxDigits) {
        return false;
    }
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc{} || end != text.data() + text.size()) {
        return false;
    }
    out = value;
    return true;
}

bool ParsePin(const std::string& text, Pin& pin) {
    if (text.size() != 2 * pin.size()) {
        return false;
    }
    for (std::size_t i = 0; i < pin.size(); ++i) {
        if (!ParseNumber(text.substr(2 * i, 2), 16, 2, pin[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<GadgetOptions> ParseGadgetOptions(const std::vector<std::string>& args,
                                                std::string& error) {
    const Ob310State factory;
    GadgetOptions options;
    options.version = factory.versionNumber;
    options.serial = factory.serial;
    options.pin = factory.pin;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--help" || option == "-h") {
            options.help = true;
            continue;
        }
        if (option == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = option.rfind("--", 0) == 0 ? "missing value after " + option
                                               : "unknown option " + option;
            return std::nullopt;
        }
        const std::string& value = args[++i];
        bool ok = true;
        if (option == "--version") {
            ok = ParseNumber(value, 16, 4, options.version);
        } else if (option == "--serial") {
            ok = ParseNumber(value, 16, 8, options.serial);
        } else if (option == "--pin") {
            ok = ParsePin(value, options.pin);
        } else if (option == "--silent-request") {
            ok = ParseNumber(value, 10, 9, options.silentRequest) && options.silentRequest > 0;
        } else if (option == "--leave-at") {
            ok = ParseNumber(value, 10, 9, options.leaveAt) && options.leaveAt > 0;
        } else if (option == "--udc") {
            options.udc = value;
        } else if (option == "--configfs") {
            options.configfs = value;
        } else if (option == "--ffs-dir") {
            options.ffsDir = value;
        } else if (option == "--name") {
            // FunctionFS takes instance names of up to 40 bytes.
            ok = !value.empty() && value.size() <= 16 &&
                 value.find_first_of("/. ") == std::string::npos;
            if (ok) {
                options.gadgetName = value;
            }
        } else {
            error = "unknown option " + option;
            return std::nullopt;
        }
        if (!ok) {
            error = "bad value for " + option + ": " + value;
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace ob310
