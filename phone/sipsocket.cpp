#include "phone/sipsocket.h"

#include <cstdlib>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

bool is_udp_socket_on(int fd, int port)
{
    int type = 0;
    socklen_t typeSize = sizeof type;
    if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeSize) != 0 || type != SOCK_DGRAM)
        return false;
    sockaddr_storage local {};
    socklen_t size = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size) != 0)
        return false;
    if (local.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(local).sin_port) == port;
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(local).sin6_port) == port;
    return false;
}

int find_udp_socket(int port)
{
    if (port <= 0)
        return -1;
    DIR *fds = ::opendir("/proc/self/fd");
    if (!fds)
        return -1;
    int found = -1;
    while (const dirent *entry = ::readdir(fds)) {
        char *end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end || fd == ::dirfd(fds))
            continue;
        if (is_udp_socket_on(int(fd), port)) {
            found = int(fd);
            break;
        }
    }
    ::closedir(fds);
    return found;
}
