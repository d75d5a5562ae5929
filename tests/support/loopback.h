// TCP on 127.0.0.1 for the tests and benchmarks that drive the programs' network sides.
#pragma once

// A TCP port of 127.0.0.1 that nothing uses now, outside the kernel's range of ports for
// outgoing connections (20000..32767, at random), so that no connection takes it meanwhile.
int FreePort();

// A socket listening on port of 127.0.0.1 (0: a free one), its port in bound. Returns -1
// when the port cannot be bound.
int ListenLoopback(int port, int& bound);

// A blocking connection to port of 127.0.0.1 without delay (TCP_NODELAY); receive_buffer,
// when above 0, is the receive buffer asked for before connecting. Returns -1 when refused.
int ConnectLoopback(int port, int receive_buffer = 0);
