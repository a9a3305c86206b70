// Finding the SIP library's UDP socket, so that the engine can sleep until a SIP message
// arrives instead of looking for one on a timer. The library itself no longer hands the
// descriptor out; the socket is the process's one UDP socket bound to the SIP port in use.
#pragma once

// True when fd is a UDP socket whose local port is port.
bool is_udp_socket_on(int fd, int port);

// The process's UDP socket bound to port, or -1 when there is none (or port is not above 0).
int find_udp_socket(int port);
