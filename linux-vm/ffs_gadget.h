// The virtual OB310 as a real USB device: a configfs gadget with one
// FunctionFS function per HID interface, bound to a USB device controller.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "linux-vm/gadget_config_port.h"
#include "linux-vm/gadget_control.h"
#include "linux-vm/gadget_options.h"

namespace ob310 {

class FfsGadget {
public:
    FfsGadget(const GadgetOptions& options, ConfigPort& port);
    ~FfsGadget();
    FfsGadget(const FfsGadget&) = delete;
    FfsGadget& operator=(const FfsGadget&) = delete;

    // Builds the gadget, writes every function's descriptors, starts serving
    // the endpoints and binds the controller. False (after undoing what was
    // done) when any step fails; the reason has been printed.
    bool Start();

    // Answers ep0 events until `signalFd` (a signalfd for the signals the
    // caller has blocked) becomes readable, or ep0 fails.
    void ServeControl(int signalFd);

    // Unbinds the controller and removes everything Start made. Idempotent.
    void Stop();

private:
    struct Function {
        const GadgetInterface* iface = nullptr;
        std::string instance;
        std::unique_ptr<HidControlState> control;
        std::string functionDir;
        std::string linkPath;
        std::string mountDir;
        bool mounted = false;
        bool linked = false;
        int ep0 = -1;
        int epIn = -1;
        int epOut = -1;
        std::thread outReader;
    };

    bool BuildGadgetTree();
    bool AddFunction(Function& function);
    bool OpenEndpoints(Function& function);
    void HandleEvent(Function& function);
    void HandleSetup(Function& function, const ControlSetup& setup);
    void ReadOutReports(Function& function);
    void WriteReplies();
    void QueueReply(Function& function, const Bytes& reply);
    void LeaveIfDue();
    void StopThreads();
    std::string Udc() const;

    const GadgetOptions options_;
    ConfigPort& port_;
    std::string gadgetDir_;
    std::vector<Function> functions_;
    bool gadgetMade_ = false;
    bool bound_ = false;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> leaving_{false};
    std::thread replyWriter_;
    std::mutex replyMutex_;
    std::condition_variable replyReady_;
    std::deque<Bytes> replies_;
    Function* configFunction_ = nullptr;
};

}  // namespace ob310
