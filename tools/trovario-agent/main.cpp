// trovario-agent: the background agent. Takes the editor's commands on its
// message port until SIGTERM, SIGINT or the 'Quit' command ends it.

#include "AutoCaptureClasses/DefaultOutputMemory.h"
#include "agent/AppController.h"
#include "agent/InterruptedCaptureWatcher.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "platform/ServiceNames.h"
#include "platform/TerminationSignals.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr char kUsage[] =
    "usage: trovario-agent [--foreground] [--verbose]\n"
    "\n"
    "The Trovario capture agent. It runs in the background and takes its\n"
    "commands from trovarioctl (or the editor) on its message port\n"
    "$XDG_RUNTIME_DIR/org.trovario.TrovarioAgent.\n"
    "\n"
    "  --foreground  also write the agent's warnings and errors to standard error\n"
    "  --verbose     with --foreground, also its diagnostic lines\n"
    "  --help        show this text\n"
    "\n"
    "Whatever the options, every line goes to the system log, and a failure\n"
    "to start is written to standard error.\n"
    "\n"
    "It ends on SIGTERM, SIGINT or `trovarioctl quit` (when idle).\n";

void reportPortFailure(const TROVLocalMessagePort& port) {
    if (port.nameTaken()) {
        platform::Log::error(
            "another trovario-agent is already running (%s).\n"
            "Use `trovarioctl status` to talk to it, or `trovarioctl quit` to end it first.\n",
            port.failureReason().c_str());
    } else {
        platform::Log::error("cannot open the message port %s: %s\n", platform::kAgentServiceName,
                             port.failureReason().c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    platform::Log::Options options;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--foreground") || !strcmp(argv[i], "-f")) {
            options.mForeground = true;
        } else if (!strcmp(argv[i], "--verbose") || !strcmp(argv[i], "-v")) {
            options.mVerbose = true;
        } else if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            fputs(kUsage, stdout);
            return 0;
        } else {
            fprintf(stderr, "trovario-agent: unknown option %s\n\n%s", argv[i], kUsage);
            return 2;
        }
    }
    // Until it takes commands, whoever started the agent also sees why it could not.
    platform::Log::open(platform::kLogIdent,
                        {.mForeground = true, .mVerbose = options.mForeground && options.mVerbose});
    // Before anything else, so that a signal during start-up also ends cleanly.
    platform::handleTerminationSignals([](int signal) {
        platform::Log::info("%s received; ending", strsignal(signal));
        platform::MainLoop::shared().quit();
    });
    platform::UserDefaults::standard().addSuiteNamed(platform::Workspace::editorIdentifier());

    std::shared_ptr<AppController> controller = AppController::init();
    if (!controller->messagePort()->runLoopSource()) {
        reportPortFailure(*controller->messagePort());
        return 1;
    }
    // Only the agent that owns the name may give back an output that an
    // earlier agent or recorder left switched to the capture device. Watching
    // first, so that a recorder that dies meanwhile is not missed.
    auto watcher = InterruptedCaptureWatcher::start();
    if (!watcher)
        platform::Log::warning("the default output will come back only at the next start after a capture is "
                               "killed: %s\n", watcher.message().c_str());
    DefaultOutputMemory::restoreAfterInterruptedCapture();
    platform::Log::open(platform::kLogIdent, options);
    platform::Log::info("ready for commands");
    platform::MainLoop::shared().run();
    controller.reset();  // gives the port's name up
    return 0;
}
