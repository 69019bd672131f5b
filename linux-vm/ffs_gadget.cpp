#include "linux-vm/ffs_gadget.h"

#include <dirent.h>
#include <endian.h>
#include <fcntl.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace ob310 {

namespace {

void Log(const std::string& text) {
    std::printf("ob310_gadget: %s\n", text.c_str());
    std::fflush(stdout);
}

bool Fail(const std::string& what) {
    Log(what + ": " + std::strerror(errno));
    return false;
}

bool WriteText(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0) {
        return Fail("cannot open " + path);
    }
    const ssize_t written = ::write(fd, text.data(), text.size());
    const bool ok = written == static_cast<ssize_t>(text.size());
    if (!ok) {
        Fail("cannot write '" + text + "' to " + path);
    }
    ::close(fd);
    return ok;
}

bool MakeDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
        return true;
    }
    return Fail("cannot create " + path);
}

bool WriteAll(int fd, const Bytes& bytes, const std::string& what) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written == static_cast<ssize_t>(bytes.size())) {
        return true;
    }
    return Fail("cannot write " + what);
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

// Blocking endpoint reads and writes are left with EINTR when the thread gets
// this signal; its handler does nothing else.
constexpr int WakeSignal = SIGUSR1;

void IgnoreWake(int) {}

void InstallWakeHandler() {
    struct sigaction action {};
    action.sa_handler = IgnoreWake;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the blocked call must return
    sigaction(WakeSignal, &action, nullptr);
}

void JoinWaking(std::thread& thread) {
    if (!thread.joinable()) {
        return;
    }
    // The thread may be just about to block again, so keep waking it until it
    // has seen the stop flag and left.
    const pthread_t handle = thread.native_handle();
    std::atomic<bool> joined{false};
    std::thread waker([&] {
        while (!joined.load()) {
            pthread_kill(handle, WakeSignal);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    thread.join();
    joined = true;
    waker.join();
}

}  // namespace

FfsGadget::FfsGadget(const GadgetOptions& options, ConfigPort& port)
    : options_(options), port_(port) {
    gadgetDir_ = options_.configfs + "/usb_gadget/" + options_.gadgetName;
    functions_.resize(GadgetInterfaces().size());
    for (std::size_t i = 0; i < functions_.size(); ++i) {
        Function& function = functions_[i];
        function.iface = &GadgetInterfaces()[i];
        function.control = std::make_unique<HidControlState>(function.iface->kind);
        // FunctionFS instance names are global: two gadgets need their own.
        function.instance = options_.gadgetName + "_" + function.iface->instance;
        function.functionDir = gadgetDir_ + "/functions/ffs." + function.instance;
        function.linkPath = gadgetDir_ + "/configs/c.1/ffs." + function.instance;
        function.mountDir = options_.ffsDir + "/" + function.instance;
        if (function.iface->kind == GadgetInterfaceKind::Config) {
            configFunction_ = &function;
        }
    }
}

FfsGadget::~FfsGadget() { Stop(); }

std::string FfsGadget::Udc() const {
    if (!options_.udc.empty()) {
        return options_.udc;
    }
    // The first by name: directory order says nothing (dummy_hcd num=2 gives
    // dummy_udc.0 and dummy_udc.1).
    std::string name;
    if (DIR* dir = ::opendir("/sys/class/udc")) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.' && (name.empty() || entry->d_name < name)) {
                name = entry->d_name;
            }
        }
        ::closedir(dir);
    }
    return name;
}

bool FfsGadget::BuildGadgetTree() {
    struct stat info {};
    if (::stat(gadgetDir_.c_str(), &info) == 0) {
        Log(gadgetDir_ + " already exists; is another instance running?");
        return false;
    }
    if (!MakeDir(gadgetDir_)) {
        return false;
    }
    gadgetMade_ = true;
    return WriteText(gadgetDir_ + "/idVendor", "0x" + Hex(DeviceVendorId, 4)) &&
           WriteText(gadgetDir_ + "/idProduct", "0x" + Hex(DeviceProductId, 4)) &&
           WriteText(gadgetDir_ + "/bcdDevice", "0x" + Hex(options_.version, 4)) &&
           WriteText(gadgetDir_ + "/bcdUSB", "0x0200") && MakeDir(gadgetDir_ + "/strings/0x409") &&
           WriteText(gadgetDir_ + "/strings/0x409/manufacturer", "Virtual") &&
           WriteText(gadgetDir_ + "/strings/0x409/product", "OB310") &&
           WriteText(gadgetDir_ + "/strings/0x409/serialnumber", Hex(options_.serial, 8)) &&
           MakeDir(gadgetDir_ + "/configs/c.1") &&
           WriteText(gadgetDir_ + "/configs/c.1/MaxPower", "100") &&
           MakeDir(gadgetDir_ + "/configs/c.1/strings/0x409") &&
           WriteText(gadgetDir_ + "/configs/c.1/strings/0x409/configuration", "OB310");
}

bool FfsGadget::AddFunction(Function& function) {
    const std::string& instance = function.instance;
    if (!MakeDir(function.functionDir) || !MakeDir(function.mountDir)) {
        return false;
    }
    // The mount source names the FunctionFS instance made by the mkdir above.
    if (::mount(instance.c_str(), function.mountDir.c_str(), "functionfs", 0, nullptr) != 0) {
        return Fail("cannot mount functionfs " + instance);
    }
    function.mounted = true;
    function.ep0 = ::open((function.mountDir + "/ep0").c_str(), O_RDWR);
    if (function.ep0 < 0) {
        return Fail("cannot open ep0 of " + instance);
    }
    const Bytes report = GadgetReportDescriptor(function.iface->kind);
    if (!WriteAll(function.ep0, FunctionFsDescriptors(report.size()),
                  "descriptors of " + instance) ||
        !WriteAll(function.ep0, FunctionFsStrings(function.iface->name),
                  "strings of " + instance)) {
        return false;
    }
    // Linking in interface order fixes the interface numbers.
    if (::symlink(function.functionDir.c_str(), function.linkPath.c_str()) != 0) {
        return Fail("cannot link " + instance + " into the configuration");
    }
    function.linked = true;
    return OpenEndpoints(function);
}

bool FfsGadget::OpenEndpoints(Function& function) {
    // ep1 and ep2 appear once descriptors and strings are written; they are
    // numbered in descriptor order: ep1 the interrupt IN, ep2 the OUT.
    function.epIn = ::open((function.mountDir + "/ep1").c_str(), O_RDWR);
    function.epOut = ::open((function.mountDir + "/ep2").c_str(), O_RDWR);
    if (function.epIn < 0 || function.epOut < 0) {
        return Fail("cannot open the endpoints of " + function.iface->instance);
    }
    return true;
}

bool FfsGadget::Start() {
    InstallWakeHandler();
    if (!BuildGadgetTree() || !MakeDir(options_.ffsDir)) {
        Stop();
        return false;
    }
    for (Function& function : functions_) {
        if (!AddFunction(function)) {
            Stop();
            return false;
        }
    }
    for (Function& function : functions_) {
        function.outReader = std::thread([this, &function] { ReadOutReports(function); });
    }
    replyWriter_ = std::thread([this] { WriteReplies(); });

    const std::string udc = Udc();
    if (udc.empty()) {
        Log("no USB device controller in /sys/class/udc (is dummy_hcd loaded?)");
        Stop();
        return false;
    }
    if (!WriteText(gadgetDir_ + "/UDC", udc)) {
        Stop();
        return false;
    }
    bound_ = true;
    Log("bound to " + udc + ", version " + Hex(options_.version, 4) + ", serial " +
        Hex(options_.serial, 8) +
        (options_.silentRequest ? ", silent at request " + std::to_string(options_.silentRequest)
                                : std::string()));
    return true;
}

void FfsGadget::ServeControl(int signalFd) {
    std::vector<pollfd> fds;
    for (const Function& function : functions_) {
        fds.push_back({function.ep0, POLLIN, 0});
    }
    fds.push_back({signalFd, POLLIN, 0});
    for (;;) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail("poll");
            return;
        }
        if (fds.back().revents != 0) {
            return;
        }
        for (std::size_t i = 0; i < functions_.size(); ++i) {
            if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                Log("ep0 of " + functions_[i].iface->instance + " failed");
                return;
            }
            if (fds[i].revents & POLLIN) {
                HandleEvent(functions_[i]);
            }
        }
    }
}

void FfsGadget::HandleEvent(Function& function) {
    usb_functionfs_event event{};
    const ssize_t got = ::read(function.ep0, &event, sizeof event);
    if (got != static_cast<ssize_t>(sizeof event)) {
        return;
    }
    static const char* const names[] = {"bind",  "unbind",  "enable", "disable",
                                        "setup", "suspend", "resume"};
    if (event.type == FUNCTIONFS_SETUP) {
        ControlSetup setup;
        setup.requestType = event.u.setup.bRequestType;
        setup.request = event.u.setup.bRequest;
        setup.value = le16toh(event.u.setup.wValue);
        setup.index = le16toh(event.u.setup.wIndex);
        setup.length = le16toh(event.u.setup.wLength);
        HandleSetup(function, setup);
    } else if (options_.verbose && event.type < std::size(names)) {
        Log(function.iface->instance + ": " + names[event.type]);
    }
}

void FfsGadget::HandleSetup(Function& function, const ControlSetup& setup) {
    const ControlAnswer answer = function.control->Answer(setup);
    if (options_.verbose) {
        char text[96];
        std::snprintf(text, sizeof text, "%s: setup %02x %02x %04x %04x %04x -> %d",
                      function.iface->instance.c_str(), setup.requestType, setup.request,
                      setup.value, setup.index, setup.length, static_cast<int>(answer.kind));
        Log(text);
    }
    const bool in = (setup.requestType & 0x80) != 0;
    switch (answer.kind) {
    case ControlAnswer::Kind::Stall:
        // FunctionFS stalls ep0 when the data stage goes the wrong way: a
        // read for an IN request, a write for an OUT one. It then fails with
        // EL2HLT, which is the expected outcome here.
        if (in) {
            [[maybe_unused]] const ssize_t ignored = ::read(function.ep0, nullptr, 0);
        } else {
            [[maybe_unused]] const ssize_t ignored = ::write(function.ep0, nullptr, 0);
        }
        break;
    case ControlAnswer::Kind::SendData: WriteAll(function.ep0, answer.data, "control data"); break;
    case ControlAnswer::Kind::Acknowledge: {
        [[maybe_unused]] const ssize_t ignored = ::read(function.ep0, nullptr, 0);
        break;
    }
    case ControlAnswer::Kind::ReceiveData: {
        Bytes data(answer.receiveLength);
        const ssize_t got = ::read(function.ep0, data.data(), data.size());
        if (got > 0 && answer.isOutputReport && &function == configFunction_) {
            if (auto reply = port_.Answer(data.data(), static_cast<std::size_t>(got))) {
                QueueReply(function, *reply);
            }
            LeaveIfDue();
        }
        break;
    }
    }
}

void FfsGadget::ReadOutReports(Function& function) {
    std::uint8_t buffer[GadgetReportBytes];
    while (!stopping_.load()) {
        const ssize_t got = ::read(function.epOut, buffer, sizeof buffer);
        if (got < 0) {
            // EINTR: woken to stop; ESHUTDOWN: the host side went away, and
            // the next read waits until the function is enabled again.
            if (errno != EINTR && errno != ESHUTDOWN) {
                if (options_.verbose) {
                    Fail(function.iface->instance + " OUT endpoint");
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            continue;
        }
        if (&function != configFunction_) {
            continue;  // the other interfaces take no requests
        }
        if (auto reply = port_.Answer(buffer, static_cast<std::size_t>(got))) {
            QueueReply(function, *reply);
        } else if (options_.verbose) {
            Log("request " + std::to_string(port_.RequestsSeen()) + " left unanswered");
        }
        LeaveIfDue();
    }
}

// The stop signals are blocked in every thread and read through the signalfd
// that ServeControl watches, so this ends the control loop, and Stop unbinds.
void FfsGadget::LeaveIfDue() {
    if (port_.Leaving() && !leaving_.exchange(true)) {
        Log("leaving the bus after request " + std::to_string(port_.RequestsSeen()));
        ::kill(::getpid(), SIGTERM);
    }
}

void FfsGadget::QueueReply(Function& function, const Bytes& reply) {
    function.control->SetLastInputReport(reply);
    {
        std::lock_guard lock(replyMutex_);
        replies_.push_back(reply);
    }
    replyReady_.notify_one();
}

void FfsGadget::WriteReplies() {
    while (!stopping_.load()) {
        Bytes reply;
        {
            std::unique_lock lock(replyMutex_);
            replyReady_.wait(lock, [this] { return stopping_.load() || !replies_.empty(); });
            if (stopping_.load()) {
                return;
            }
            reply = std::move(replies_.front());
            replies_.pop_front();
        }
        // Completes once the host has taken the report off the interrupt IN
        // endpoint; a short reply goes out as one short packet.
        while (!stopping_.load()) {
            if (::write(configFunction_->epIn, reply.data(), reply.size()) >= 0) {
                break;
            }
            if (errno != EINTR && errno != ESHUTDOWN) {
                Fail("config IN endpoint");
                break;
            }
        }
    }
}

void FfsGadget::StopThreads() {
    stopping_ = true;
    replyReady_.notify_all();
    JoinWaking(replyWriter_);
    for (Function& function : functions_) {
        JoinWaking(function.outReader);
    }
}

void FfsGadget::Stop() {
    if (bound_) {
        WriteText(gadgetDir_ + "/UDC", "\n");
        bound_ = false;
    }
    StopThreads();
    for (Function& function : functions_) {
        for (int* fd : {&function.epIn, &function.epOut, &function.ep0}) {
            if (*fd >= 0) {
                ::close(*fd);
            }
            *fd = -1;
        }
        if (function.linked && ::unlink(function.linkPath.c_str()) == 0) {
            function.linked = false;
        }
        if (function.mounted && ::umount(function.mountDir.c_str()) == 0) {
            function.mounted = false;
        }
        ::rmdir(function.mountDir.c_str());
        ::rmdir(function.functionDir.c_str());
    }
    if (gadgetMade_) {
        for (const char* dir :
             {"/configs/c.1/strings/0x409", "/configs/c.1", "/strings/0x409", ""}) {
            ::rmdir((gadgetDir_ + dir).c_str());
        }
        gadgetMade_ = false;
    }
    ::rmdir(options_.ffsDir.c_str());
}

}  // namespace ob310
