// Thin helpers over POSIX sockets (Windows Sockets on Windows): IPv4 socket addresses that carry
// the host name they were resolved from, socket options that chain, binding with discovery of the
// bound port, and send and receive calls that report a would-block condition (EWOULDBLOCK/EAGAIN)
// as 0 bytes instead of an error.
//
// A socket is a descriptor (on Windows a SOCKET) in an int; a negative value
// means "no socket". Creating, connecting and listening are left to the
// caller; on Windows, call socketStartup() before creating one (every helper
// here starts Windows Sockets itself when it needs them).
//
// Chaining: the option setters and bindSocket take the socket by value and
// return the socket to keep. A negative input comes back unchanged without a
// system call; on success the same socket comes back; when the system call
// fails the socket is closed and the result is -1. So
//   int s = setNonBlocking(setReuseAddress(socket(AF_INET, SOCK_DGRAM, 0)));
// either holds a ready socket or is -1 with no descriptor left open.
//
// Nothing here keeps state; each socket and each SocketAddress belongs to one
// thread at a time.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "foundation/counted_string.h"

namespace cdt {

inline constexpr std::size_t kSocketAddressSize = 64;

struct SocketAddress {
  // The host name the address belongs to, when one is known; empty otherwise.
  CountedString name;
  // An IPv4 sockaddr_in at its start (family, port in network byte order, the
  // 4-byte address, 8 zero bytes), the rest zero. Receive-from and local
  // address queries may fill all 64 bytes.
  alignas(8) unsigned char address[kSocketAddressSize] = {};
};

// The local computer's host name (see localComputerName).
[[nodiscard]] CountedString localHostName();

// Fills `out` with an IPv4 address and `port`; `out.name` is cleared first.
// Without a host text (nullptr or "") the address is the any-address. A
// numeric IPv4 text as inet_addr reads it (dotted decimal, also short, octal
// and hexadecimal forms), other than 0.0.0.0 and 255.255.255.255, is used as
// it is, without a name; anything else is looked up by name, and on success
// `out.name` becomes the host's official name. False when the lookup finds no IPv4 address
// (`out` then holds the family and port with a zero address).
[[nodiscard]] bool resolveAddress(const char* host, uint16_t port, SocketAddress& out);

// Looks up the host of the address's 4 IPv4 bytes. Found: `address.name`
// becomes the host name and a copy is returned. Not found: `address.name` is
// cleared and the empty string is returned. May block on the name service.
CountedString reverseLookup(SocketAddress& address);
// reverseLookup on a copy; `address` is not changed.
[[nodiscard]] CountedString reverseLookupCopy(const SocketAddress& address);

// True when the 4-byte IPv4 addresses are equal (ports and names ignored).
[[nodiscard]] bool sameHost(const SocketAddress& a, const SocketAddress& b);

// The IPv4 address in dotted-decimal form.
[[nodiscard]] CountedString addressText(const SocketAddress& address);
// `address.name` when it is not empty, else addressText.
[[nodiscard]] CountedString addressName(const SocketAddress& address);
// The port in host byte order.
[[nodiscard]] uint16_t addressPort(const SocketAddress& address);

// The socket's own address (getsockname) into `out.address`; `out.name` is
// left as it is. False when the query fails.
[[nodiscard]] bool localAddress(int socket, SocketAddress& out);

// Option setters; see "Chaining" above.
[[nodiscard]] int setReuseAddress(int socket);  // SO_REUSEADDR = 1
[[nodiscard]] int setBroadcast(int socket);     // SO_BROADCAST = 1
// SO_LINGER with l_onoff = on and l_linger = seconds.
[[nodiscard]] int setLinger(int socket, uint8_t on, uint16_t seconds);
[[nodiscard]] int setNonBlocking(int socket);  // FIONBIO = 1

// Binds the socket to the any-address and `port` (0: the system picks one).
// When `boundPort` is not nullptr it receives the port actually bound, or
// `port` when that cannot be queried (also after a failed bind). Chains like
// the option setters: a failed bind closes the socket and gives -1.
[[nodiscard]] int bindSocket(int socket, uint16_t port, uint16_t* boundPort);

// Sends and receives. Each returns the byte count, 0 on would-block, -1 on
// any other error (errno, or WSAGetLastError() on Windows, tells which). receiveStream also returns
// 0 when the peer has closed the connection. Stream sends never raise SIGPIPE; a closed peer gives
// -1 (EPIPE).
[[nodiscard]] ssize_t sendStream(int socket, const void* bytes, std::size_t length);
[[nodiscard]] ssize_t receiveStream(int socket, void* buffer, std::size_t size);
// Sends to the sockaddr_in in the first 16 bytes of `to.address`.
[[nodiscard]] ssize_t sendDatagram(int socket, const void* bytes, std::size_t length,
                                   const SocketAddress& to);
// Clears `from.name`, then receives one datagram into `buffer` (cut to `size`
// bytes) with the sender's address into `from.address`.
[[nodiscard]] ssize_t receiveDatagram(int socket, void* buffer, std::size_t size,
                                      SocketAddress& from);

// Closes a socket that is not negative and stores -1 into the variable;
// returns close()'s result, or 0 when there was no socket.
int closeSocket(int& socket);

// Starts the socket library (WSAStartup once on Windows; nothing on POSIX).
// 0 on success.
int socketStartup();
// Ends it (WSACleanup on Windows; nothing and 0 on POSIX).
int socketCleanup();

// Unbuffered read and write on a file descriptor (read/write); -1 on error.
[[nodiscard]] ssize_t readDescriptor(int descriptor, void* buffer, std::size_t size);
[[nodiscard]] ssize_t writeDescriptor(int descriptor, const void* bytes, std::size_t size);

}  // namespace cdt
