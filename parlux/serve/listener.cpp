#include "serve/listener.h"

#include <fcntl.h>
#include <sys/socket.h>

namespace parlux::serve {
namespace {

constexpr int kBacklog = 128;

}  // namespace

int BindListener(httplib::Server& server, const std::string& host, int port, int threads) {
    int listening = -1;
    server.set_socket_options([&listening](socket_t sock) {
        int on = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        fcntl(sock, F_SETFD, FD_CLOEXEC);
        listening = sock;
    });
    server.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
    int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
    if (bound < 0 || listening < 0) return -1;
    listen(listening, kBacklog);  // more than the library's few
    return bound;
}

}  // namespace parlux::serve
