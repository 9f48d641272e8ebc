#pragma once

#include <filesystem>
#include <string>

// Local (Unix domain) sockets by path, as the virtual keyboard uses them.
namespace QXLocalSocket {

// A non-blocking socket of the given type (SOCK_SEQPACKET, SOCK_STREAM) listening at
// path, readable and writable by its owner only; -1 with a message on failure.
int listen(const std::filesystem::path& path, int type, std::string& error);

// A blocking socket connected to path; -1 with a message on failure.
int connectTo(const std::filesystem::path& path, int type, std::string& error);

} // namespace QXLocalSocket
