// The listening socket's options and the reason a port cannot be bound.
#pragma once

// Socket options for the server's listening socket: SO_REUSEADDR only (a port in TIME_WAIT can
// be bound again), never SO_REUSEPORT, so a second server on a port in use fails to bind.
void ExclusiveSocketOptions(int sock);

// True when another socket holds 127.0.0.1:`port`.
bool PortInUse(int port);
