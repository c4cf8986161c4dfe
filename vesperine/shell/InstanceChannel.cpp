#include "shell/InstanceChannel.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace vesperine {
namespace {

constexpr char kOpenPanel[] = "open-panel\n";
constexpr char kDone[] = "ok\n";
constexpr int kAnswerMilliseconds = 2000;

bool toAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Reads up to `size` bytes, waiting at most kAnswerMilliseconds for the first.
ssize_t readWithin(int fd, char* buffer, std::size_t size) {
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, kAnswerMilliseconds) <= 0) {
        return -1;
    }
    return ::read(fd, buffer, size);
}

}  // namespace

std::string InstanceChannel::socketPath(const std::string& lockPath) {
    const auto slash = lockPath.rfind('/');
    return (slash == std::string::npos ? std::string() : lockPath.substr(0, slash + 1)) +
           "vesperine.socket";
}

bool InstanceChannel::askToOpenPanel(const std::string& path) {
    sockaddr_un address{};
    if (!toAddress(path, address)) {
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    char answer[8] = {};
    const bool done =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::write(fd, kOpenPanel, sizeof kOpenPanel - 1) ==
            static_cast<ssize_t>(sizeof kOpenPanel - 1) &&
        readWithin(fd, answer, sizeof answer - 1) > 0 && std::strcmp(answer, kDone) == 0;
    ::close(fd);
    return done;
}

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent) {}

InstanceChannel::~InstanceChannel() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
}

bool InstanceChannel::listen(const std::string& path) {
    sockaddr_un address{};
    if (fd_ >= 0 || !toAddress(path, address)) {
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    path_ = path;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &InstanceChannel::acceptOne);
    return true;
}

void InstanceChannel::acceptOne() {
    const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
        return;
    }
    // Only the user's own processes may open the panel.
    ucred peer{};
    socklen_t length = sizeof peer;
    char request[32] = {};
    if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
        peer.uid == ::getuid() && readWithin(client, request, sizeof request - 1) > 0 &&
        std::strcmp(request, kOpenPanel) == 0) {
        (void)::write(client, kDone, sizeof kDone - 1);
        Q_EMIT openPanelRequested();
    }
    ::close(client);
}

}  // namespace vesperine
