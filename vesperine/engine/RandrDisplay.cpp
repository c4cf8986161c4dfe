// The session's display backend: RandR CRTC gamma ramps over XCB. XCB rather
// than Xlib because Xlib's default error handlers end the process and are
// shared with everything else in it; XCB reports errors as values.

#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/DisplayBackends.h"
#include "engine/LoadedSymbol.h"
#include "engine/WarmTint.h"

namespace vesperine {
namespace {

// Until the server has answered the connection setup; an unreachable or
// silent server costs the caller no more than this.
constexpr auto kConnectPatience = std::chrono::milliseconds(500);
// After that, for the few round trips of one apply on a live server.
constexpr auto kApplyPatience = std::chrono::seconds(3);

struct XcbApi {
    decltype(&xcb_connect) connect = nullptr;
    decltype(&xcb_connection_has_error) hasError = nullptr;
    decltype(&xcb_disconnect) disconnect = nullptr;
    decltype(&xcb_get_setup) getSetup = nullptr;
    decltype(&xcb_setup_roots_iterator) rootsIterator = nullptr;
    decltype(&xcb_screen_next) screenNext = nullptr;
    decltype(&xcb_get_extension_data) extensionData = nullptr;
    decltype(&xcb_request_check) requestCheck = nullptr;
    xcb_extension_t* randrId = nullptr;
    decltype(&xcb_randr_query_version) queryVersion = nullptr;
    decltype(&xcb_randr_query_version_reply) queryVersionReply = nullptr;
    decltype(&xcb_randr_get_screen_resources_current) resources = nullptr;
    decltype(&xcb_randr_get_screen_resources_current_reply) resourcesReply = nullptr;
    decltype(&xcb_randr_get_screen_resources_current_crtcs) crtcs = nullptr;
    decltype(&xcb_randr_get_screen_resources_current_crtcs_length) crtcsLength = nullptr;
    decltype(&xcb_randr_get_crtc_gamma_size) gammaSize = nullptr;
    decltype(&xcb_randr_get_crtc_gamma_size_reply) gammaSizeReply = nullptr;
    decltype(&xcb_randr_set_crtc_gamma_checked) setGamma = nullptr;
};

// Loaded on the first apply with a display set; null when the libraries are
// missing.
const XcbApi* xcbApi() {
    static const XcbApi* const api = []() -> const XcbApi* {
        void* core = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
        void* randr = core ? dlopen("libxcb-randr.so.0", RTLD_NOW | RTLD_LOCAL) : nullptr;
        if (randr == nullptr) {
            return nullptr;
        }
        static XcbApi x;
        const bool complete =
            bindSymbol(core, "xcb_connect", x.connect) &&
            bindSymbol(core, "xcb_connection_has_error", x.hasError) &&
            bindSymbol(core, "xcb_disconnect", x.disconnect) &&
            bindSymbol(core, "xcb_get_setup", x.getSetup) &&
            bindSymbol(core, "xcb_setup_roots_iterator", x.rootsIterator) &&
            bindSymbol(core, "xcb_screen_next", x.screenNext) &&
            bindSymbol(core, "xcb_get_extension_data", x.extensionData) &&
            bindSymbol(core, "xcb_request_check", x.requestCheck) &&
            bindSymbol(randr, "xcb_randr_id", x.randrId) &&
            bindSymbol(randr, "xcb_randr_query_version", x.queryVersion) &&
            bindSymbol(randr, "xcb_randr_query_version_reply", x.queryVersionReply) &&
            bindSymbol(randr, "xcb_randr_get_screen_resources_current", x.resources) &&
            bindSymbol(randr, "xcb_randr_get_screen_resources_current_reply", x.resourcesReply) &&
            bindSymbol(randr, "xcb_randr_get_screen_resources_current_crtcs", x.crtcs) &&
            bindSymbol(randr, "xcb_randr_get_screen_resources_current_crtcs_length",
                       x.crtcsLength) &&
            bindSymbol(randr, "xcb_randr_get_crtc_gamma_size", x.gammaSize) &&
            bindSymbol(randr, "xcb_randr_get_crtc_gamma_size_reply", x.gammaSizeReply) &&
            bindSymbol(randr, "xcb_randr_set_crtc_gamma_checked", x.setGamma);
        return complete ? &x : nullptr;
    }();
    return api;
}

template <typename Reply>
using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
Owned<Reply> own(Reply* reply) {
    return Owned<Reply>(reply, &std::free);
}

// One apply on the server named by DISPLAY: ramps from identity on every CRTC
// of every screen, the CRTCs listed afresh. `connected` is called once the
// server has answered. Returns why it failed, or an empty text.
template <typename OnConnected>
std::string applyToServer(const XcbApi& x, bool enabled, double strength, OnConnected connected) {
    xcb_connection_t* c = x.connect(nullptr, nullptr);
    const auto disconnect =
        std::unique_ptr<xcb_connection_t, decltype(x.disconnect)>(c, x.disconnect);
    if (x.hasError(c) != 0) {
        return "cannot connect to the X server";
    }
    connected();
    const xcb_query_extension_reply_t* extension = x.extensionData(c, x.randrId);
    if (extension == nullptr || extension->present == 0) {
        return "the X server has no RandR extension";
    }
    const auto version = own(x.queryVersionReply(c, x.queryVersion(c, 1, 3), nullptr));
    if (!version || (version->major_version == 1 && version->minor_version < 3)) {
        return "the X server's RandR is older than 1.3";  // per-CRTC resources need it
    }

    std::vector<xcb_randr_get_screen_resources_current_cookie_t> resourceCookies;
    for (auto it = x.rootsIterator(x.getSetup(c)); it.rem > 0; x.screenNext(&it)) {
        resourceCookies.push_back(x.resources(c, it.data->root));
    }
    std::vector<xcb_randr_crtc_t> crtcs;
    for (const auto cookie : resourceCookies) {
        const auto reply = own(x.resourcesReply(c, cookie, nullptr));
        if (reply) {
            const xcb_randr_crtc_t* list = x.crtcs(reply.get());
            crtcs.insert(crtcs.end(), list, list + x.crtcsLength(reply.get()));
        }
    }

    std::vector<xcb_randr_get_crtc_gamma_size_cookie_t> sizeCookies;
    for (const auto crtc : crtcs) {
        sizeCookies.push_back(x.gammaSize(c, crtc));
    }
    std::map<std::uint16_t, WarmTint::GammaRamp> ramps;  // one per ramp size
    std::vector<xcb_void_cookie_t> setCookies;
    for (std::size_t i = 0; i < crtcs.size(); ++i) {
        const auto reply = own(x.gammaSizeReply(c, sizeCookies[i], nullptr));
        if (!reply || reply->size == 0) {
            continue;
        }
        auto found = ramps.find(reply->size);
        if (found == ramps.end()) {
            found =
                ramps.emplace(reply->size, WarmTint::ramp(reply->size, enabled, strength)).first;
        }
        const WarmTint::GammaRamp& ramp = found->second;
        setCookies.push_back(x.setGamma(c, crtcs[i], reply->size, ramp.red.data(),
                                        ramp.green.data(), ramp.blue.data()));
    }
    for (const auto cookie : setCookies) {
        std::free(x.requestCheck(c, cookie));  // a CRTC gone meanwhile: nothing to do
    }
    return {};
}

// libxcb writes a refusing server's reason straight to descriptor 2. The
// worker takes a descriptor table of its own with /dev/null on 0, 1 and 2, and
// drops its copies of the process's descriptors so that it keeps none open.
void silenceThisThread() {
    if (unshare(CLONE_FILES) != 0) {
        return;
    }
    if (close_range(3, ~0U, 0) != 0) {
        for (int fd = 3; fd < 1024; ++fd) {
            close(fd);
        }
    }
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        for (const int standard : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
            dup2(null, standard);
        }
        close(null);
    }
}

// Applies run on a worker thread so that the caller can stop waiting for a
// server that does not answer. The worker always takes the latest request,
// so once a stuck server recovers it shows the current state.
struct ApplyQueue {
    struct Request {
        bool enabled = false;
        double strength = 0.0;
    };

    std::mutex mutex;
    std::condition_variable changed;
    std::optional<Request> pending;
    std::uint64_t posted = 0;     // requests made
    std::uint64_t connected = 0;  // latest request whose server answered
    std::uint64_t finished = 0;   // latest request completed
    std::string failure;          // of the latest request completed; empty when it reached
    bool stuck = false;           // a caller gave up on the running apply
    bool stopping = false;

    void work() {
        silenceThisThread();
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return pending.has_value() || stopping; });
            if (stopping) {
                return;
            }
            const Request request = *pending;
            pending.reset();
            const std::uint64_t generation = posted;
            lock.unlock();
            std::string result = "cannot load the XCB libraries";
            if (const XcbApi* x = xcbApi()) {
                result = applyToServer(*x, request.enabled, request.strength, [&] {
                    const std::lock_guard guard(mutex);
                    connected = generation;
                    changed.notify_all();
                });
            }
            lock.lock();
            finished = generation;
            failure = std::move(result);
            stuck = false;
            changed.notify_all();
        }
    }
};

class RandrDisplay final : public DisplayBackend {
  public:
    ~RandrDisplay() override {
        if (queue_) {
            const std::lock_guard guard(queue_->mutex);
            queue_->stopping = true;
            queue_->changed.notify_all();
        }
    }

    std::string_view name() const override { return "x11-randr"; }

    DisplayOutcome apply(bool enabled, double strength) override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || display[0] == '\0') {
            return DisplayOutcome::noDisplay();
        }
        if (!queue_) {
            auto queue = std::make_shared<ApplyQueue>();
            try {
                // Detached and holding the queue: a worker blocked on a dead
                // server must not hold up the end of the process.
                std::thread([queue] { queue->work(); }).detach();
            } catch (const std::system_error&) {
                return DisplayOutcome::failed("no thread to reach the X server");
            }
            queue_ = std::move(queue);
        }
        ApplyQueue& q = *queue_;
        std::unique_lock lock(q.mutex);
        q.pending = ApplyQueue::Request{enabled, strength};
        const std::uint64_t generation = ++q.posted;
        q.changed.notify_all();
        if (q.stuck) {
            // The worker will get to it if the server ever answers.
            return DisplayOutcome::failed("the X server does not answer");
        }
        const auto start = std::chrono::steady_clock::now();
        q.changed.wait_until(lock, start + kConnectPatience,
                             [&] { return q.finished >= generation || q.connected >= generation; });
        if (q.finished < generation && q.connected >= generation) {
            q.changed.wait_until(lock, start + kConnectPatience + kApplyPatience,
                                 [&] { return q.finished >= generation; });
        }
        if (q.finished < generation) {
            q.stuck = true;
            return DisplayOutcome::failed("the X server does not answer");
        }
        if (!q.failure.empty()) {
            return DisplayOutcome::failed(q.failure);
        }
        return DisplayOutcome::reachedScreen();
    }

  private:
    std::shared_ptr<ApplyQueue> queue_;
};

}  // namespace

std::unique_ptr<DisplayBackend> makeRandrDisplay() {
    return std::make_unique<RandrDisplay>();
}

}  // namespace vesperine
